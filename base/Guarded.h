#pragma once
// Runs an event handler so that nothing it throws escapes into the event loop.
#include <QString>

#include <exception>
#include <functional>
#include <optional>

namespace calorix {

// The text of an exception that escaped handler (empty when it was no
// std::exception); none when the handler returned normally.
inline std::optional<QString> RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QString();
  }
  return std::nullopt;
}

}  // namespace calorix
