#include "record/Record.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace calorix {
namespace {

// Widens a min/max by one value; NaN is no value.
inline void Merge(TMinMax& m, double v) {
  if (v != v)
    return;
  if (m.Empty()) {
    m.Min = m.Max = v;
    return;
  }
  if (v < m.Min)
    m.Min = v;
  if (v > m.Max)
    m.Max = v;
}

inline void Merge(TMinMax& m, const TMinMax& other) {
  if (other.Empty())
    return;
  if (m.Empty()) {
    m = other;
    return;
  }
  if (other.Min < m.Min)
    m.Min = other.Min;
  if (other.Max > m.Max)
    m.Max = other.Max;
}

constexpr std::array<std::size_t, TMeasurementRecord::kLevels> MakeBlocks() {
  std::array<std::size_t, TMeasurementRecord::kLevels> b{};
  for (int k = 0; k < TMeasurementRecord::kLevels; ++k)
    b[std::size_t(k)] = TMeasurementRecord::LevelBlock(k);
  return b;
}
constexpr auto kBlocks = MakeBlocks();

}  // namespace

std::optional<std::size_t> TMeasurementRecord::Add(double time, double value) {
  if (!std::isfinite(time))
    return std::nullopt;
  const std::size_t index = (FCount == 0 || time >= Last().Time) ? FCount : UpperBound(time);
  if (FBulk == 0) {
    for (IRecordObserver* o : FObservers)
      o->SampleAboutToBeInserted(index);
  }
  if (index == FCount) {
    PushBack({time, value});
    UpdateLevels(index, value);
  } else {
    // Rare (an unsorted file): shift the later samples up by one.
    PushBack(Last());
    for (std::size_t i = FCount - 1; i > index; --i)
      At(i) = At(i - 1);
    At(index) = {time, value};
    RebuildLevelsFrom(index);
    RebuildSumsFrom(index);
  }
  if (std::isfinite(value))
    Merge(FFinite, value);
  if (FBulk == 0) {
    for (IRecordObserver* o : FObservers)
      o->SampleInserted(index);
  }
  return index;
}

void TMeasurementRecord::Clear() {
  if (FBulk == 0) {
    for (IRecordObserver* o : FObservers)
      o->RecordAboutToBeReset();
  }
  // Give the memory back: a cleared record may have held millions of samples.
  std::vector<std::unique_ptr<TSample[]>>().swap(FChunks);
  for (auto& level : FLevels)
    std::vector<TMinMax>().swap(level);
  for (auto& sums : FSums)
    std::vector<TBlockSums>().swap(sums);
  FCount = 0;
  FFinite = {kNaN, kNaN};
  if (FBulk == 0) {
    for (IRecordObserver* o : FObservers)
      o->RecordReset();
  }
}

void TMeasurementRecord::PushBack(const TSample& s) {
  if ((FCount & kChunkMask) == 0 && (FCount >> kChunkShift) == FChunks.size()) {
    FChunks.push_back(std::make_unique_for_overwrite<TSample[]>(kChunkSize));
  }
  At(FCount) = s;
  ++FCount;
}

void TMeasurementRecord::UpdateLevels(std::size_t index, double value) {
  for (int k = 0; k < kLevels; ++k) {
    auto& level = FLevels[std::size_t(k)];
    const std::size_t block = index / kBlocks[std::size_t(k)];
    if (block == level.size())
      level.push_back({kNaN, kNaN});
    Merge(level[block], value);
  }
  const TSample& s = (*this)[index];
  for (int k = kFirstSumLevel; k < kLevels; ++k) {
    auto& sums = FSums[std::size_t(k)];
    const std::size_t b = kBlocks[std::size_t(k)];
    const std::size_t block = index / b;
    if (block == sums.size())
      sums.push_back({});
    AddToSums(sums[block], (*this)[block * b].Time, s);
  }
}

void TMeasurementRecord::AddToSums(TBlockSums& sums, double origin, const TSample& s) const {
  if (!std::isfinite(s.Value))
    return;
  const double t = s.Time - origin;
  sums.N += 1;
  sums.T += t;
  sums.V += s.Value;
  sums.VV += s.Value * s.Value;
  sums.TV += t * s.Value;
  sums.TT += t * t;
}

namespace {
// Adds sums taken from another origin: `shift` is their origin minus ours.
void MergeSums(TBlockSums& into, const TBlockSums& other, double shift) {
  into.N += other.N;
  into.T += other.T + other.N * shift;
  into.V += other.V;
  into.VV += other.VV;
  into.TV += other.TV + shift * other.V;
  into.TT += other.TT + 2 * shift * other.T + other.N * shift * shift;
}
}  // namespace

void TMeasurementRecord::RebuildSumsFrom(std::size_t index) {
  for (int k = kFirstSumLevel; k < kLevels; ++k) {
    auto& sums = FSums[std::size_t(k)];
    const std::size_t b = kBlocks[std::size_t(k)];
    const std::size_t firstBlock = index / b;
    sums.resize(firstBlock);
    const std::size_t blocks = (FCount + b - 1) / b;
    for (std::size_t blk = firstBlock; blk < blocks; ++blk) {
      TBlockSums m;
      const double origin = (*this)[blk * b].Time;
      const std::size_t end = std::min(FCount, (blk + 1) * b);
      for (std::size_t i = blk * b; i < end; ++i)
        AddToSums(m, origin, (*this)[i]);
      sums.push_back(m);
    }
  }
}

void TMeasurementRecord::RebuildLevelsFrom(std::size_t index) {
  for (int k = 0; k < kLevels; ++k) {
    auto& level = FLevels[std::size_t(k)];
    const std::size_t firstBlock = index / kBlocks[std::size_t(k)];
    level.resize(firstBlock);
    const std::size_t blocks = (FCount + kBlocks[std::size_t(k)] - 1) / kBlocks[std::size_t(k)];
    for (std::size_t b = firstBlock; b < blocks; ++b) {
      TMinMax m{kNaN, kNaN};
      if (k == 0) {
        const std::size_t end = std::min(FCount, (b + 1) * kBlocks[0]);
        for (std::size_t i = b * kBlocks[0]; i < end; ++i)
          Merge(m, (*this)[i].Value);
      } else {
        const auto& lower = FLevels[std::size_t(k - 1)];
        const std::size_t end = std::min(lower.size(), (b + 1) * kLevelFactor);
        for (std::size_t c = b * kLevelFactor; c < end; ++c)
          Merge(m, lower[c]);
      }
      level.push_back(m);
    }
  }
}

std::size_t TMeasurementRecord::LowerBound(double time) const {
  std::size_t lo = 0, hi = FCount;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if ((*this)[mid].Time < time) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

std::size_t TMeasurementRecord::UpperBound(double time) const {
  std::size_t lo = 0, hi = FCount;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if ((*this)[mid].Time <= time) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

template <typename TTake>
void TMeasurementRecord::ForEachBlock(std::size_t first, std::size_t last, TTake take) const {
  last = std::min(last, FCount);
  // Up: at each level the items until the start is aligned to the next
  // level's block, as long as one of those still fits; then down: at each
  // level the items that fit. At most 2 x 15 items a level.
  std::size_t i = std::min(first, last);
  int k = -1;
  while (k + 1 < kLevels) {
    const std::size_t next = BlockOf(k + 1);
    const std::size_t aligned = (i + next - 1) & ~(next - 1);
    if (aligned + next > last)
      break;
    if (aligned > i)
      take(k, i, aligned);
    i = aligned;
    ++k;
  }
  for (; k >= -1; --k) {
    const std::size_t end = last & ~(BlockOf(k) - 1);
    if (end > i) {
      take(k, i, end);
      i = end;
    }
  }
}

namespace {
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// NaN compares false, so it never wins std::min or std::max: no branch.
struct TRunningRange {
  double Lo = kInfinity, Hi = -kInfinity;
  void Add(double lo, double hi) {
    Lo = std::min(Lo, lo);
    Hi = std::max(Hi, hi);
  }
  // Nothing but NaN leaves it empty; infinities are values here.
  TMinMax Result() const {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    return Lo > Hi ? TMinMax{nan, nan} : TMinMax{Lo, Hi};
  }
};
}  // namespace

TMinMax TMeasurementRecord::ValueRange(std::size_t first, std::size_t last) const {
  TRunningRange m;
  ForEachBlock(first, last, [&](int k, std::size_t a, std::size_t b) {
    if (k < 0) {
      for (std::size_t i = a; i < b; ++i)
        m.Add((*this)[i].Value, (*this)[i].Value);
      return;
    }
    const TMinMax* level = FLevels[std::size_t(k)].data();
    for (std::size_t j = a >> ShiftOf(k), end = b >> ShiftOf(k); j < end; ++j)
      m.Add(level[j].Min, level[j].Max);
  });
  return m.Result();
}

TMinMax TMeasurementRecord::FiniteRange(std::size_t first, std::size_t last) const {
  TRunningRange m;
  // A block holding an infinity is looked into one level down, so the cost
  // grows with the number of such blocks, not with the length of the range.
  auto take = [&](auto& self, int k, std::size_t a, std::size_t b) -> void {
    if (k < 0) {
      for (std::size_t i = a; i < b; ++i) {
        if (std::isfinite((*this)[i].Value))
          m.Add((*this)[i].Value, (*this)[i].Value);
      }
      return;
    }
    const TMinMax* level = FLevels[std::size_t(k)].data();
    for (std::size_t j = a >> ShiftOf(k), end = b >> ShiftOf(k); j < end; ++j) {
      if (std::isfinite(level[j].Min) && std::isfinite(level[j].Max))
        m.Add(level[j].Min, level[j].Max);
      else if (!level[j].Empty() && level[j].Min != level[j].Max)
        self(self, k - 1, j << ShiftOf(k), (j + 1) << ShiftOf(k));
    }
  };
  ForEachBlock(first, last, [&](int k, std::size_t a, std::size_t b) { take(take, k, a, b); });
  return m.Result();
}

TRangeStats TMeasurementRecord::Stats(std::size_t first, std::size_t last) const {
  TRangeStats r;
  last = std::min(last, FCount);
  if (first >= last)
    return r;
  // The first and last counted samples; long runs without a finite value
  // are skipped a block at a time.
  const std::size_t b1 = kBlocks[kFirstSumLevel];
  std::size_t lo = first;
  while (lo < last && !std::isfinite((*this)[lo].Value)) {
    if (lo % b1 == 0 && lo + b1 <= last && FSums[kFirstSumLevel][lo / b1].N == 0)
      lo += b1;
    else
      ++lo;
  }
  if (lo == last) {
    r.Skipped = last - first;
    return r;
  }
  std::size_t hi = last;
  while (!std::isfinite((*this)[hi - 1].Value)) {
    if (hi % b1 == 0 && hi - b1 >= lo && FSums[kFirstSumLevel][(hi - b1) / b1].N == 0)
      hi -= b1;
    else
      --hi;
  }
  const double origin = (*this)[lo].Time;
  TBlockSums sum;
  for (std::size_t i = lo; i < hi;) {
    int k = kLevels - 1;
    while (k >= kFirstSumLevel &&
           (i % kBlocks[std::size_t(k)] != 0 || i + kBlocks[std::size_t(k)] > hi))
      --k;
    if (k < kFirstSumLevel) {
      AddToSums(sum, origin, (*this)[i]);
      ++i;
    } else {
      MergeSums(sum, FSums[std::size_t(k)][i / kBlocks[std::size_t(k)]], (*this)[i].Time - origin);
      i += kBlocks[std::size_t(k)];
    }
  }
  const double n = sum.N;
  r.Count = std::size_t(n);
  r.Skipped = (last - first) - r.Count;
  r.FirstTime = (*this)[lo].Time;
  r.FirstValue = (*this)[lo].Value;
  r.LastTime = (*this)[hi - 1].Time;
  r.LastValue = (*this)[hi - 1].Value;
  r.Mean = sum.V / n;
  if (n > 1) {
    const double svv = std::max(0.0, sum.VV - sum.V * sum.V / n);
    r.StdDev = std::sqrt(svv / (n - 1));
    const double stt = sum.TT - sum.T * sum.T / n;
    const double stv = sum.TV - sum.T * sum.V / n;
    if (stt > 0)
      r.Slope = stv / stt;
  }
  const TMinMax m = FiniteRange(lo, hi);
  r.Min = m.Min;
  r.Max = m.Max;
  return r;
}

std::size_t TMeasurementRecord::MemoryBytes() const {
  std::size_t bytes = sizeof *this + FChunks.capacity() * sizeof(FChunks[0]) +
                      FChunks.size() * kChunkSize * sizeof(TSample);
  for (const auto& level : FLevels)
    bytes += level.capacity() * sizeof(TMinMax);
  for (const auto& sums : FSums)
    bytes += sums.capacity() * sizeof(TBlockSums);
  return bytes;
}

void TMeasurementRecord::AddObserver(IRecordObserver* observer) {
  if (std::find(FObservers.begin(), FObservers.end(), observer) == FObservers.end())
    FObservers.push_back(observer);
}

void TMeasurementRecord::RemoveObserver(IRecordObserver* observer) {
  FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), observer), FObservers.end());
}

TMeasurementRecord::TBulkUpdate::TBulkUpdate(TMeasurementRecord& record) : FRecord(record) {
  if (FRecord.FBulk++ == 0) {
    for (IRecordObserver* o : FRecord.FObservers)
      o->RecordAboutToBeReset();
  }
}

TMeasurementRecord::TBulkUpdate::~TBulkUpdate() {
  if (--FRecord.FBulk == 0) {
    for (IRecordObserver* o : FRecord.FObservers)
      o->RecordReset();
  }
}

}  // namespace calorix
