#pragma once
// A host and port: where the SCPI port listens, where the MQTT broker is.
#include <QString>

#include <cstdint>

namespace calorix {

struct TEndpoint {
  QString Host;
  std::uint16_t Port = 0;
  bool operator==(const TEndpoint&) const = default;
};

inline constexpr std::uint16_t kDefaultRemotePort = 5025;
inline constexpr std::uint16_t kDefaultMqttPort = 1883;

}  // namespace calorix
