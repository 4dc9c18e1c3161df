#pragma once
// The measurement record: the samples of a run in ascending time, stored
// unchanged and without limit, with min/max levels kept up to date on every
// append so that a chart can draw millions of samples without scanning them.
// Plain C++: no Qt, no widgets.
#include <array>
#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace calorix {

// One sample: elapsed time in days (one second is 1/86400) and the
// temperature in degrees Celsius.
struct TSample {
  double Time = 0.0;
  double Value = 0.0;
};

// Smallest and largest of a set of values; both NaN when the set is empty.
struct TMinMax {
  double Min;
  double Max;
  bool Empty() const { return Min != Min; }  // NaN
};

// Figures over the samples of a stretch of time. Only samples with a finite
// value count: NaN (no reading) and infinities (a sensor fault) are left
// out of every figure and counted in Skipped.
struct TRangeStats {
  std::size_t Count = 0;                 // samples with a finite value
  std::size_t Skipped = 0;               // samples left out
  double FirstTime = 0, LastTime = 0;    // of the first and last counted sample
  double FirstValue = 0, LastValue = 0;  // their values
  double Min = 0, Max = 0, Mean = 0;
  double StdDev = 0;  // sample standard deviation (n - 1); 0 for one sample
  double Slope = 0;   // least-squares slope, degrees per day; 0 below two times
  double Duration() const { return LastTime - FirstTime; }
};

// Running sums of a block of samples, times taken from the block's first
// sample so that sums over a short stretch late in a long record keep their
// digits.
struct TBlockSums {
  double N = 0, T = 0, V = 0, VV = 0, TV = 0, TT = 0;
};

// Told about every change of a record (the values list follows it this way).
class IRecordObserver {
 public:
  virtual void SampleAboutToBeInserted(std::size_t index) = 0;
  virtual void SampleInserted(std::size_t index) = 0;
  // Clearing and bulk loading announce themselves as one reset.
  virtual void RecordAboutToBeReset() = 0;
  virtual void RecordReset() = 0;

 protected:
  ~IRecordObserver() = default;
};

class TMeasurementRecord {
 public:
  // Blocks of the min/max levels: level k summarises LevelBlock(k) samples.
  static constexpr int kLevels = 6;
  static constexpr int kLevelShift = 4;
  static constexpr std::size_t kLevelFactor = std::size_t(1) << kLevelShift;
  static constexpr std::size_t LevelBlock(int level) {
    std::size_t b = kLevelFactor;
    for (int k = 0; k < level; ++k)
      b *= kLevelFactor;
    return b;
  }

  TMeasurementRecord() = default;
  TMeasurementRecord(const TMeasurementRecord&) = delete;
  TMeasurementRecord& operator=(const TMeasurementRecord&) = delete;

  // Adds a sample. A time not below the newest one goes to the end in
  // constant time; an earlier time (files are loaded unchecked) is inserted
  // at its place in time order, after samples of equal time. The value is
  // kept as given, NaN and infinities included. A non-finite time has no
  // place on the time axis: nothing is added and nullopt returned.
  // Returns the index of the new sample.
  std::optional<std::size_t> Add(double time, double value);
  void Clear();

  std::size_t Count() const { return FCount; }
  bool Empty() const { return FCount == 0; }
  const TSample& operator[](std::size_t i) const {
    return FChunks[i >> kChunkShift][i & kChunkMask];
  }
  const TSample& Last() const { return (*this)[FCount - 1]; }

  // The largest time: the length of the record, 0 when empty.
  double Length() const { return FCount ? Last().Time : 0.0; }
  // Smallest and largest finite value of all samples (NaN and infinities
  // are left out), as an axis fitted to the data needs them.
  TMinMax FiniteValueRange() const { return FFinite; }

  // First index whose time is >= time (Count() when none).
  std::size_t LowerBound(double time) const;
  // First index whose time is > time (Count() when none).
  std::size_t UpperBound(double time) const;
  // Smallest and largest value in [first, last), NaN left out, infinities
  // kept (a drawing shows them as spikes to the edge). Uses the levels:
  // O(levels x factor) whatever the length of the range.
  TMinMax ValueRange(std::size_t first, std::size_t last) const;

  // The same with infinities left out too, as the statistics need it. Blocks
  // holding an infinity cost a look one level down.
  TMinMax FiniteRange(std::size_t first, std::size_t last) const;

  // Statistics of the samples in [first, last). Uses the running sums kept
  // with the levels: O(levels x factor) whatever the length of the range.
  TRangeStats Stats(std::size_t first, std::size_t last) const;

  // The level summaries, for tests and benchmarks.
  const std::vector<TMinMax>& Level(int k) const { return FLevels[std::size_t(k)]; }
  // Bytes held by the samples and the levels.
  std::size_t MemoryBytes() const;

  void AddObserver(IRecordObserver* observer);
  void RemoveObserver(IRecordObserver* observer);

  // While one of these lives, adds are not announced one by one: the
  // observers see one reset when the outermost one ends (loading a file).
  class TBulkUpdate {
   public:
    explicit TBulkUpdate(TMeasurementRecord& record);
    ~TBulkUpdate();
    TBulkUpdate(const TBulkUpdate&) = delete;
    TBulkUpdate& operator=(const TBulkUpdate&) = delete;

   private:
    TMeasurementRecord& FRecord;
  };

 private:
  static constexpr int kChunkShift = 14;
  static constexpr std::size_t kChunkSize = std::size_t(1) << kChunkShift;
  static constexpr std::size_t kChunkMask = kChunkSize - 1;

  static constexpr int ShiftOf(int level) { return kLevelShift * (level + 1); }
  // Samples per item of a level; level -1 is the samples themselves.
  static constexpr std::size_t BlockOf(int level) { return std::size_t(1) << ShiftOf(level); }
  // Calls take(level, first, last) for a cover of [first, last) by whole
  // items of the levels, in ascending order.
  template <typename TTake>
  void ForEachBlock(std::size_t first, std::size_t last, TTake take) const;

  TSample& At(std::size_t i) { return FChunks[i >> kChunkShift][i & kChunkMask]; }
  void PushBack(const TSample& s);
  void UpdateLevels(std::size_t index, double value);
  void RebuildLevelsFrom(std::size_t index);

  // Chunks of fixed size: appending never moves samples, so there is no
  // pause for a reallocation and no spare capacity beyond the last chunk.
  std::vector<std::unique_ptr<TSample[]>> FChunks;
  std::size_t FCount = 0;
  std::array<std::vector<TMinMax>, kLevels> FLevels;
  // Running sums per block of the levels from kFirstSumLevel up (smaller
  // blocks are summed sample by sample: cheaper than their memory).
  static constexpr int kFirstSumLevel = 1;
  std::array<std::vector<TBlockSums>, kLevels> FSums;
  void AddToSums(TBlockSums& sums, double origin, const TSample& s) const;
  void RebuildSumsFrom(std::size_t index);
  TMinMax FFinite{kNaN, kNaN};
  std::vector<IRecordObserver*> FObservers;
  int FBulk = 0;

  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
};

}  // namespace calorix
