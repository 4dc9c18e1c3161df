#pragma once
// What waits to be published: a bounded first-in-first-out queue (the oldest
// message goes when it is full, so a broker that is away for days costs a fixed
// amount of memory) and the newest payload of every retained topic, published
// again after each reconnect. Not thread-safe: the client guards it.
#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace calorix {

struct TOutMessage {
  std::string Topic;
  std::string Payload;
  bool Retain = false;
};

class TOutbox {
 public:
  static constexpr std::size_t kMaxWaiting = 10000;

  explicit TOutbox(std::size_t capacity = kMaxWaiting) : FCapacity(capacity) {}

  // Queues a message; when the queue is full the oldest one is dropped.
  void Push(TOutMessage message);
  std::optional<TOutMessage> Pop();
  // The newest payload of a retained topic.
  void Remember(const std::string& topic, const std::string& payload);
  // Every remembered retained topic, in topic order.
  std::vector<TOutMessage> Retained() const;

  std::size_t Size() const { return FQueue.size(); }
  std::size_t Dropped() const { return FDropped; }

 private:
  std::size_t FCapacity;
  std::deque<TOutMessage> FQueue;
  std::map<std::string, std::string> FRetained;
  std::size_t FDropped = 0;
};

}  // namespace calorix
