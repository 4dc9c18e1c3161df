#pragma once
// The events of the crash journal's record, kept beside it: one JSON object a
// line in "record-<owner>.events", so that a record restored after a crash
// brings its events back. A writer thread of its own turns the events into
// lines and writes them within a tenth of a second: logging one costs the
// caller a copy.
// Held with an exclusive flock while its owner lives, like the journal.
#include "record/Events.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace calorix {

class TEventJournal {
 public:
  // Nothing is written until the first Append or Rewrite.
  explicit TEventJournal(QString path);
  // Writes what is waiting; without Close() the file stays, as a crash leaves it.
  ~TEventJournal();
  TEventJournal(const TEventJournal&) = delete;
  TEventJournal& operator=(const TEventJournal&) = delete;

  void Append(const TEvent& event);
  // The file holds these events only (a cleared, opened or restored record).
  void Rewrite(std::vector<TEvent> events);
  // Returns once everything appended so far is written.
  void Flush();
  // Normal exit: the file goes.
  void Close();
  const QString& Path() const { return FPath; }
  // The text of the first failure; empty while every write went through.
  QString Error() const;

  // The events file of a journal ("record-1234.journal" or its ".new" copy).
  static QString PathFor(const QString& journalPath);
  // Every whole event of the file in order; a torn or damaged line is skipped.
  static std::vector<TEvent> Read(const QString& path);
  // Removes an abandoned events file; refuses one whose owner still runs.
  static bool Discard(const QString& path);
  // Removes the abandoned events files of the folder that no journal names
  // (their record was saved before the program ended).
  static void DiscardOrphans(const QString& folder);

 private:
  // How long the writer gathers events before it writes them.
  static constexpr std::chrono::milliseconds kGather{100};

  void WriterLoop();
  // On the writer thread, FMutex not held.
  void Write(const QByteArray& bytes, bool truncate);
  bool Open();

  const QString FPath;
  int FFd = -1;  // the writer thread's

  mutable std::mutex FMutex;
  std::condition_variable FWake, FDone;
  std::deque<TEvent> FPending;
  std::optional<std::vector<TEvent>> FRewrite;  // replaces the file before FPending
  std::size_t FBusy = 0;                        // batches taken but not yet written
  int FFlushes = 0;                             // Flush calls waiting
  bool FStop = false;
  QString FError;
  std::thread FWriter;
};

}  // namespace calorix
