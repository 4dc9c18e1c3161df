#pragma once
// How long the bath has kept to its setpoint: the left panel's "В допуске".
#include <cmath>
#include <optional>

namespace calorix {

// How long the temperature has stayed within the readiness band of the
// setpoint without a break, by the colour rule of the temperature: outside
// only when the difference is above the band (equal is inside).
class TTimeInBand {
 public:
  // A reading at `now` (days, any steady origin). Returns the time inside
  // so far, or nullopt while outside.
  std::optional<double> Update(double now, double temperature, double setpoint, double band) {
    // The temperature's colour rule word for word: outside only when the
    // difference is above the band (a comparison with NaN is false).
    const bool outside = std::fabs(temperature - setpoint) > band;
    if (outside) {
      FSince.reset();
      return std::nullopt;
    }
    if (!FSince || *FSince > now)
      FSince = now;
    return now - *FSince;
  }
  void Reset() { FSince.reset(); }

 private:
  std::optional<double> FSince;
};

}  // namespace calorix
