#include "chart/Record.h"

#include <algorithm>
#include <cmath>

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

TMinMax TMeasurementRecord::ValueRange(std::size_t first, std::size_t last) const {
  TMinMax m{kNaN, kNaN};
  last = std::min(last, FCount);
  std::size_t i = first;
  while (i < last) {
    // The largest block that starts here and ends within the range.
    int k = kLevels - 1;
    while (k >= 0 && (i % kBlocks[std::size_t(k)] != 0 || i + kBlocks[std::size_t(k)] > last))
      --k;
    if (k < 0) {
      Merge(m, (*this)[i].Value);
      ++i;
    } else {
      Merge(m, FLevels[std::size_t(k)][i / kBlocks[std::size_t(k)]]);
      i += kBlocks[std::size_t(k)];
    }
  }
  return m;
}

std::size_t TMeasurementRecord::MemoryBytes() const {
  std::size_t bytes = sizeof *this + FChunks.capacity() * sizeof(FChunks[0]) +
                      FChunks.size() * kChunkSize * sizeof(TSample);
  for (const auto& level : FLevels)
    bytes += level.capacity() * sizeof(TMinMax);
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
