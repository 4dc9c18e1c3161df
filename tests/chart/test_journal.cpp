#include "record/Journal.h"

#include "Printers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace calorix {
namespace {

using L = std::numeric_limits<double>;

std::vector<TSample> Ramp(std::size_t n, double from = 0.0) {
  std::vector<TSample> v;
  for (std::size_t i = 0; i < n; ++i)
    v.push_back({(from + double(i)) / 86400.0, 20.0 + double(i % 97) * 0.125});
  return v;
}

// Bit for bit: the journal must give back exactly what it was handed.
void ExpectSameBits(const std::vector<TSample>& got, const std::vector<TSample>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(got[i].Time), std::bit_cast<std::uint64_t>(want[i].Time))
        << "time " << i;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(got[i].Value),
              std::bit_cast<std::uint64_t>(want[i].Value))
        << "value " << i;
  }
}

void AppendAll(TRecordJournal& j, const std::vector<TSample>& v) {
  for (const TSample& s : v)
    j.Append(s.Time, s.Value);
}

std::vector<TSample> OnDisk(const QString& path) {
  TJournalRestore r = TRecordJournal::Restore(path);
  EXPECT_TRUE(r.Error.isEmpty()) << r.Error.toStdString();
  EXPECT_EQ(r.Unreadable, 0u);
  return std::move(r.Samples);
}

// Waits for something the writer thread does by itself; bounded, not timed.
template <class F>
bool Eventually(F done) {
  for (int i = 0; i < 2000; ++i) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

class JournalTest : public ::testing::Test {
 protected:
  TJournalOptions Options(const QString& owner, int periodMs = 600'000) const {
    TJournalOptions o;
    o.Owner = owner;
    o.PeriodMs = periodMs;  // the default: nothing is written unless asked
    return o;
  }
  QStringList Files() const {
    return QDir(Dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
  }
  QString PathOf(const QString& name) const { return QDir(Dir.path()).filePath(name); }
  void WriteFile(const QString& name, const QByteArray& bytes) const {
    QFile f(PathOf(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }
  // A journal left by an owner that ended without Close.
  QByteArray LeftJournal(const std::vector<TSample>& samples) const {
    QString path;
    {
      TRecordJournal j(Dir.path(), Options(QStringLiteral("left")));
      AppendAll(j, samples);
      j.Flush();
      path = j.Path();
    }
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    f.close();
    QFile::remove(path);
    return bytes;
  }

  QTemporaryDir Dir;
};

TEST_F(JournalTest, GivesBackEveryDoubleBitForBit) {
  std::vector<TSample> want = {
      {0.0, -0.0},
      {L::denorm_min(), -L::denorm_min()},
      {L::min(), L::lowest()},
      {L::max(), L::epsilon()},
      {L::infinity(), -L::infinity()},
      {1.0 / 3.0, 0.1},
  };
  // Enough to span several writer batches and read blocks.
  std::mt19937_64 rng(7);
  while (want.size() < 100'000) {
    const double t = std::bit_cast<double>(rng()), v = std::bit_cast<double>(rng());
    if (t == t && v == v)
      want.push_back({t, v});
  }
  TRecordJournal j(Dir.path(), Options(QStringLiteral("a")));
  AppendAll(j, want);
  j.Flush();
  ASSERT_FALSE(j.Path().isEmpty());
  ExpectSameBits(OnDisk(j.Path()), want);
}

TEST_F(JournalTest, AppendLeavesTheDiskToTheWriter) {
  std::atomic<int> writes{0};
  TJournalOptions o = Options(QStringLiteral("a"));
  o.Write = [&](int fd, const void* data, std::size_t size, off_t at) {
    ++writes;
    return ::pwrite(fd, data, size, at);
  };
  TRecordJournal j(Dir.path(), o);
  AppendAll(j, Ramp(1000));
  EXPECT_EQ(writes, 0);
  EXPECT_TRUE(Files().isEmpty());
  j.Flush();
  EXPECT_GT(writes, 0);
  ExpectSameBits(OnDisk(j.Path()), Ramp(1000));
}

TEST_F(JournalTest, WriterWritesWithinThePeriodByItself) {
  TRecordJournal j(Dir.path(), Options(QStringLiteral("a"), 20));
  AppendAll(j, Ramp(10));
  ASSERT_TRUE(Eventually([&] {
    const QString path = j.Path();
    return !path.isEmpty() && TRecordJournal::Restore(path).Samples.size() == 10;
  }));
  j.Append(1.0, 2.0);
  ASSERT_TRUE(Eventually([&] { return TRecordJournal::Restore(j.Path()).Samples.size() == 11; }));
}

TEST_F(JournalTest, WriteSoonWritesWithoutWaitingForThePeriod) {
  TRecordJournal j(Dir.path(), Options(QStringLiteral("a")));  // a period of ten minutes
  AppendAll(j, Ramp(10));
  j.WriteSoon();
  ASSERT_TRUE(Eventually([&] {
    const QString path = j.Path();
    return !path.isEmpty() && TRecordJournal::Restore(path).Samples.size() == 10;
  }));
}

// The file exists exactly while the record holds unsaved samples.
TEST_F(JournalTest, FileFollowsTheSavedState) {
  TRecordJournal j(Dir.path(), Options(QStringLiteral("a")));
  j.Flush();
  EXPECT_TRUE(Files().isEmpty());

  AppendAll(j, Ramp(5));
  j.Flush();
  const QString path = j.Path();
  EXPECT_EQ(Files(), QStringList{QStringLiteral("record-a.journal")});

  j.MarkSaved();  // gone on return, with no flush
  EXPECT_TRUE(Files().isEmpty());
  EXPECT_TRUE(j.Path().isEmpty());
  j.Flush();
  EXPECT_TRUE(Files().isEmpty());

  // One more sample makes the record unsaved: the file holds all of it.
  j.Append(6.0 / 86400, 1.5);
  j.Flush();
  std::vector<TSample> all = Ramp(5);
  all.push_back({6.0 / 86400, 1.5});
  ExpectSameBits(OnDisk(j.Path()), all);

  // A smaller record replaces the file's content.
  j.Reset(Ramp(2, 100));
  j.Flush();
  ExpectSameBits(OnDisk(j.Path()), Ramp(2, 100));
  j.Reset(std::vector<TSample>{});
  j.Flush();
  EXPECT_TRUE(Files().isEmpty());
  j.Append(1.0, 1.0);
  j.Flush();
  ExpectSameBits(OnDisk(j.Path()), {{1.0, 1.0}});

  // A loaded file is saved: nothing to write until the record changes.
  j.Reset(Ramp(3));
  j.MarkSaved();
  j.Flush();
  EXPECT_TRUE(Files().isEmpty());
  // A restored record is unsaved although nothing was appended.
  j.MarkUnsaved();
  j.Flush();
  ExpectSameBits(OnDisk(j.Path()), Ramp(3));

  j.Close();
  EXPECT_TRUE(Files().isEmpty());
  j.Append(1.0, 1.0);
  j.Reset(Ramp(3));
  j.MarkUnsaved();
  j.Flush();
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(JournalTest, RecordOverloadOfResetCopiesTheRecord) {
  TMeasurementRecord record;
  for (const TSample& s : Ramp(300))
    record.Add(s.Time, s.Value);
  TRecordJournal j(Dir.path(), Options(QStringLiteral("a")));
  j.MarkUnsaved();
  j.Reset(record);
  j.Flush();
  ExpectSameBits(OnDisk(j.Path()), Ramp(300));
}

TEST_F(JournalTest, DestructorKeepsOnlyAnUnsavedRecord) {
  QString path;
  {
    TRecordJournal j(Dir.path(), Options(QStringLiteral("a")));
    AppendAll(j, Ramp(7));
    j.Flush();
    j.Append(1.0, 1.0);  // not flushed: the destructor writes it
    path = j.Path();
  }
  std::vector<TSample> want = Ramp(7);
  want.push_back({1.0, 1.0});
  ExpectSameBits(OnDisk(path), want);
  const std::vector<TJournalFound> found = TRecordJournal::FindAbandoned(Dir.path());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Path, path);
  EXPECT_EQ(found[0].Count, 8u);
  EXPECT_EQ(found[0].Length, 1.0);
  EXPECT_EQ(found[0].Unreadable, 0u);
  ASSERT_TRUE(TRecordJournal::Discard(path));
  EXPECT_TRUE(Files().isEmpty());

  {
    TRecordJournal j(Dir.path(), Options(QStringLiteral("a")));
    AppendAll(j, Ramp(7));
    j.Flush();
    j.MarkSaved();
  }
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(JournalTest, DamagedJournalsGiveWhatCameBeforeTheDamage) {
  const std::size_t H = TRecordJournal::kHeaderSize, E = TRecordJournal::kEntrySize;
  const QByteArray good = LeftJournal(Ramp(100));
  ASSERT_EQ(std::size_t(good.size()), H + 100 * E);

  WriteFile(QStringLiteral("record-torn.journal"), good.left(int(H + 99 * E + 10)));
  QByteArray garbage = good;
  garbage[int(H + 40 * E + 3)] = char(garbage[int(H + 40 * E + 3)] ^ 0x10);
  WriteFile(QStringLiteral("record-garbage.journal"), garbage);
  WriteFile(QStringLiteral("record-zero.journal"), {});
  WriteFile(QStringLiteral("record-header.journal"), good.left(int(H)));
  QByteArray magic = good;
  magic[0] = 'X';
  WriteFile(QStringLiteral("record-magic.journal"), magic);
  QByteArray version = good;
  version[8] = 2;
  WriteFile(QStringLiteral("record-version.journal"), version);
  WriteFile(QStringLiteral("record-short.journal"), good.left(5));
  // Copies an owner was making when it ended: whole (its header comes last),
  // cut short (no header yet), just begun.
  WriteFile(QStringLiteral("record-copied.journal.new"), good);
  WriteFile(QStringLiteral("record-cut.journal.new"),
            QByteArray(int(H), '\0') + good.mid(int(H), int(30 * E + 7)));
  WriteFile(QStringLiteral("record-begun.journal.new"), {});

  struct TCase {
    const char* Name;
    std::size_t Count, Unreadable;
  };
  const std::size_t whole = (good.size() + E - 1) / E;
  for (const TCase& c :
       {TCase{"torn", 99, 1}, TCase{"garbage", 40, 60}, TCase{"zero", 0, 0}, TCase{"header", 0, 0},
        TCase{"magic", 0, whole}, TCase{"version", 0, whole}, TCase{"short", 0, 1}}) {
    SCOPED_TRACE(c.Name);
    const TJournalRestore r =
        TRecordJournal::Restore(PathOf(QStringLiteral("record-%1.journal").arg(c.Name)));
    EXPECT_TRUE(r.Error.isEmpty());
    EXPECT_EQ(r.Unreadable, c.Unreadable);
    ExpectSameBits(r.Samples, Ramp(c.Count));
  }

  // Those with nothing in them go on the way; the rest are offered.
  const std::vector<TJournalFound> found = TRecordJournal::FindAbandoned(Dir.path());
  QStringList names;
  for (const TJournalFound& f : found) {
    names << QFileInfo(f.Path).fileName();
    if (names.back() == QStringLiteral("record-garbage.journal")) {
      EXPECT_EQ(f.Count, 40u);
      EXPECT_EQ(f.Length, 39.0 / 86400.0);
      EXPECT_EQ(f.Unreadable, 60u);
    }
  }
  EXPECT_EQ(names, (QStringList{"record-copied.journal.new", "record-garbage.journal",
                                "record-magic.journal", "record-short.journal",
                                "record-torn.journal", "record-version.journal"}));
  EXPECT_EQ(found[0].Count, 100u);
  for (const char* gone : {"record-zero.journal", "record-header.journal", "record-cut.journal.new",
                           "record-begun.journal.new"})
    EXPECT_FALSE(QFile::exists(PathOf(QString::fromLatin1(gone)))) << gone;
}

TEST_F(JournalTest, WhatIsNoJournalFileIsAnErrorNotAHang) {
  EXPECT_FALSE(TRecordJournal::Restore(PathOf(QStringLiteral("none.journal"))).Error.isEmpty());
  EXPECT_FALSE(TRecordJournal::Restore(Dir.path()).Error.isEmpty());
  const QString fifo = PathOf(QStringLiteral("record-fifo.journal"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  EXPECT_FALSE(TRecordJournal::Restore(fifo).Error.isEmpty());
  EXPECT_TRUE(TRecordJournal::FindAbandoned(Dir.path()).empty());
}

TEST_F(JournalTest, WriteFailureIsReportedOnceAndResetStartsAfresh) {
  std::atomic<bool> full{false};
  TJournalOptions o = Options(QStringLiteral("a"), 20);
  // Short writes on a good day: the journal must write the rest itself.
  o.Write = [&](int fd, const void* data, std::size_t size, off_t at) -> ssize_t {
    if (full) {
      errno = ENOSPC;
      return -1;
    }
    return ::pwrite(fd, data, std::min<std::size_t>(size, 7), at);
  };
  std::vector<QString> reports;
  std::mutex reportsMutex;
  TRecordJournal j(Dir.path(), o);
  j.SetOnWriteError([&](const QString& text) {
    std::lock_guard lock(reportsMutex);
    reports.push_back(text);
  });
  AppendAll(j, Ramp(50));
  j.Flush();
  ExpectSameBits(OnDisk(j.Path()), Ramp(50));

  full = true;
  AppendAll(j, Ramp(50, 50));
  ASSERT_TRUE(Eventually([&] { return j.Failed(); }));  // the writer meets it
  AppendAll(j, Ramp(50, 100));
  j.Flush();
  {
    std::lock_guard lock(reportsMutex);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], QStringLiteral("Не удалось записать журнал записи: нет места на диске"));
  }

  full = false;
  j.Reset(Ramp(20));
  EXPECT_FALSE(j.Failed());
  j.Flush();
  ExpectSameBits(OnDisk(j.Path()), Ramp(20));
  j.Append(1.0, 1.0);
  j.Flush();
  EXPECT_EQ(OnDisk(j.Path()).size(), 21u);
  std::lock_guard lock(reportsMutex);
  EXPECT_EQ(reports.size(), 1u);
}

TEST_F(JournalTest, FailureToCreateTheFileIsReported) {
  TJournalOptions o = Options(QStringLiteral("a"));
  o.Write = [](int, const void*, std::size_t, off_t) -> ssize_t { return 0; };  // no progress
  int reports = 0;
  QString text;
  TRecordJournal j(Dir.path(), o);
  j.SetOnWriteError([&](const QString& t) {
    ++reports;
    text = t;
  });
  AppendAll(j, Ramp(3));
  j.Flush();
  j.Flush();
  EXPECT_TRUE(j.Failed());
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(text, QStringLiteral("Не удалось записать журнал записи: нет места на диске"));
  EXPECT_TRUE(Files().isEmpty());  // no half-made file left behind
}

TEST_F(JournalTest, OwnersInOneFolderKeepToTheirOwnFiles) {
  // A journal left by an earlier program with the same id stays untouched.
  const QByteArray left = LeftJournal(Ramp(4, 1000));
  WriteFile(QStringLiteral("record-a.journal"), left);

  auto a = std::make_unique<TRecordJournal>(Dir.path(), Options(QStringLiteral("a")));
  TRecordJournal b(Dir.path(), Options(QStringLiteral("b")));
  AppendAll(*a, Ramp(3));
  AppendAll(b, Ramp(5));
  a->Flush();
  b.Flush();
  EXPECT_EQ(a->Path(), PathOf(QStringLiteral("record-a-2.journal")));
  EXPECT_EQ(b.Path(), PathOf(QStringLiteral("record-b.journal")));
  ExpectSameBits(OnDisk(a->Path()), Ramp(3));
  ExpectSameBits(OnDisk(b.Path()), Ramp(5));

  // Live owners are locked (their own open file, even in this process).
  std::vector<TJournalFound> found = TRecordJournal::FindAbandoned(Dir.path());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Path, PathOf(QStringLiteral("record-a.journal")));
  EXPECT_FALSE(TRecordJournal::Discard(b.Path()));
  EXPECT_TRUE(QFile::exists(b.Path()));

  const QString aPath = a->Path();
  a.reset();  // ends without Close, as a crash would
  found = TRecordJournal::FindAbandoned(Dir.path());
  ASSERT_EQ(found.size(), 2u);
  const auto mine = std::find_if(found.begin(), found.end(),
                                 [&](const TJournalFound& f) { return f.Path == aPath; });
  ASSERT_NE(mine, found.end());
  EXPECT_EQ(mine->Count, 3u);
  ASSERT_TRUE(TRecordJournal::Discard(aPath));
  EXPECT_TRUE(TRecordJournal::Discard(aPath));  // already gone is fine
  EXPECT_EQ(Files(), (QStringList{"record-a.journal", "record-b.journal"}));
}

// A separate live process holds the lock; once it is killed, the journal is
// abandoned.
TEST_F(JournalTest, LockOfAnotherProcessLastsAsLongAsItLives) {
  WriteFile(QStringLiteral("record-other.journal"), LeftJournal(Ramp(6)));
  const QByteArray path = QFile::encodeName(PathOf(QStringLiteral("record-other.journal")));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only async-signal-safe calls in the child of a threaded process.
    const int fd = ::open(path.constData(), O_RDWR);
    const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
    (void)!::write(ready[1], &ok, 1);
    for (;;)
      ::pause();
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(ok, 1);

  EXPECT_TRUE(TRecordJournal::FindAbandoned(Dir.path()).empty());
  EXPECT_FALSE(TRecordJournal::Discard(QString::fromLocal8Bit(path)));

  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const std::vector<TJournalFound> found = TRecordJournal::FindAbandoned(Dir.path());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Count, 6u);
  EXPECT_TRUE(TRecordJournal::Discard(found[0].Path));
  EXPECT_TRUE(Files().isEmpty());
}

// The window appends while the writer writes; saves, clears and loads come
// in between. Whatever the interleaving, the file ends as the record.
TEST_F(JournalTest, AppendsWhileTheWriterRunsEndAsTheRecord) {
  TRecordJournal j(Dir.path(), Options(QStringLiteral("a"), 1));
  std::atomic<bool> stop{false};
  std::thread flusher([&] {
    while (!stop)
      j.Flush();
  });
  std::vector<TSample> record;
  for (std::size_t i = 0; i < 60'000; ++i) {
    const TSample s{double(i) / 86400, double(i) * 0.5};
    j.Append(s.Time, s.Value);
    record.push_back(s);
    if (i % 20'000 == 10'000) {
      j.MarkSaved();
    } else if (i % 20'000 == 15'000) {
      record = Ramp(i % 7'000);
      j.Reset(record);
    }
  }
  stop = true;
  flusher.join();
  j.Flush();
  ExpectSameBits(OnDisk(j.Path()), record);
}

// After a save the file keeps the record without a name, and recording on
// copies it into a named one: in the kernel, or through a writer standing in
// for pwrite (short writes too). A crash then finds the whole record.
TEST_F(JournalTest, SavedSamplesComeBackWhenRecordingGoesOn) {
  for (const bool inKernel : {true, false}) {
    SCOPED_TRACE(inKernel ? "in the kernel" : "through the writer");
    TJournalOptions o = Options(QStringLiteral("a"));
    if (!inKernel)
      o.Write = [](int fd, const void* data, std::size_t size, off_t at) {
        return ::pwrite(fd, data, std::min<std::size_t>(size, 1000), at);
      };
    auto j = std::make_unique<TRecordJournal>(Dir.path(), o);
    std::vector<TSample> all = Ramp(100'000);  // several batches and copy blocks
    AppendAll(*j, all);
    j->Flush();
    j->MarkSaved();
    EXPECT_TRUE(Files().isEmpty());
    auto more = [&](std::size_t n) {
      const std::vector<TSample> next = Ramp(n, double(all.size()));
      AppendAll(*j, next);
      all.insert(all.end(), next.begin(), next.end());
      j->Flush();
      EXPECT_EQ(Files(), QStringList{QStringLiteral("record-a.journal")});
      ExpectSameBits(OnDisk(j->Path()), all);
    };
    more(3);
    j->MarkSaved();  // saved twice over
    j->Flush();
    more(2);

    // A loaded file: saved before it was ever written.
    all = Ramp(20'000, 7);
    j->Reset(all);
    j->MarkSaved();
    j->Flush();
    EXPECT_TRUE(Files().isEmpty());
    more(1);

    j.reset();  // as a crash would end it
    const std::vector<TJournalFound> found = TRecordJournal::FindAbandoned(Dir.path());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].Count, all.size());
    ASSERT_TRUE(TRecordJournal::Discard(found[0].Path));
  }
}

// A crash while the saved samples are copied into a new named file leaves
// the copy under its temporary name: the next start removes it, but never
// while its owner still runs.
TEST_F(JournalTest, ACopyCutShortIsRemovedButNotWhileItsOwnerRuns) {
  std::atomic<bool> hold{false}, held{false}, go{false};
  TJournalOptions o = Options(QStringLiteral("a"));
  o.Write = [&](int fd, const void* data, std::size_t size, off_t at) {
    // The copy goes in blocks of 1 MiB: stop before the second.
    if (hold && at > off_t(TRecordJournal::kHeaderSize)) {
      hold = false;
      held = true;
      while (!go)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ::pwrite(fd, data, size, at);
  };
  TRecordJournal j(Dir.path(), o);
  std::vector<TSample> all = Ramp(100'000);
  AppendAll(j, all);
  j.Flush();
  j.MarkSaved();
  j.Append(1.0, 1.0);
  all.push_back({1.0, 1.0});
  hold = true;
  std::thread writer([&] { j.Flush(); });
  ASSERT_TRUE(Eventually([&] { return bool(held); }));
  const QString live = PathOf(QStringLiteral("record-a.journal.new"));
  EXPECT_TRUE(TRecordJournal::FindAbandoned(Dir.path()).empty());
  EXPECT_FALSE(TRecordJournal::Discard(live));
  // What a crash at this point leaves, under a name nobody holds.
  QFile copy(live);
  ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
  WriteFile(QStringLiteral("record-dead.journal.new"), copy.readAll());
  EXPECT_TRUE(TRecordJournal::FindAbandoned(Dir.path()).empty());
  EXPECT_EQ(Files(), QStringList{QStringLiteral("record-a.journal.new")});
  go = true;
  writer.join();
  EXPECT_EQ(Files(), QStringList{QStringLiteral("record-a.journal")});
  ExpectSameBits(OnDisk(j.Path()), all);
}

TEST_F(JournalTest, DiskFullWhileCopyingTheSavedSamplesIsReported) {
  std::atomic<bool> full{false};
  TJournalOptions o = Options(QStringLiteral("a"));
  o.Write = [&](int fd, const void* data, std::size_t size, off_t at) -> ssize_t {
    if (full && at >= off_t(TRecordJournal::kHeaderSize)) {  // a new file's header still goes
      errno = ENOSPC;
      return -1;
    }
    return ::pwrite(fd, data, size, at);
  };
  std::vector<QString> reports;
  TRecordJournal j(Dir.path(), o);
  j.SetOnWriteError([&](const QString& text) { reports.push_back(text); });
  AppendAll(j, Ramp(1000));
  j.Flush();
  j.MarkSaved();
  full = true;
  j.Append(1.0, 1.0);
  j.Flush();
  EXPECT_TRUE(j.Failed());
  EXPECT_EQ(reports, std::vector<QString>{
                         QStringLiteral("Не удалось записать журнал записи: нет места на диске")});
  EXPECT_TRUE(Files().isEmpty());  // neither a part of the copy nor its temporary name
  EXPECT_TRUE(j.Path().isEmpty());

  full = false;
  j.Reset(Ramp(4));
  j.Flush();
  ExpectSameBits(OnDisk(j.Path()), Ramp(4));
  EXPECT_EQ(reports.size(), 1u);
}

TEST(RestoreQuestion, CountsInRussianAndHoursPastADay) {
  const double t = (2 * 3600 + 3 * 60 + 4) / 86400.0;
  EXPECT_EQ(
      RestoreQuestion(1234, t, 0),
      QStringLiteral("Найдена незавершенная запись: 1234 измерения за 2:03:04. Восстановить?"));
  EXPECT_EQ(RestoreQuestion(5, 30.0, 3),
            QStringLiteral("Найдена незавершенная запись: 5 измерений за 720:00:00. "
                           "Восстановить? Не удалось прочитать: 3."));
  const std::vector<std::pair<std::size_t, const char*>> forms = {
      {1, "измерение"},    {2, "измерения"},    {4, "измерения"},   {5, "измерений"},
      {11, "измерений"},   {12, "измерений"},   {14, "измерений"},  {21, "измерение"},
      {22, "измерения"},   {25, "измерений"},   {101, "измерение"}, {111, "измерений"},
      {1001, "измерение"}, {1012, "измерений"}, {0, "измерений"},
  };
  for (const auto& [n, noun] : forms)
    EXPECT_EQ(RestoreQuestion(n, 0.0, 0),
              QStringLiteral("Найдена незавершенная запись: %1 %2 за 0:00:00. Восстановить?")
                  .arg(n)
                  .arg(QString::fromUtf8(noun)));
}

}  // namespace
}  // namespace calorix
