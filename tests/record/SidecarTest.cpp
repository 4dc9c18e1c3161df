// The metadata file beside a measurement file: its name, a round trip of
// everything it holds, the checksum caught on a changed file, and sidecars
// that are damaged or not ours reported as such.
#include "record/Sidecar.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace calorix {
namespace {

TEST(SidecarTest, NameSitsBesideTheMeasurementFile) {
  const struct {
    const char* Csv;
    const char* Meta;
  } cases[] = {{"run.csv", "run.meta.json"},
               {"/data/a.b.txt", "/data/a.b.meta.json"},
               {"/data/run", "/data/run.meta.json"},
               {"/data.x/run", "/data.x/run.meta.json"},
               {"/data/.hidden", "/data/.hidden.meta.json"}};
  for (const auto& c : cases)
    EXPECT_EQ(SidecarPath(QString::fromUtf8(c.Csv)), QString::fromUtf8(c.Meta)) << c.Csv;
}

TEST(SidecarTest, ChecksumIsSha256OfTheBytes) {
  // The test vector of FIPS 180-2.
  EXPECT_EQ(Sha256Hex("abc"),
            QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

struct SidecarFiles : ::testing::Test {
  QTemporaryDir Dir;
  QString Csv = QDir(Dir.path()).filePath(QStringLiteral("run.csv"));
  QByteArray Bytes = "0:00:00;25,00\r\n0:00:01;25,01\r\n";

  void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  static TRunMeta Meta(const QByteArray& csv) {
    TRunMeta m;
    m.Software = QStringLiteral("Calorix 3.0.0");
    m.Serial = QStringLiteral("SIM0001");
    m.Product = QStringLiteral("USB Thermostat");
    m.Manufacturer = QStringLiteral("Norvik");
    m.StartUtcMs = 1'796'000'000'123;
    m.PollMs = 1000;
    m.Samples = 2;
    m.CsvSha256 = Sha256Hex(csv);
    TEvent written;
    written.UtcMs = 1'796'000'000'623;
    written.Elapsed = 0.5 / 86'400.0;
    written.Serial = m.Serial;
    written.Kind = TEventKind::SetpointWritten;
    written.Source = source::Remote(QStringLiteral("127.0.0.1:40123"));
    written.Text = QStringLiteral("Уставка 25,00 → 31,25 °C");
    written.Values = {{QStringLiteral("old"), 25.0}, {QStringLiteral("new"), 31.25}};
    TEvent arrived;
    arrived.UtcMs = 1'795'999'990'000;
    arrived.Serial = m.Serial;
    arrived.Kind = TEventKind::ThermostatArrived;
    arrived.Source = source::kSystem;
    arrived.Text = QStringLiteral("Термостат подключен");
    m.Events = {arrived, written};
    return m;
  }
};

TEST_F(SidecarFiles, RoundTripAndAChangedFileCaught) {
  WriteFile(Csv, Bytes);
  const TRunMeta meta = Meta(Bytes);
  ASSERT_EQ(WriteSidecar(Csv, meta), QString());
  ASSERT_TRUE(QFile::exists(QDir(Dir.path()).filePath(QStringLiteral("run.meta.json"))));
  EXPECT_EQ(FileSha256(Csv), meta.CsvSha256);

  const TSidecarRead read = ReadSidecar(Csv);
  ASSERT_EQ(read.State, TSidecarRead::TState::Ok) << read.Error.toStdString();
  EXPECT_TRUE(read.ChecksumMatches);
  const TRunMeta& m = read.Meta;
  EXPECT_EQ(m.Software, meta.Software);
  EXPECT_EQ(m.Serial, meta.Serial);
  EXPECT_EQ(m.Product, meta.Product);
  EXPECT_EQ(m.Manufacturer, meta.Manufacturer);
  EXPECT_EQ(m.StartUtcMs, meta.StartUtcMs);
  EXPECT_EQ(m.PollMs, meta.PollMs);
  EXPECT_EQ(m.Samples, meta.Samples);
  EXPECT_EQ(m.CsvSha256, meta.CsvSha256);
  EXPECT_EQ(m.Events, meta.Events);

  // One byte changed since: the file still reads, the checksum says so.
  QByteArray changed = Bytes;
  changed[12] = '1';
  WriteFile(Csv, changed);
  EXPECT_FALSE(ReadSidecar(Csv).ChecksumMatches);
  // A sidecar written while the file is not finished carries no checksum.
  TRunMeta open = meta;
  open.CsvSha256.clear();
  ASSERT_EQ(WriteSidecar(Csv, open), QString());
  const TSidecarRead unfinished = ReadSidecar(Csv);
  EXPECT_EQ(unfinished.State, TSidecarRead::TState::Ok);
  EXPECT_TRUE(unfinished.ChecksumMatches);
}

TEST_F(SidecarFiles, DamagedOrForeignSidecarsAreReportedNotUsed) {
  WriteFile(Csv, Bytes);
  EXPECT_EQ(ReadSidecar(Csv).State, TSidecarRead::TState::None);
  const QByteArray good = SidecarJson(Meta(Bytes));
  const struct {
    const char* Name;
    QByteArray Json;
  } cases[] = {
      {"not JSON", "{\"format\": \"calorix-record\", "},
      {"an array", "[1, 2]"},
      {"another format", QByteArray(good).replace("calorix-record", "something-else")},
      {"another version", QByteArray(good).replace("\"version\": 1", "\"version\": 2")},
      {"a checksum that is no SHA-256",
       QByteArray(good).replace("\"csv_sha256\": \"", "\"csv_sha256\": \"x")},
      {"an unknown event kind", QByteArray(good).replace("\"setpoint\"", "\"teleport\"")},
      {"an event without its time", QByteArray(good).replace("\"time\"", "\"tine\"")},
      {"no events", QByteArray(good).replace("\"events\"", "\"evens\"")},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.Json, good) << c.Name;
    WriteFile(SidecarPath(Csv), c.Json);
    const TSidecarRead read = ReadSidecar(Csv);
    EXPECT_EQ(read.State, TSidecarRead::TState::Damaged) << c.Name;
    EXPECT_FALSE(read.Error.isEmpty()) << c.Name;
  }
}

}  // namespace
}  // namespace calorix
