#include "chart/Record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace calorix {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Random values with NaN and infinities sprinkled in.
std::vector<double> RandomValues(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> value(-50.0, 150.0);
  std::uniform_int_distribution<int> kind(0, 99);
  std::vector<double> v(n);
  for (double& x : v) {
    const int k = kind(rng);
    x = k == 0 ? kNaN : k == 1 ? kInf : k == 2 ? -kInf : value(rng);
  }
  return v;
}

TMinMax BruteRange(const TMeasurementRecord& r, std::size_t first, std::size_t last) {
  TMinMax m{kNaN, kNaN};
  for (std::size_t i = first; i < last; ++i) {
    const double v = r[i].Value;
    if (std::isnan(v))
      continue;
    if (m.Empty()) {
      m = {v, v};
    } else {
      m = {std::min(m.Min, v), std::max(m.Max, v)};
    }
  }
  return m;
}

void ExpectSameRange(const TMinMax& got, const TMinMax& want) {
  EXPECT_EQ(got.Empty(), want.Empty());
  if (!want.Empty()) {
    EXPECT_EQ(got.Min, want.Min);
    EXPECT_EQ(got.Max, want.Max);
  }
}

TEST(Record, KeepsSamplesExactlyAndInOrder) {
  TMeasurementRecord r;
  EXPECT_EQ(r.Length(), 0.0);
  EXPECT_TRUE(r.FiniteValueRange().Empty());
  const double third = 1.0 / 3.0;
  EXPECT_EQ(r.Add(0.0, 24.123456789), 0u);
  EXPECT_EQ(r.Add(1.0 / 86400, third), 1u);
  EXPECT_EQ(r.Add(1.0 / 86400, kNaN), 2u);  // equal time goes after
  ASSERT_EQ(r.Count(), 3u);
  EXPECT_EQ(r[0].Value, 24.123456789);
  EXPECT_EQ(r[1].Value, third);
  EXPECT_TRUE(std::isnan(r[2].Value));
  EXPECT_EQ(r.Length(), 1.0 / 86400);
}

TEST(Record, EarlierTimeIsInsertedInPlace) {
  TMeasurementRecord r;
  for (double t : {1.0, 3.0, 5.0})
    r.Add(t, t * 10);
  EXPECT_EQ(r.Add(2.0, 20.0), 1u);
  EXPECT_EQ(r.Add(3.0, 31.0), 3u);  // after the sample of equal time
  EXPECT_EQ(r.Add(-1.0, -10.0), 0u);
  std::vector<double> times;
  for (std::size_t i = 0; i < r.Count(); ++i)
    times.push_back(r[i].Time);
  EXPECT_EQ(times, (std::vector<double>{-1, 1, 2, 3, 3, 5}));
  EXPECT_EQ(r[4].Value, 31.0);
  EXPECT_EQ(r.Length(), 5.0);
}

TEST(Record, NonFiniteTimeIsRefused) {
  TMeasurementRecord r;
  r.Add(1.0, 1.0);
  EXPECT_FALSE(r.Add(kNaN, 2.0).has_value());
  EXPECT_FALSE(r.Add(kInf, 2.0).has_value());
  EXPECT_FALSE(r.Add(-kInf, 2.0).has_value());
  EXPECT_EQ(r.Count(), 1u);
}

TEST(Record, FiniteValueRangeLeavesOutNaNAndInfinities) {
  TMeasurementRecord r;
  r.Add(0, kInf);
  r.Add(1, kNaN);
  EXPECT_TRUE(r.FiniteValueRange().Empty());
  r.Add(2, -kInf);
  r.Add(3, 25.5);
  r.Add(4, -3.0);
  EXPECT_EQ(r.FiniteValueRange().Min, -3.0);
  EXPECT_EQ(r.FiniteValueRange().Max, 25.5);
  r.Clear();
  EXPECT_TRUE(r.FiniteValueRange().Empty());
  EXPECT_EQ(r.Count(), 0u);
  EXPECT_EQ(r.Length(), 0.0);
}

TEST(Record, SearchMatchesStandardBounds) {
  TMeasurementRecord r;
  std::vector<double> times;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> step(0, 3);  // repeated times included
  double t = 0;
  for (int i = 0; i < 50000; ++i) {
    t += step(rng);
    times.push_back(t);
    r.Add(t, 0.0);
  }
  for (double q : {-1.0, 0.0, 0.5, 17.0, 1000.0, 12345.0, t, t + 1}) {
    EXPECT_EQ(r.LowerBound(q),
              std::size_t(std::lower_bound(times.begin(), times.end(), q) - times.begin()))
        << q;
    EXPECT_EQ(r.UpperBound(q),
              std::size_t(std::upper_bound(times.begin(), times.end(), q) - times.begin()))
        << q;
  }
}

// The levels and the range query against a scan, on random data with NaN
// and infinities, across chunk and block boundaries.
TEST(Record, ValueRangeMatchesBruteForce) {
  const auto values = RandomValues(70000, 1);
  TMeasurementRecord r;
  for (std::size_t i = 0; i < values.size(); ++i)
    r.Add(double(i), values[i]);
  std::mt19937 rng(2);
  std::uniform_int_distribution<std::size_t> pos(0, values.size());
  for (int k = 0; k < 300; ++k) {
    std::size_t a = pos(rng), b = pos(rng);
    if (a > b)
      std::swap(a, b);
    SCOPED_TRACE(testing::Message() << a << ".." << b);
    ExpectSameRange(r.ValueRange(a, b), BruteRange(r, a, b));
  }
  ExpectSameRange(r.ValueRange(0, values.size()), BruteRange(r, 0, values.size()));
  ExpectSameRange(r.ValueRange(5, 5), {kNaN, kNaN});
}

TEST(Record, LevelsMatchBruteForceAfterAppendsAndInserts) {
  const auto values = RandomValues(20000, 3);
  TMeasurementRecord r;
  for (std::size_t i = 0; i < values.size(); ++i)
    r.Add(double(i), values[i]);
  // A few late arrivals (an unsorted file) rebuild the levels behind them.
  r.Add(100.5, 1e6);
  r.Add(7000.5, kNaN);
  r.Add(-2.0, -1e6);
  for (int k = 0; k < TMeasurementRecord::kLevels; ++k) {
    const std::size_t block = TMeasurementRecord::LevelBlock(k);
    const auto& level = r.Level(k);
    ASSERT_EQ(level.size(), (r.Count() + block - 1) / block) << k;
    for (std::size_t b = 0; b < level.size(); ++b) {
      SCOPED_TRACE(testing::Message() << "level " << k << " block " << b);
      ExpectSameRange(level[b], BruteRange(r, b * block, std::min(r.Count(), (b + 1) * block)));
    }
  }
}

TEST(Record, AllNaNBlockHasNoRange) {
  TMeasurementRecord r;
  for (int i = 0; i < 40; ++i)
    r.Add(i, kNaN);
  EXPECT_TRUE(r.ValueRange(0, 40).Empty());
  EXPECT_TRUE(r.Level(0)[0].Empty());
  r.Add(40, kInf);
  EXPECT_EQ(r.ValueRange(0, 41).Max, kInf);
}

struct TLoggingObserver final : IRecordObserver {
  std::vector<std::string> Log;
  void SampleAboutToBeInserted(std::size_t i) override { Log.push_back("+" + std::to_string(i)); }
  void SampleInserted(std::size_t i) override { Log.push_back("=" + std::to_string(i)); }
  void RecordAboutToBeReset() override { Log.push_back("reset"); }
  void RecordReset() override { Log.push_back("done"); }
};

TEST(Record, ObserversSeeEveryChangeAndBulkLoadsAsOneReset) {
  TMeasurementRecord r;
  TLoggingObserver o;
  r.AddObserver(&o);
  r.Add(1, 1);
  r.Add(0, 0);
  r.Add(kNaN, 0);  // refused: not announced
  {
    TMeasurementRecord::TBulkUpdate bulk(r);
    TMeasurementRecord::TBulkUpdate nested(r);
    r.Add(2, 2);
    r.Clear();
    r.Add(3, 3);
  }
  r.Clear();
  r.RemoveObserver(&o);
  r.Add(4, 4);
  EXPECT_EQ(o.Log,
            (std::vector<std::string>{"+0", "=0", "+0", "=0", "reset", "done", "reset", "done"}));
  EXPECT_EQ(r.Count(), 1u);
}

TEST(Record, MemoryPerSampleStaysSmall) {
  TMeasurementRecord r;
  const std::size_t n = 1'000'000;
  for (std::size_t i = 0; i < n; ++i)
    r.Add(double(i), 20.0);
  const double perSample = double(r.MemoryBytes()) / double(n);
  EXPECT_LT(perSample, 18.0);
  EXPECT_GE(perSample, 16.0);
}

}  // namespace
}  // namespace calorix
