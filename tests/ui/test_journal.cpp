// The recording journal through the window: the file on disk follows the
// record (recording, Stop, Clear, Save, Open, close), and a window that ended
// without closing leaves a record the next start offers to restore.
#include "app/MainForm.h"
#include "chart/ValuesModel.h"
#include "record/Journal.h"
#include "tests/support/ui/Connected.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace calorix;
using calorix::test::TConnectedWindow;
using calorix::test::TWindowFixture;

namespace {

QStringList Journals(const QString& folder) {
  return QDir(folder).entryList({QStringLiteral("record-*.journal")}, QDir::Files);
}

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The samples the journal of the window holds on disk, once it has written them.
std::vector<TSample> OnDisk(TMainFrm& w) {
  w.Journal()->Flush();
  const QString path = w.Journal()->Path();
  return path.isEmpty() ? std::vector<TSample>{} : TRecordJournal::Restore(path).Samples;
}

bool SameAsRecord(const std::vector<TSample>& samples, const TMeasurementRecord& record) {
  if (samples.size() != record.Count())
    return false;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (!SameBits(samples[i].Time, record[i].Time) || !SameBits(samples[i].Value, record[i].Value))
      return false;
  }
  return true;
}

// Records n samples with a bath that moves, so every value differs.
bool RecordSamples(TConnectedWindow& c, int n) {
  if (!c.W->Recording())
    c.W->RecordBtn->click();
  for (int i = 0; i < n; ++i) {
    c.Thermostat->SetTemperature(20.0 + 0.37 * (c.W->Record().Count() % 50));
    if (!c.Poll(1.0 + 0.001 * i))
      return false;
  }
  return true;
}

}  // namespace

class TestJournal : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void journalFollowsTheRecordThroughStopClearSaveAndOpen() {
    TConnectedWindow c;
    TMainFrm& w = *c.W;
    const QString folder = c.Fx.JournalFolder();
    QVERIFY(Journals(folder).isEmpty());  // nothing recorded, nothing on disk

    QVERIFY(RecordSamples(c, 5));
    w.RecordBtn->click();  // Stop has it written out, without waiting for the period
    QVERIFY(TWindowFixture::WaitFor([&] {
      return Journals(folder).size() == 1 &&
             SameAsRecord(TRecordJournal::Restore(w.Journal()->Path()).Samples, w.Record());
    }));

    c.Fx.Prompts.YesNo = {true};
    w.ClearBtn->click();
    QVERIFY(Journals(folder).isEmpty());

    QVERIFY(RecordSamples(c, 3));
    QVERIFY(SameAsRecord(OnDisk(w), w.Record()));
    w.RecordBtn->click();

    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("run.csv"));
    c.Fx.Prompts.FileNames = {csv};
    w.SaveAction->trigger();
    QVERIFY(!w.Modified());
    QVERIFY(Journals(folder).isEmpty());

    // Recording on after a save: the journal holds the whole record again.
    QVERIFY(RecordSamples(c, 2));
    QCOMPARE(w.Record().Count(), std::size_t(5));
    QVERIFY(SameAsRecord(OnDisk(w), w.Record()));
    w.RecordBtn->click();

    c.Fx.Prompts.YesNo = {true};  // unsaved data will be lost: open anyway
    c.Fx.Prompts.FileNames = {csv};
    w.OpenAction->trigger();
    QCOMPARE(w.Record().Count(), std::size_t(3));
    QVERIFY(Journals(folder).isEmpty());

    // Samples recorded onto a loaded file bring the loaded ones along.
    QVERIFY(RecordSamples(c, 1));
    QVERIFY(SameAsRecord(OnDisk(w), w.Record()));
  }

  void closingRemovesTheJournalUnlessAWantedSaveFailed() {
    {
      TConnectedWindow c;
      QVERIFY(RecordSamples(c, 2));
      c.Fx.Prompts.YesNo = {false};  // do not save
      c.Fx.Close();
      QVERIFY(Journals(c.Fx.JournalFolder()).isEmpty());
    }
    {
      TConnectedWindow c;
      QVERIFY(RecordSamples(c, 2));
      c.Fx.Prompts.YesNo = {true};
      c.Fx.Prompts.FileNames = {std::nullopt};  // the save dialog is cancelled
      c.Fx.Close();
      c.Fx.Destroy();
      QCOMPARE(Journals(c.Fx.JournalFolder()).size(), 1);
    }
  }

  void recordOfAWindowThatDidNotCloseIsRestoredExactly() {
    QTemporaryDir state;
    std::vector<TSample> before;
    {
      TConnectedWindow c({}, state.path());
      c.W->RecordBtn->click();
      for (int i = 0; i < 7; ++i) {
        c.Thermostat->SetTemperature(25.0 + i * 0.11);
        QVERIFY(c.Poll(1.0 / 3.0));
      }
      for (std::size_t i = 0; i < c.W->Record().Count(); ++i)
        before.push_back(c.W->Record()[i]);
      c.Fx.Destroy();  // as if killed: no close, no question
    }
    QCOMPARE(Journals(state.path()).size(), 1);

    TWindowFixture fx;
    fx.SetJournalFolder(state.path());
    fx.Prompts.YesNo = {true};
    TMainFrm& w = fx.Create();
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Record().Count() == before.size(); }));
    QVERIFY(SameAsRecord(before, w.Record()));
    QCOMPARE(w.ValuesModel()->rowCount(), int(before.size()));
    QVERIFY(w.Modified());
    QVERIFY(!w.Recording());
    QCOMPARE(fx.Prompts.Asked.size(), std::size_t(1));
    QVERIFY(fx.Prompts.Asked[0].Text.startsWith(
        QStringLiteral("Найдена незавершенная запись: 7 измерений за 0:00:02.")));
    // The restored record is the window's own unsaved record now.
    const QStringList left = Journals(state.path());
    QCOMPARE(left.size(), 1);
    QCOMPARE(QDir(state.path()).filePath(left[0]), w.Journal()->Path());
    QVERIFY(SameAsRecord(OnDisk(w), w.Record()));
  }

  void answeringNoRemovesTheJournal() {
    QTemporaryDir state;
    {
      TRecordJournal left(state.path(), {QStringLiteral("999"), 5000, {}});
      left.Append(0.5, 21.0);
      left.Append(0.75, 22.0);
    }  // destroyed without Close: stays on disk
    QCOMPARE(Journals(state.path()).size(), 1);
    TWindowFixture fx;
    fx.SetJournalFolder(state.path());
    fx.Prompts.YesNo = {false};
    TMainFrm& w = fx.Create();
    QVERIFY(TWindowFixture::WaitFor([&] { return fx.Prompts.Asked.size() == 1; }));
    QCOMPARE(w.Record().Count(), std::size_t(0));
    QVERIFY(!w.Modified());
    QVERIFY(Journals(state.path()).isEmpty());
  }

  void unreadableJournalIsReportedAndRemoved() {
    QTemporaryDir state;
    QFile f(QDir(state.path()).filePath(QStringLiteral("record-4242.journal")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(100, '\x5a'));
    f.close();
    TWindowFixture fx;
    fx.SetJournalFolder(state.path());
    fx.Create();
    QVERIFY(
        TWindowFixture::WaitFor([&] { return fx.Prompts.Count(QStringLiteral("error")) == 1; }));
    QVERIFY(fx.Prompts.Errors()[0].contains(QStringLiteral("не удалось")));
    QVERIFY(Journals(state.path()).isEmpty());
  }

  void secondWindowLeavesTheRunningOnesJournalAlone() {
    TConnectedWindow first;
    QVERIFY(RecordSamples(first, 3));
    first.W->Journal()->Flush();
    TWindowFixture second;
    second.SetJournalFolder(first.Fx.JournalFolder());
    second.Create();
    TWindowFixture::Settle(50);
    QVERIFY(second.Prompts.Asked.empty());
    QCOMPARE(Journals(first.Fx.JournalFolder()).size(), 1);
    QVERIFY(SameAsRecord(OnDisk(*first.W), first.W->Record()));
  }

  void journalThatCannotBeWrittenIsReportedOnceAndRecordingGoesOn() {
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TConnectedWindow c({}, dir.filePath(QStringLiteral("file/state")));  // below a plain file
    TMainFrm& w = *c.W;
    QVERIFY(RecordSamples(c, 3));
    w.Journal()->Flush();
    QVERIFY(TWindowFixture::WaitFor(
        [&] { return w.StatusText(1).startsWith(QStringLiteral("Не удалось записать журнал")); }));
    QVERIFY(RecordSamples(c, 2));
    QVERIFY(w.Recording());
    QVERIFY(c.Fx.Prompts.Asked.empty());  // the status bar only, no box
  }
};

QTEST_MAIN(TestJournal)
#include "test_journal.moc"
