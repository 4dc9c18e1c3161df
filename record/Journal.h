#pragma once
// The recording journal: a copy of the unsaved record kept on disk while the
// program runs, so that a crash or a power cut loses at most a few seconds of
// measurements. Plain C++ with Qt Core; no widgets.
//
// File "record-<owner>.journal" in the given folder (owner: the process id),
// held with an exclusive flock for as long as its owner lives: the kernel
// drops the lock when the process dies, so a journal whose lock can be taken
// is abandoned, however the owner ended. Layout (little-endian):
//   header  8 bytes "CLXJRNL\0", uint32 version (1), uint32 entry size (24)
//   entries double time, double value, uint64 FNV-1a of those 16 bytes
// A torn last entry or garbage fails the checksum; reading stops there.
//
// The journal exists on disk exactly while the record holds unsaved samples
// (give or take the writer's delay): Append makes the record unsaved,
// MarkSaved makes it saved and removes the file, Close removes it for good.
//
// Memory holds only the samples not written yet (a period's worth while
// recording). The file holds the rest, also while the record is saved: its
// name goes but the descriptor stays open (or, for a record that was saved
// before it was ever written, an unnamed file takes it). When the record
// becomes unsaved again the writer copies that content into a new named
// file (in the kernel where it can), so the window's record is never held
// twice in memory. That file is made as "record-<owner>.journal.new", locked,
// its header written after the copy, and then renamed: a crash during the
// copy leaves one without a header, which the next start removes.
#include "record/Record.h"

#include <QString>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace calorix {

// An abandoned journal met at start-up.
struct TJournalFound {
  QString Path;
  std::size_t Count = 0;       // whole entries that can be restored
  double Length = 0.0;         // largest time among them, days
  std::size_t Unreadable = 0;  // entries after the damage (partial ones count)
};

struct TJournalRestore {
  std::vector<TSample> Samples;  // every whole entry before the damage
  std::size_t Unreadable = 0;    // entries that could not be read
  std::uint64_t UnreadableBytes = 0;
  QString Error;  // set when the file could not be opened
};

struct TJournalOptions {
  // Names the file; the process id when empty. Tests run several owners.
  QString Owner;
  // How often the writer thread writes what came in; 5000 when not above 0.
  int PeriodMs = 5000;
  // Stands in for pwrite(2) so tests can make the disk fail.
  std::function<ssize_t(int fd, const void* data, std::size_t size, off_t offset)> Write;
};

class TRecordJournal {
 public:
  explicit TRecordJournal(QString folder, TJournalOptions options = {});
  // Without Close() the journal stays on disk (flushed) if it holds unsaved
  // samples: an exception path must not lose the record.
  ~TRecordJournal();
  TRecordJournal(const TRecordJournal&) = delete;
  TRecordJournal& operator=(const TRecordJournal&) = delete;

  // Called when the journal cannot be written, with a Russian text for the
  // status bar: once, since nothing is written after a failure until a Reset
  // starts afresh. Runs on the writer thread (or in Flush or the destructor):
  // queue it to the window, and do not call back into the journal from it.
  // Set before the first Append.
  void SetOnWriteError(std::function<void(const QString&)> callback);

  // Keeps the sample for the writer: a mutex and a push, no file access.
  void Append(double time, double value);
  // The journal now describes these samples (Clear, a loaded file). The
  // saved/unsaved state is kept; after a write failure this starts afresh.
  void Reset(std::vector<TSample> samples);
  void Reset(const TMeasurementRecord& record);
  // Writes everything appended so far and fdatasyncs before returning (the
  // wait is one write of at most a period's samples, and the copy of the
  // saved part when recording went on after a save).
  void Flush();
  // Has the writer thread write and sync now instead of at its next period;
  // returns at once.
  void WriteSoon();
  // The record holds no unsaved samples: the file's name is removed before
  // this returns (a writer busy with a big Reset or a copy steps aside after
  // its current batch); further appends recreate it with the whole record.
  void MarkSaved();
  // The samples it describes are unsaved (a restored record): they are
  // written out by the next write.
  void MarkUnsaved();
  // Normal exit: stops the writer and removes the file. Appends are ignored.
  void Close();

  // The file being written, empty while there is none.
  QString Path() const;
  // Where the record's events are kept beside it (see TEventJournal).
  QString EventsPath() const;
  bool Failed() const;

  // Journals in the folder whose owner is not running, a whole ".new" copy
  // among them. Empty ones (nothing to restore) and copies cut short are
  // removed on the way.
  static std::vector<TJournalFound> FindAbandoned(const QString& folder);
  static TJournalRestore Restore(const QString& path);
  // Removes an abandoned journal; refuses one whose owner still runs.
  static bool Discard(const QString& path);

  static constexpr std::size_t kHeaderSize = 16;
  static constexpr std::size_t kEntrySize = 24;

 private:
  enum class TOpen { Done, Failed, Again };

  void ResetTo(std::deque<TSample> samples);
  void WriterLoop();
  // Writes what is pending; false when it stepped aside for a MarkSaved with
  // samples left. Without keepSaved (the destructor) the samples of a saved
  // record are not written: the unnamed file goes anyway. FIoMutex held by
  // all of these.
  bool WriteOut(bool sync, bool keepSaved = true);
  // A new named file holding the first `count` entries of the current one.
  TOpen OpenNamed(std::uint64_t generation, std::size_t count);
  bool OpenUnnamed();
  void UnlinkName();
  QString BaseName() const;  // the folder and "record-<owner>"
  void RemoveFile();
  void Fail(int error);

  const QString FFolder;
  const TJournalOptions FOptions;
  std::function<void(const QString&)> FOnWriteError;

  // Lock order: FIoMutex, then FMutex. Append takes FMutex only.
  mutable std::mutex FIoMutex;
  int FFd = -1;
  QString FPath;  // FFd's name; empty while it has none (a saved record)

  mutable std::mutex FMutex;
  std::condition_variable FWake;
  // The record as the window holds it: FStored entries in FFd, then FTail.
  std::size_t FStored = 0;
  std::deque<TSample> FTail;
  std::size_t FDrained = 0;       // samples taken from FTail since it was made
  std::uint64_t FGeneration = 0;  // bumped by Reset: a write in flight is void
  int FSaveWaiting = 0;           // MarkSaved calls waiting for FIoMutex
  bool FRewrite = false;
  bool FUnsaved = false;
  bool FFailed = false;
  bool FClosed = false;
  bool FStop = false;
  bool FKick = false;

  std::thread FWriter;
};

// Opens a file its owner keeps under an exclusive flock while it runs (a
// journal, the note of a running temperature program) and takes the lock;
// -1 when it cannot be opened or its owner still runs (errno EWOULDBLOCK).
// The caller closes the descriptor.
int OpenAbandoned(const QString& path);

// "Найдена незавершенная запись: 1234 измерения за 2:03:04. Восстановить?"
// with " Не удалось прочитать: N." when some entries were lost.
// With a serial: "Найдена незавершенная запись термостата SIM0001: ...".
QString RestoreQuestion(std::size_t count, double lengthDays, std::size_t unreadable,
                        const QString& serial = {});

}  // namespace calorix
