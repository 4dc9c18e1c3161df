#pragma once
// The events of the crash journal's record, kept beside it: one JSON object a
// line in "record-<owner>.events", written as each event is logged, so that a
// record restored after a crash brings its events back. Held with an
// exclusive flock while its owner lives, like the journal.
#include "record/Events.h"

#include <QString>

#include <vector>

namespace calorix {

class TEventJournal {
 public:
  // Nothing is written until the first Append or Rewrite.
  explicit TEventJournal(QString path);
  // Without Close() the file stays, as a crash leaves it.
  ~TEventJournal();
  TEventJournal(const TEventJournal&) = delete;
  TEventJournal& operator=(const TEventJournal&) = delete;

  void Append(const TEvent& event);
  // The file holds these events only (a cleared, opened or restored record).
  void Rewrite(const std::vector<TEvent>& events);
  // Normal exit: the file goes.
  void Close();
  const QString& Path() const { return FPath; }
  // The text of the last failure; empty while every write went through.
  const QString& Error() const { return FError; }

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
  bool Open();
  void Write(const QByteArray& bytes);

  QString FPath;
  int FFd = -1;
  QString FError;
};

}  // namespace calorix
