// The data file of the headless service: whole measurement-file lines,
// written once a timer period, a file per 24 hours of record, torn lines of
// an earlier run cut off, and a folder or disk that fails and recovers.
#include "base/Timer.h"
#include "record/DataFile.h"
#include "record/Sidecar.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cerrno>

#include <unistd.h>

namespace calorix {
namespace {

constexpr double kSecond = 1.0 / 86400;

QByteArray Read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class DataFileTest : public ::testing::Test {
 protected:
  DataFileTest() { TTimer::SetManualMode(true); }
  ~DataFileTest() override { TTimer::SetManualMode(false); }

  std::unique_ptr<TDataFile> Make(const QString& folder) {
    TDataFileOptions o;
    o.Folder = folder;
    o.Serial = QStringLiteral("SN-1");
    o.Format.DecimalSeparator = '.';
    o.Format.TimeSeparator = ':';
    // Each file begun takes the next minute of the wall clock.
    o.UtcNow = [this] { return QDateTime(QDate(2026, 12, 9), QTime(10, Minute++, 0), Qt::UTC); };
    o.Write = [this](int fd, const void* data, std::size_t size, off_t at) -> ssize_t {
      if (Room < 0)
        return ::pwrite(fd, data, size, at);
      const std::size_t n = std::min<std::size_t>(size, std::size_t(Room));
      Room -= ssize_t(n);
      if (n == 0) {
        errno = ENOSPC;
        return -1;
      }
      return ::pwrite(fd, data, n, at);
    };
    if (WithMeta)
      o.Meta = [] { return TRunMeta{}; };
    return std::make_unique<TDataFile>(std::move(o));
  }
  QString Folder() const { return Dir.filePath(QStringLiteral("data/SN-1")); }
  QString File(const char* stamp) const {
    return Folder() + QStringLiteral("/SN-1_20261209-%1.csv").arg(QLatin1String(stamp));
  }

  QTemporaryDir Dir;
  int Minute = 0;
  ssize_t Room = -1;      // bytes the disk still takes; -1: no limit
  bool WithMeta = false;  // each file with its metadata file
};

TEST_F(DataFileTest, WritesWholeLinesEachPeriodAndAFilePerDayOfRecord) {
  auto file = Make(Folder());
  file->Append(0, 20.0);
  file->Append(1 * kSecond, 20.5);
  EXPECT_FALSE(QFile::exists(File("100000")));  // nothing before the period ends
  file->Timer()->Fire();
  EXPECT_EQ(Read(File("100000")), "0:00:00;20.00\r\n0:00:01;20.50\r\n");
  EXPECT_EQ(file->Waiting(), 0u);

  // The day after the first sample begins the next file; the times go on.
  file->Append(86399 * kSecond, 21.0);
  file->Append(86400 * kSecond, 22.0);
  file->Append(2 * 86400 * kSecond + 5 * kSecond, 23.0);  // a day skipped: still whole days
  file->Timer()->Fire();
  EXPECT_EQ(Read(File("100000")), "0:00:00;20.00\r\n0:00:01;20.50\r\n23:59:59;21.00\r\n");
  EXPECT_EQ(Read(File("100100")), "24:00:00;22.00\r\n");
  EXPECT_EQ(Read(File("100200")), "48:00:05;23.00\r\n");
  EXPECT_EQ(file->Path(), File("100200"));

  // Finished (RECord:STATe OFF); the next sample (ON) begins a new file.
  file->Finish();
  file->Append(2 * 86400 * kSecond + 6 * kSecond, 24.0);
  file->Finish();
  EXPECT_EQ(Read(File("100300")), "48:00:06;24.00\r\n");
  EXPECT_EQ(QDir(Folder()).entryList(QDir::Files).size(), 4);
}

TEST_F(DataFileTest, CutsATornLastLineOfAnEarlierRunAndSaysSo) {
  ASSERT_TRUE(QDir().mkpath(Folder()));
  const QString old = Folder() + QStringLiteral("/SN-1_20261208-000000.csv");
  const QString whole = Folder() + QStringLiteral("/SN-1_20261208-010000.csv");
  for (const auto& [path, bytes] : {std::pair{old, QByteArray("0:00:00;20.00\r\n0:00:0")},
                                    std::pair{whole, QByteArray("0:00:00;20.00\r\n")}}) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  auto file = Make(Folder());
  QSignalSpy log(file.get(), &TDataFile::Log);
  file->Append(0, 20.0);
  file->Flush();
  EXPECT_EQ(Read(old), "0:00:00;20.00\r\n");
  EXPECT_EQ(Read(whole), "0:00:00;20.00\r\n");
  ASSERT_EQ(log.count(), 1);
  EXPECT_TRUE(log.at(0).at(0).toString().contains(QStringLiteral("SN-1_20261208-000000.csv")));
}

// A folder that cannot be made (its parent is a regular file: refused to root
// too) and a full disk: said once, the samples wait, and everything is written
// once the disk takes it again, whole lines only at every moment.
TEST_F(DataFileTest, ReportsAFailureOnceAndCatchesUpWhenItCan) {
  const QString blocker = Dir.filePath(QStringLiteral("data"));
  {
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  auto file = Make(Folder());
  QSignalSpy log(file.get(), &TDataFile::Log);
  QSignalSpy failed(file.get(), &TDataFile::FailedChanged);
  file->Append(0, 20.0);
  file->Timer()->Fire();
  file->Append(1 * kSecond, 20.5);
  file->Timer()->Fire();
  EXPECT_TRUE(file->Failed());
  EXPECT_EQ(file->Waiting(), 2u);
  ASSERT_EQ(log.count(), 1);
  EXPECT_EQ(failed.count(), 1);

  ASSERT_TRUE(QFile::remove(blocker));
  file->Timer()->Fire();
  EXPECT_FALSE(file->Failed());
  EXPECT_EQ(Read(File("100000")), "0:00:00;20.00\r\n0:00:01;20.50\r\n");
  EXPECT_EQ(log.count(), 2);  // written again
  EXPECT_EQ(failed.count(), 2);

  // The disk fills up in the middle of a line.
  Room = 20;
  file->Append(2 * kSecond, 21.0);
  file->Append(3 * kSecond, 21.5);
  file->Timer()->Fire();
  EXPECT_TRUE(file->Failed());
  EXPECT_EQ(Read(File("100000")), "0:00:00;20.00\r\n0:00:01;20.50\r\n");
  Room = -1;
  file->Finish();
  EXPECT_FALSE(file->Failed());
  EXPECT_EQ(Read(File("100000")),
            "0:00:00;20.00\r\n0:00:01;20.50\r\n0:00:02;21.00\r\n0:00:03;21.50\r\n");
  EXPECT_EQ(log.count(), 4);
}

// A metadata file that cannot be written fails like the data file (the
// events wait) and is written, with the finished file's checksum, once it can.
TEST_F(DataFileTest, AMetadataFileThatCannotBeWrittenFailsAndCatchesUp) {
  WithMeta = true;
  auto file = Make(Folder());
  file->Append(0, 20.0);
  file->Timer()->Fire();
  const QString meta = SidecarPath(File("100000"));
  ASSERT_TRUE(QFile::remove(meta));
  ASSERT_TRUE(QDir().mkpath(meta + QStringLiteral("/blocker")));  // a folder in its place
  TEvent event;
  event.Text = QStringLiteral("kept");
  file->AddEvent(event);
  EXPECT_TRUE(file->Failed());
  ASSERT_TRUE(QDir(meta).removeRecursively());
  file->Finish();
  EXPECT_FALSE(file->Failed());
  const TSidecarRead read = ReadSidecar(File("100000"));
  ASSERT_EQ(read.State, TSidecarRead::TState::Ok) << read.Error.toStdString();
  ASSERT_EQ(read.Meta.Events.size(), 1u);
  EXPECT_EQ(read.Meta.Events[0].Text, QStringLiteral("kept"));
  EXPECT_FALSE(read.Meta.CsvSha256.isEmpty());
  EXPECT_TRUE(read.ChecksumMatches);
}

}  // namespace
}  // namespace calorix
