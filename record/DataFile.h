#pragma once
// The data file of a program without a window: a thermostat's samples
// appended to a measurement file as they come, so that the file itself is the
// durable record. Lines are the measurement file's ("Сохранить" writes the
// same), whole lines only; what came in is written and fdatasynced once a
// period (5 s), so a kill or a power cut loses at most that and never leaves
// half a line. A new file starts every 24 hours of record; the elapsed times
// go on from the run's start. A file that cannot be written (a full disk, a
// folder without access) is reported once; the samples wait in memory and
// the writing resumes by itself once it can. When told what the run says of
// itself, each file has its metadata file beside it (record/Sidecar.h) with
// the events logged while it was the current one, rewritten atomically at each
// event and once more, with the file's checksum, when the file is finished.
#include "base/NumberFormat.h"
#include "record/MeasurementFile.h"
#include "record/Sidecar.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include <sys/types.h>

namespace calorix {

class TTimer;

// A serial as a file or folder name: printable ASCII but the path separator
// and '%' as it is, anything else percent-encoded.
QString DataFileName(const QString& serial);

struct TDataFileOptions {
  // The thermostat's folder, <data folder>/<serial>; made when missing.
  QString Folder;
  // Names the files: "<serial>_<UTC start YYYYMMDD-HHMMSS>.csv".
  QString Serial;
  TFormatSettings Format;  // the separators of the lines
  int PeriodMs = 5000;     // how often what came in is written and synced
  // The wall clock of the file names; the system's UTC time when not set.
  std::function<QDateTime()> UtcNow;
  // The thermostat, software and poll period of the metadata files (their
  // start, samples, checksum and events are the file's own); none are kept
  // when not set.
  std::function<TRunMeta()> Meta;
  // Stands in for pwrite(2) so tests can make the disk fail.
  std::function<ssize_t(int fd, const void* data, std::size_t size, off_t offset)> Write;
};

class TDataFile : public QObject {
  Q_OBJECT
 public:
  explicit TDataFile(TDataFileOptions options, QObject* parent = nullptr);
  // Finishes the file (written and synced).
  ~TDataFile() override;
  TDataFile(const TDataFile&) = delete;
  TDataFile& operator=(const TDataFile&) = delete;

  // A sample at record time `time` (days). The first one after construction
  // or Finish begins a new file; one 24 hours of record after its file's
  // first begins the next file.
  void Append(double time, double value);
  // Writes what came in and syncs it (the timer does this every period).
  void Flush();
  // Writes, syncs and closes the file; the next Append begins a new one.
  // Samples that could not be written still wait for the disk.
  void Finish();
  // An event of the current file (one logged between two files belongs to
  // the next): its metadata file is rewritten now, or once the file is made.
  void AddEvent(const TEvent& event);

  // The file written last (or to be written); empty before the first sample.
  QString Path() const { return FPath; }
  bool Failed() const { return FFailed; }
  const QString& Error() const { return FError; }  // why, while Failed()
  std::size_t Waiting() const;                     // samples not on the disk yet
  TTimer* Timer() const { return FTimer; }

  // One day of record per file.
  static constexpr double kFileDays = 1.0;

  // Cuts a torn last line (no line end) off every ".csv" file in the folder;
  // one text per file cut, or per file that could not be.
  static QStringList CutTornLines(const QString& folder);

 signals:
  // A line for the log: the file could not be written, is written again, a
  // torn line was cut off.
  void Log(const QString& text);
  void FailedChanged(bool failed);

 private:
  struct TSegment {  // one file's samples not written yet
    std::uint64_t Id = 0;
    QString Stamp;  // the UTC start in the name
    qint64 StartUtcMs = 0;
    double Start = 0.0;  // record time of the file's first sample
    bool Finished = false;
    bool Closed = false;  // written whole, synced and closed: only its metadata may be due
    std::vector<TFileSample> Samples;
    std::int64_t Count = 0;  // samples of the file, written or not
    QString Path;            // once made
    QString Sha256;          // once closed
    std::vector<TEvent> Events;
    bool MetaDue = false;  // the metadata file differs from what it should say
  };

  void WriteOut(bool sync);
  bool Open(const TSegment& segment);
  bool WriteBytes(QByteArray bytes);
  bool Sync();
  void CloseFile();
  void Fail(const QString& path, int error);
  void Fail(const QString& text);
  bool WriteMeta(TSegment& segment);
  void Recovered();

  const TDataFileOptions FOptions;
  TTimer* FTimer = nullptr;  // owned as a child
  std::deque<TSegment> FSegments;
  std::uint64_t FNextId = 1;
  bool FOpenSegment = false;        // the last segment takes new samples
  std::vector<TEvent> FNextEvents;  // logged while no file was current

  int FFd = -1;
  std::uint64_t FFdSegment = 0;  // the segment FFd belongs to
  off_t FSize = 0;               // whole lines in FFd
  bool FTorn = false;            // bytes past FSize to cut before the next write
  bool FUnsynced = false;
  bool FFolderChecked = false;  // torn lines of earlier runs cut
  QString FPath;

  bool FFailed = false;
  QString FError;
};

}  // namespace calorix
