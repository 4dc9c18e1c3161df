#include "publish/Outbox.h"

#include <utility>

namespace calorix {

void TOutbox::Push(TOutMessage message) {
  if (FCapacity == 0)
    return;
  while (FQueue.size() >= FCapacity) {
    FQueue.pop_front();
    ++FDropped;
  }
  FQueue.push_back(std::move(message));
}

std::optional<TOutMessage> TOutbox::Pop() {
  if (FQueue.empty())
    return std::nullopt;
  TOutMessage m = std::move(FQueue.front());
  FQueue.pop_front();
  return m;
}

void TOutbox::Remember(const std::string& topic, const std::string& payload) {
  FRetained[topic] = payload;
}

std::vector<TOutMessage> TOutbox::Retained() const {
  std::vector<TOutMessage> out;
  out.reserve(FRetained.size());
  for (const auto& [topic, payload] : FRetained)
    out.push_back(TOutMessage{topic, payload, true});
  return out;
}

}  // namespace calorix
