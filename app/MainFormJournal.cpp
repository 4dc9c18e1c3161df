// The main window's recording journal: the unsaved record kept on disk while
// it grows, and its restoration after a program that did not close normally.
#include "app/MainForm.h"
#include "base/Messages.h"
#include "record/Journal.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>

namespace calorix {

void TMainFrm::AskRestoreJournal() {
  if (!FJournal)
    return;
  std::vector<TJournalFound> found = TRecordJournal::FindAbandoned(FJournalFolder);
  // The newest first. One record can be restored into the window; journals
  // not asked about stay on disk for the next start.
  std::stable_sort(found.begin(), found.end(), [](const TJournalFound& a, const TJournalFound& b) {
    return QFileInfo(a.Path).lastModified() > QFileInfo(b.Path).lastModified();
  });
  for (const TJournalFound& j : found) {
    if (j.Count == 0) {
      // Nothing whole is left in it: say so once, then it goes.
      FPrompts.ShowError(this, LoadStr(1035).arg(j.Unreadable));
      TRecordJournal::Discard(j.Path);
      continue;
    }
    if (!FPrompts.Confirm(this, RestoreQuestion(j.Count, j.Length, j.Unreadable))) {
      TRecordJournal::Discard(j.Path);
      continue;
    }
    TJournalRestore restored = TRecordJournal::Restore(j.Path);
    if (!restored.Error.isEmpty()) {
      ShowError(LoadStr(1036).arg(j.Path, restored.Error));
      continue;
    }
    if (FRecording)
      RecordBtnClick();
    LoadRecord(restored.Samples);
    FModified = true;
    // Our own journal holds the record on disk before the old one goes; if
    // it cannot, the old one stays for the next start.
    FJournal->Reset(std::move(restored.Samples));
    FJournal->MarkUnsaved();
    FJournal->Flush();
    if (!FJournal->Failed())
      TRecordJournal::Discard(j.Path);
    return;
  }
}

}  // namespace calorix
