// The planned-setpoint curve on the chart at every tick: the curve's start
// moves with now; a 10,000-point curve is set anew only when the plan moves.
#include "chart/SetpointCurve.h"

#include <benchmark/benchmark.h>

#include <utility>

namespace calorix {
namespace {

// A plan of 10,000 points a minute apart.
std::pair<QVector<double>, QVector<double>> PlannedPoints() {
  QVector<double> keys, values;
  for (int i = 0; i < 10000; ++i)
    keys.push_back(i / 1440.0), values.push_back(20 + i % 40);
  return {keys, values};
}

void BM_PlannedCurveTick(benchmark::State& state) {
  QCustomPlot plot;
  TSetpointCurves curves(plot);
  const auto [keys, values] = PlannedPoints();
  curves.SetPlanned(keys, values);
  double now = 0;
  for (auto _ : state) {
    now += 1e-9;
    curves.MovePlannedStart(now, 20.5);
  }
}
BENCHMARK(BM_PlannedCurveTick);

void BM_PlannedCurveSet(benchmark::State& state) {
  QCustomPlot plot;
  TSetpointCurves curves(plot);
  const auto [keys, values] = PlannedPoints();
  for (auto _ : state)
    curves.SetPlanned(keys, values);
}
BENCHMARK(BM_PlannedCurveSet);

}  // namespace
}  // namespace calorix
