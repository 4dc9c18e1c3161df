#include "record/Record.h"

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

// Statistics of the finite samples, two passes, straight from the samples.
TRangeStats DirectStats(const TMeasurementRecord& r, std::size_t first, std::size_t last) {
  std::vector<TSample> s;
  for (std::size_t i = first; i < last; ++i) {
    if (std::isfinite(r[i].Value))
      s.push_back(r[i]);
  }
  TRangeStats d;
  d.Count = s.size();
  d.Skipped = last - first - s.size();
  if (s.empty())
    return d;
  double mt = 0, mv = 0;
  for (const TSample& x : s) {
    mt += x.Time;
    mv += x.Value;
  }
  mt /= double(s.size());
  mv /= double(s.size());
  double stt = 0, stv = 0, svv = 0;
  d.Min = d.Max = s[0].Value;
  for (const TSample& x : s) {
    stt += (x.Time - mt) * (x.Time - mt);
    stv += (x.Time - mt) * (x.Value - mv);
    svv += (x.Value - mv) * (x.Value - mv);
    d.Min = std::min(d.Min, x.Value);
    d.Max = std::max(d.Max, x.Value);
  }
  d.Mean = mv;
  d.StdDev = s.size() > 1 ? std::sqrt(svv / double(s.size() - 1)) : 0;
  d.Slope = stt > 0 ? stv / stt : 0;
  d.FirstTime = s.front().Time;
  d.FirstValue = s.front().Value;
  d.LastTime = s.back().Time;
  d.LastValue = s.back().Value;
  return d;
}

TEST(Record, StatsOfAKnownRange) {
  // One sample a minute: 20, (NaN), 22, (inf), 24, 26 -> 2 degrees a minute.
  TMeasurementRecord r;
  const double values[] = {20, kNaN, 22, kInf, 24, 26};
  const double t[] = {0, 0.5, 1, 1.5, 2, 3};
  for (int i = 0; i < 6; ++i)
    r.Add(t[i] / 1440.0, values[i]);
  const TRangeStats s = r.Stats(0, 6);
  EXPECT_EQ(s.Count, 4u);
  EXPECT_EQ(s.Skipped, 2u);
  EXPECT_DOUBLE_EQ(s.Duration() * 1440.0, 3.0);
  EXPECT_DOUBLE_EQ(s.LastValue - s.FirstValue, 6.0);
  EXPECT_DOUBLE_EQ(s.Min, 20.0);
  EXPECT_DOUBLE_EQ(s.Max, 26.0);
  EXPECT_DOUBLE_EQ(s.Mean, 23.0);
  EXPECT_NEAR(s.StdDev, std::sqrt(20.0 / 3.0), 1e-12);
  EXPECT_NEAR(s.Slope / 1440.0, 2.0, 1e-9);
  EXPECT_EQ(r.Stats(1, 2).Count, 0u);  // NaN alone
  EXPECT_EQ(r.Stats(1, 2).Skipped, 1u);
  EXPECT_EQ(r.Stats(4, 5).StdDev, 0.0);
  EXPECT_EQ(r.Stats(4, 5).Slope, 0.0);
  EXPECT_EQ(r.Stats(3, 3).Count, 0u);
}

TEST(Record, StatsMatchDirectComputation) {
  // Late in a long record, with NaN and infinities, whole blocks of NaN, and
  // some samples inserted out of order.
  TMeasurementRecord r;
  const std::vector<double> v = RandomValues(70'000, 7);
  for (std::size_t i = 0; i < v.size(); ++i) {
    const bool gap = i >= 8192 && i < 8192 + 600;
    r.Add(50.0 + double(i) / 86400.0, gap ? kNaN : v[i]);
  }
  r.Add(50.0 + 100.5 / 86400.0, 33.0);
  r.Add(50.0 + 30000.5 / 86400.0, -12.0);
  std::mt19937 rng(3);
  std::uniform_int_distribution<std::size_t> pick(0, r.Count());
  std::vector<std::pair<std::size_t, std::size_t>> ranges = {
      {0, r.Count()}, {8192, 8192 + 600}, {8000, 9000}, {4095, 4097}, {65535, 65537}};
  for (int k = 0; k < 200; ++k) {
    std::size_t a = pick(rng), b = pick(rng);
    ranges.emplace_back(std::min(a, b), std::max(a, b));
  }
  for (auto [first, last] : ranges) {
    SCOPED_TRACE(testing::Message() << first << ".." << last);
    const TRangeStats got = r.Stats(first, last), want = DirectStats(r, first, last);
    ASSERT_EQ(got.Count, want.Count);
    EXPECT_EQ(got.Skipped, want.Skipped);
    if (want.Count == 0)
      continue;
    EXPECT_EQ(got.FirstTime, want.FirstTime);
    EXPECT_EQ(got.LastValue, want.LastValue);
    EXPECT_EQ(got.Min, want.Min);
    EXPECT_EQ(got.Max, want.Max);
    EXPECT_NEAR(got.Mean, want.Mean, 1e-9);
    EXPECT_NEAR(got.StdDev, want.StdDev, 1e-7);
    EXPECT_NEAR(got.Slope, want.Slope, 1e-6 * (1 + std::abs(want.Slope)));
  }
}

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
