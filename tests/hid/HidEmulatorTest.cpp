#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "link/Hid.h"
#include "link/HidEmulator.h"
#include "tests/hid/HidTestSupport.h"

namespace calorix {
namespace {

using test::Settle;
using test::WaitFor;

constexpr int kTestRetryMs = 20;

// The outside program's end: a listening SOCK_SEQPACKET socket and one connection.
class TTestEmulator {
 public:
  explicit TTestEmulator(QString path) : FPath(std::move(path)) {}
  ~TTestEmulator() { Stop(); }

  bool Listen() {
    const QByteArray path = FPath.toLocal8Bit();
    ::unlink(path.constData());
    FListen = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    return FListen >= 0 && ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
           ::listen(FListen, 4) == 0;
  }

  // Waits (running the event loop, where the program connects) for the program.
  bool Accept(int ms = 3000) {
    return WaitFor(
        [this] {
          FConn = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
          return FConn >= 0;
        },
        ms);
  }

  bool Send(const QByteArray& packet) {
    return ::send(FConn, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL) == packet.size();
  }

  std::optional<QByteArray> Receive(int ms = 1000) {
    pollfd p{FConn, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
      return std::nullopt;
    QByteArray buffer(70000, Qt::Uninitialized);
    const ssize_t n = ::recv(FConn, buffer.data(), size_t(buffer.size()), 0);
    if (n <= 0)
      return std::nullopt;
    buffer.truncate(qsizetype(n));
    return buffer;
  }

  // The emulator quits: connection and listening socket closed, socket file gone.
  void Stop() {
    if (FConn >= 0)
      ::close(FConn);
    if (FListen >= 0) {
      ::close(FListen);
      ::unlink(FPath.toLocal8Bit().constData());
    }
    FConn = FListen = -1;
  }

 private:
  QString FPath;
  int FListen = -1;
  int FConn = -1;
};

QByteArray Announce(const QString& id, const QString& product, const QString& serial,
                    int inputLength, int outputLength, bool numbered) {
  QJsonObject o{{"id", id},
                {"manufacturer", "Lab"},
                {"product", product},
                {"serial", serial},
                {"input_report_length", inputLength},
                {"output_report_length", outputLength},
                {"numbered_reports", numbered}};
  return 'A' + QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray WithId(char type, const QByteArray& id, const QByteArray& data) {
  QByteArray p;
  p.append(type);
  p.append(char(id.size()));
  p.append(id);
  p.append(data);
  return p;
}

QByteArray Input(const QByteArray& id, const QByteArray& data) {
  return WithId('I', id, data);
}

struct TReceived {
  uint8_t ReportId = 0;
  QByteArray Data;
};

class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    FPath = FDir.path() + "/emu.sock";
    FEmulator = std::make_unique<TTestEmulator>(FPath);
    ASSERT_TRUE(FEmulator->Listen());
    auto platform = std::make_unique<THidEmulatorPlatform>(FPath, kTestRetryMs);
    FPlatform = platform.get();
    FPlatform->OnStatus = [this](const QString& s) { FStatuses << s; };
    FPlatform->OnDiagnostic = [this](const QString& s) { FDiagnostics << s; };
    FCtl = std::make_unique<TJvHidDeviceController>(std::move(platform));
    FCtl->OnArrival = [this](TJvHidDevice* d) {
      // Names and lengths are read while the arrival runs, as the program does.
      d->VendorName();
      d->ProductName();
      d->Caps();
      FLog << "+" + d->SerialNumber();
    };
    FCtl->OnRemoval = [this](TJvHidDevice* d) { FLog << "-" + d->SerialNumber(); };
    ASSERT_TRUE(FEmulator->Accept());
  }

  void TearDown() override {
    for (TJvHidDevice*& d : FCheckedOut)
      FCtl->CheckIn(d);
  }

  // A plain thermostat (no report IDs) and an adapter with numbered reports.
  void AnnounceBoth() {
    ASSERT_TRUE(FEmulator->Send(Announce("T1", "Thermostat", "TH01", 65, 65, false)));
    ASSERT_TRUE(FEmulator->Send(Announce("A1", "Adapter", "AD01", 64, 64, true)));
    ASSERT_TRUE(WaitFor([this] { return FLog.size() == 2; }));
  }

  TJvHidDevice* CheckOut(const QString& product) {
    TJvHidDevice* d = nullptr;
    if (!FCtl->CheckOutByProductName(d, product))
      return nullptr;
    FCheckedOut.push_back(d);
    d->SetOnData([this](TJvHidDevice*, uint8_t id, const uint8_t* data, uint16_t size) {
      FReceived.push_back({id, QByteArray(reinterpret_cast<const char*>(data), size)});
    });
    return d;
  }

  bool WaitDiagnostics(qsizetype n) {
    return WaitFor([&] { return FDiagnostics.size() >= n; }, 2000);
  }

  QTemporaryDir FDir;
  QString FPath;
  std::unique_ptr<TTestEmulator> FEmulator;
  THidEmulatorPlatform* FPlatform = nullptr;
  std::unique_ptr<TJvHidDeviceController> FCtl;
  std::vector<TJvHidDevice*> FCheckedOut;
  QStringList FLog, FStatuses, FDiagnostics;
  std::vector<TReceived> FReceived;
};

TEST_F(EmulatorTest, AnnouncedInterfacesArriveWithNamesAndLengths) {
  EXPECT_TRUE(FPlatform->IsConnected());
  EXPECT_EQ(FStatuses.last(), "Эмулятор устройств подключён: " + FPath);
  AnnounceBoth();
  EXPECT_EQ(FLog, QStringList({"+TH01", "+AD01"}));
  const auto devices = FCtl->Devices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]->ProductName(), "Thermostat");
  EXPECT_EQ(devices[0]->VendorName(), "Lab");
  EXPECT_EQ(devices[0]->Caps().InputReportByteLength, 65);
  EXPECT_EQ(devices[0]->Caps().OutputReportByteLength, 65);
  EXPECT_EQ(devices[1]->ProductName(), "Adapter");
  EXPECT_EQ(devices[1]->Caps().InputReportByteLength, 64);
  EXPECT_NE(devices[0]->Identity(), devices[1]->Identity());
  EXPECT_TRUE(FDiagnostics.filter("пропущен").isEmpty());
}

TEST_F(EmulatorTest, WriteSendsTheWholeOutputReportAsHidrawTakesIt) {
  AnnounceBoth();
  TJvHidDevice* plain = CheckOut("Thermostat");
  TJvHidDevice* adapter = CheckOut("Adapter");
  ASSERT_TRUE(plain && adapter);

  const uint8_t shortReport[] = {0, 'A', 'B'};
  uint32_t written = 0;
  ASSERT_TRUE(plain->WriteFile(shortReport, 3, written));
  EXPECT_EQ(written, 3u);
  QByteArray expected = WithId('O', "T1", QByteArray("\0AB", 3));
  expected.append(QByteArray(62, '\0'));  // padded to the 65-byte output report
  EXPECT_EQ(FEmulator->Receive(), expected);

  // Numbered: the report ID stays byte 0; a longer write is cut to the report length.
  std::vector<uint8_t> numbered(70, 0xEE);
  numbered[0] = 5;
  ASSERT_TRUE(adapter->WriteFile(numbered.data(), uint32_t(numbered.size()), written));
  EXPECT_EQ(written, 64u);
  expected = WithId('O', "A1", QByteArray(1, '\x05') + QByteArray(63, '\xEE'));
  EXPECT_EQ(FEmulator->Receive(), expected);
}

TEST_F(EmulatorTest, InputReachesTheCheckedOutDeviceWithReportIdAndPadding) {
  AnnounceBoth();
  ASSERT_TRUE(CheckOut("Thermostat") && CheckOut("Adapter"));
  ASSERT_TRUE(FEmulator->Send(Input("T1", "OK\r")));
  ASSERT_TRUE(WaitFor([this] { return FReceived.size() == 1; }));
  EXPECT_EQ(FReceived[0].ReportId, 0);
  EXPECT_EQ(FReceived[0].Data, QByteArray("OK\r") + QByteArray(61, '\0'));  // 65 - ID - 3

  ASSERT_TRUE(FEmulator->Send(Input("A1", QByteArray("\x07\x01\x02", 3))));
  ASSERT_TRUE(WaitFor([this] { return FReceived.size() == 2; }));
  EXPECT_EQ(FReceived[1].ReportId, 7);
  EXPECT_EQ(FReceived[1].Data, QByteArray("\x01\x02", 2) + QByteArray(61, '\0'));
}

TEST_F(EmulatorTest, ADeviceAnnouncedBusyCannotBeLocked) {
  QByteArray busy = Announce("B1", "Busy", "BU01", 65, 65, false);
  busy.replace("\"numbered_reports\":false", "\"numbered_reports\":false,\"busy\":true");
  ASSERT_TRUE(FEmulator->Send(busy));
  ASSERT_TRUE(FEmulator->Send(Announce("T1", "Thermostat", "TH01", 65, 65, false)));
  ASSERT_TRUE(WaitFor([this] { return FLog.size() == 2; }));
  TJvHidDevice* held = CheckOut("Busy");
  TJvHidDevice* other = CheckOut("Thermostat");
  ASSERT_TRUE(held && other);
  EXPECT_FALSE(held->Lock());
  EXPECT_TRUE(held->IsBusy());
  EXPECT_TRUE(other->Lock());
  EXPECT_FALSE(other->IsBusy());
}

TEST_F(EmulatorTest, InputForADeviceNotCheckedOutIsDropped) {
  AnnounceBoth();
  ASSERT_TRUE(FEmulator->Send(Input("T1", "stale")));
  Settle(50);
  ASSERT_TRUE(CheckOut("Thermostat"));
  Settle(50);
  EXPECT_TRUE(FReceived.empty());
  ASSERT_TRUE(FEmulator->Send(Input("T1", "fresh")));
  ASSERT_TRUE(WaitFor([this] { return !FReceived.empty(); }));
  ASSERT_EQ(FReceived.size(), 1u);
  EXPECT_TRUE(FReceived[0].Data.startsWith("fresh"));
  EXPECT_TRUE(FDiagnostics.filter("пропущен").isEmpty());  // dropping is not a fault
}

TEST_F(EmulatorTest, RemovalUnplugsOnlyThatDevice) {
  AnnounceBoth();
  TJvHidDevice* plain = CheckOut("Thermostat");
  ASSERT_TRUE(plain);
  ASSERT_TRUE(FEmulator->Send("RT1"));
  ASSERT_TRUE(WaitFor([this] { return FLog.size() == 3; }));
  EXPECT_EQ(FLog.last(), "-TH01");
  EXPECT_FALSE(plain->IsPluggedIn());
  const uint8_t report[] = {0, 'X'};
  uint32_t written = 0;
  EXPECT_FALSE(plain->WriteFile(report, 2, written));
  EXPECT_FALSE(FEmulator->Receive(50).has_value());
  FCtl->CheckIn(FCheckedOut.back());
  FCheckedOut.pop_back();

  // The id is free again: the same device may come back as a new plug.
  ASSERT_TRUE(FEmulator->Send(Announce("T1", "Thermostat", "TH01", 65, 65, false)));
  ASSERT_TRUE(WaitFor([this] { return FLog.size() == 4; })) << FLog.join(' ').toStdString();
  EXPECT_EQ(FLog.last(), "+TH01");
}

TEST_F(EmulatorTest, MalformedMessagesAreNamedAndIgnored) {
  AnnounceBoth();
  ASSERT_TRUE(CheckOut("Thermostat"));
  const QByteArray valid = Announce("X1", "P", "S", 65, 65, false);
  const auto replaced = [&](const char* from, const char* to) {
    QByteArray p = valid;
    return p.replace(from, to);
  };
  struct TCase {
    const char* What;
    QByteArray Packet;
    const char* Named;
  };
  const std::vector<TCase> cases = {
      {"empty packet", QByteArray(), "пустое сообщение"},
      {"unknown type", "Zhello", "неизвестный тип 0x5a"},
      {"bad JSON", "A{\"id\":", "неверный JSON"},
      {"not an object", "A[1,2]", "не является объектом"},
      {"missing product", replaced("\"product\":\"P\",", ""), "\"product\""},
      {"length not a number",
       replaced("\"input_report_length\":65", "\"input_report_length\":\"65\""),
       "input_report_length"},
      {"negative length", replaced("\"output_report_length\":65", "\"output_report_length\":-1"),
       "output_report_length"},
      {"fractional length", replaced("\"input_report_length\":65", "\"input_report_length\":6.5"),
       "input_report_length"},
      {"numbered not bool", replaced("\"numbered_reports\":false", "\"numbered_reports\":0"),
       "numbered_reports"},
      {"busy not bool",
       replaced("\"numbered_reports\":false", "\"numbered_reports\":false,\"busy\":1"), "\"busy\""},
      {"empty id", replaced("\"id\":\"X1\"", "\"id\":\"\""), "\"id\""},
      {"duplicate id", Announce("T1", "Other", "S2", 65, 65, false), "\"T1\" уже подключено"},
      {"removal of unknown id", "RNOPE", "нет устройства \"NOPE\""},
      {"input for unknown id", Input("NOPE", "x"), "нет устройства \"NOPE\""},
      {"input header cut short", QByteArray("I\x05T1", 4), "короче заголовка"},
      {"input without a report", Input("T1", ""), "длина 0"},
      {"unnumbered input longer than its report", Input("T1", QByteArray(65, 'x')), "длина 65"},
      {"numbered input longer than its report", Input("A1", QByteArray(65, 'x')), "длина 65"},
      {"packet bigger than any message", 'I' + QByteArray(70000, 'x'), "длина 70001"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const qsizetype before = FDiagnostics.size();
    ASSERT_TRUE(FEmulator->Send(c.Packet));
    // Messages are handled in order: a second line for one message would be
    // seen here, at the next.
    ASSERT_TRUE(WaitDiagnostics(before + 1));
    ASSERT_EQ(FDiagnostics.size(), before + 1);  // one line per message
    EXPECT_TRUE(FDiagnostics.last().contains(QString::fromUtf8(c.Named)))
        << FDiagnostics.last().toStdString();
  }
  // The good devices still work; once their input is through, everything
  // sent before it has been handled: nothing else arrived or left.
  const qsizetype diagnostics = FDiagnostics.size();
  ASSERT_TRUE(FEmulator->Send(Input("T1", QByteArray(64, 'y'))));  // exactly the report length
  ASSERT_TRUE(WaitFor([this] { return !FReceived.empty(); }));
  ASSERT_EQ(FReceived.size(), 1u);
  EXPECT_EQ(FReceived[0].Data, QByteArray(64, 'y'));
  EXPECT_EQ(FLog, QStringList({"+TH01", "+AD01"}));
  EXPECT_TRUE(FPlatform->IsConnected());
  EXPECT_EQ(FDiagnostics.size(), diagnostics);
}

TEST_F(EmulatorTest, EmulatorGoneRemovesEverythingThenReconnects) {
  AnnounceBoth();
  TJvHidDevice* plain = CheckOut("Thermostat");
  ASSERT_TRUE(plain);
  FEmulator->Stop();
  ASSERT_TRUE(WaitFor([this] { return FLog.size() == 4; }));
  EXPECT_TRUE(FLog.contains("-TH01"));
  EXPECT_TRUE(FLog.contains("-AD01"));
  // The checked-out device stays listed, unplugged, until it is checked in.
  EXPECT_FALSE(plain->IsPluggedIn());
  EXPECT_EQ(FCtl->Devices().size(), 1u);
  EXPECT_TRUE(FStatuses.filter("Эмулятор устройств отключился: " + FPath).size() == 1);
  const uint8_t report[] = {0, 'X'};
  uint32_t written = 0;
  EXPECT_FALSE(plain->WriteFile(report, 2, written));
  FCtl->CheckIn(FCheckedOut.back());
  FCheckedOut.pop_back();

  // Retries fail while nobody listens, and say so once.
  ASSERT_TRUE(WaitFor([this] {
    return FStatuses.last().startsWith("Эмулятор устройств недоступен: " + FPath + ": ");
  }));
  Settle(4 * kTestRetryMs);
  EXPECT_EQ(FStatuses.filter("недоступен").size(), 1);

  ASSERT_TRUE(FEmulator->Listen());
  ASSERT_TRUE(FEmulator->Accept());
  ASSERT_TRUE(WaitFor([this] { return FPlatform->IsConnected(); }));
  EXPECT_EQ(FStatuses.last(), "Эмулятор устройств подключён: " + FPath);
  ASSERT_TRUE(FEmulator->Send(Announce("T1", "Thermostat", "TH01", 65, 65, false)));
  ASSERT_TRUE(WaitFor([this] { return FLog.size() == 5; }));
  EXPECT_EQ(FLog.last(), "+TH01");
  TJvHidDevice* again = CheckOut("Thermostat");
  ASSERT_TRUE(again);
  ASSERT_TRUE(again->WriteFile(report, 2, written));
  const auto packet = FEmulator->Receive();
  ASSERT_TRUE(packet.has_value());
  EXPECT_TRUE(packet->startsWith(WithId('O', "T1", QByteArray("\0X", 2))));
}

TEST(EmulatorPlatform, WithoutAnEmulatorItRunsWithoutDevicesAndKeepsTrying) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/none.sock";
  QStringList statuses;
  auto owned = MakeEmulatorPlatform(path, [&](const QString& s) { statuses << s; });
  EXPECT_TRUE(owned->Enumerate().empty());
  ASSERT_TRUE(WaitFor([&] { return !statuses.isEmpty(); }, 2000));
  EXPECT_TRUE(statuses[0].startsWith("Эмулятор устройств недоступен: " + path + ": "));
  EXPECT_TRUE(owned->Enumerate().empty());
  THidInterfaceInfo info;
  info.Identity = "emu:1";
  QString error;
  EXPECT_EQ(owned->Open(info, error), nullptr);
  EXPECT_FALSE(error.isEmpty());

  // An emulator started later is found by a retry.
  auto* platform = static_cast<THidEmulatorPlatform*>(owned.get());
  TTestEmulator emulator(path);
  ASSERT_TRUE(emulator.Listen());
  platform->Connect();  // the 2 s interval is too long for a test
  ASSERT_TRUE(emulator.Accept());
  EXPECT_TRUE(platform->IsConnected());
  EXPECT_EQ(statuses.last(), "Эмулятор устройств подключён: " + path);
}

TEST(EmulatorPlatform, RetriesOnItsOwnAtTheInterval) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/late.sock";
  THidEmulatorPlatform platform(path, kTestRetryMs);
  Settle(2 * kTestRetryMs);
  EXPECT_FALSE(platform.IsConnected());
  TTestEmulator emulator(path);
  ASSERT_TRUE(emulator.Listen());
  ASSERT_TRUE(emulator.Accept());
  EXPECT_TRUE(WaitFor([&] { return platform.IsConnected(); }));
}

TEST(EmulatorPlatform, AnUnusablePathIsReportedNotCrashedOn) {
  for (const QString& path : {QString(), QString(200, u'x')}) {
    THidEmulatorPlatform platform(path, kTestRetryMs);
    ASSERT_TRUE(WaitFor([&] { return !platform.Status().isEmpty(); }, 2000));
    EXPECT_TRUE(platform.Status().startsWith("Эмулятор устройств недоступен: "));
    EXPECT_FALSE(platform.IsConnected());
  }
}

}  // namespace
}  // namespace calorix
