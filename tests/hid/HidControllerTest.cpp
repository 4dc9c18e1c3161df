#include <gtest/gtest.h>

#include <QObject>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "link/Hid.h"
#include "link/SimHidPlatform.h"
#include "tests/hid/HidTestSupport.h"

namespace calorix {
namespace {

using test::Settle;
using test::WaitFor;

TSimThermostatOptions Named(const QByteArray& serial, const QByteArray& product = {}) {
  TSimThermostatOptions o;
  o.Serial = serial;
  o.Product = product;
  o.Noise = 0.0;
  return o;
}

// A controller over a simulated platform that logs "+serial" and "-serial".
class ControllerTest : public ::testing::Test {
 protected:
  void Create() {
    auto platform = std::make_unique<TSimHidPlatform>(FClock);
    FSim = platform.get();
    for (const auto& o : FInitial)
      FDevices.push_back(FSim->Plug(o));
    FCtl = std::make_unique<TJvHidDeviceController>(std::move(platform));
    FCtl->OnArrival = [this](TJvHidDevice* d) {
      FEnumeratedDuringArrival = FEnumeratedDuringArrival && d->IsEnumerated();
      FLog << "+" + d->SerialNumber();
      if (FOnArrival)
        FOnArrival(d);
    };
    FCtl->OnRemoval = [this](TJvHidDevice* d) {
      FLog << "-" + d->SerialNumber();
      if (FOnRemoval)
        FOnRemoval(d);
    };
    FCtl->OnHandlerError = [this](std::exception_ptr) { ++FHandlerErrors; };
  }

  // Runs the event loop until the platform's notification has been handled.
  void Flush() { Settle(30); }

  std::shared_ptr<TManualClock> FClock = std::make_shared<TManualClock>();
  std::vector<TSimThermostatOptions> FInitial;
  std::vector<std::shared_ptr<TSimThermostat>> FDevices;
  TSimHidPlatform* FSim = nullptr;
  std::unique_ptr<TJvHidDeviceController> FCtl;
  QStringList FLog;
  bool FEnumeratedDuringArrival = true;
  int FHandlerErrors = 0;
  TJvHidPlugEvent FOnArrival, FOnRemoval;
};

TEST_F(ControllerTest, FirstScanRunsFromTheEventLoopInEnumerationOrder) {
  FInitial = {Named("A"), Named("B"), Named("C")};
  Create();
  EXPECT_TRUE(FLog.isEmpty());  // posted, not run inside the constructor
  Flush();
  EXPECT_EQ(FLog, QStringList({"+A", "+B", "+C"}));
  EXPECT_TRUE(FEnumeratedDuringArrival);
  for (auto* d : FCtl->Devices())
    EXPECT_FALSE(d->IsEnumerated());
}

TEST_F(ControllerTest, ScanDiffing) {
  FInitial = {Named("A"), Named("B"), Named("C")};
  Create();
  Flush();
  const auto before = FCtl->Devices();
  FLog.clear();

  // A scan without change announces nothing and keeps the same objects.
  FCtl->DeviceChange();
  EXPECT_TRUE(FLog.isEmpty());
  EXPECT_EQ(FCtl->Devices(), before);

  // Removals come first, last to first, then arrivals in enumeration order.
  FSim->Unplug(FDevices[0]);
  FSim->Unplug(FDevices[2]);
  FSim->Plug(Named("D"));
  FSim->Plug(Named("E"));
  Flush();
  EXPECT_EQ(FLog, QStringList({"-C", "-A", "+D", "+E"}));
  ASSERT_EQ(FCtl->Devices().size(), 3u);
  EXPECT_EQ(FCtl->Devices()[0], before[1]);  // B kept its object
}

TEST_F(ControllerTest, ReusedNodeIsANewDevice) {
  FInitial = {Named("A")};
  Create();
  Flush();
  const QString path = FCtl->Devices()[0]->DevicePath();
  FLog.clear();
  FSim->Unplug(FDevices[0]);
  FSim->Plug(Named("A"));  // same serial, and the lowest free node again
  Flush();
  EXPECT_EQ(FLog, QStringList({"-A", "+A"}));
  ASSERT_EQ(FCtl->Devices().size(), 1u);
  EXPECT_EQ(FCtl->Devices()[0]->DevicePath(), path);
}

TEST_F(ControllerTest, DeviceGoneBeforeTheScanIsNeverAnnounced) {
  Create();
  Flush();
  auto brief = FSim->Plug(Named("X"));
  FSim->Unplug(brief);
  Flush();
  EXPECT_TRUE(FLog.isEmpty());
}

TEST_F(ControllerTest, NotificationDuringAScanIsDropped) {
  FInitial = {Named("A"), Named("B")};
  Create();
  FOnArrival = [this](TJvHidDevice*) {
    EXPECT_TRUE(FCtl->InScan());
    FCtl->DeviceChange();
  };
  Flush();
  EXPECT_EQ(FLog, QStringList({"+A", "+B"}));
  EXPECT_EQ(FSim->EnumerationCount(), 1);
}

TEST_F(ControllerTest, ThrowingHandlerDoesNotWedgeTheController) {
  FInitial = {Named("A"), Named("B")};
  Create();
  bool thrown = false;
  FOnArrival = [&](TJvHidDevice*) {
    if (!thrown) {
      thrown = true;
      throw std::runtime_error("bad pattern");
    }
  };
  Flush();
  EXPECT_EQ(FHandlerErrors, 1);
  EXPECT_FALSE(FCtl->InScan());
  EXPECT_EQ(FLog, QStringList({"+A"}));
  // The next change still scans; B, not announced yet, is new to it.
  FSim->Plug(Named("C"));
  Flush();
  EXPECT_EQ(FLog, QStringList({"+A", "+B", "+C"}));
}

TEST_F(ControllerTest, CheckOutByProductNameTakesTheFirstFreeOne) {
  FInitial = {Named("A", "USB Thermostat"), Named("B", "Other"), Named("C", "USB Thermostat")};
  Create();
  FOnArrival = [](TJvHidDevice* d) { d->ProductName(); };  // names are cached in the arrival
  Flush();
  const auto list = FCtl->Devices();
  TJvHidDevice* first = nullptr;
  TJvHidDevice* second = nullptr;
  TJvHidDevice* third = list[1];
  EXPECT_TRUE(FCtl->CheckOutByProductName(first, "USB Thermostat"));
  EXPECT_EQ(first, list[0]);
  EXPECT_TRUE(FCtl->CheckOutByProductName(second, "USB Thermostat"));
  EXPECT_EQ(second, list[2]);
  EXPECT_FALSE(FCtl->CheckOutByProductName(third, "USB Thermostat"));
  EXPECT_EQ(third, nullptr);
  EXPECT_FALSE(FCtl->CheckOutByProductName(third, "usb thermostat"));  // case-sensitive
  EXPECT_FALSE(FCtl->CheckOutByProductName(third, ""));
  // A checked-in device is free again.
  FCtl->CheckIn(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_TRUE(FCtl->CheckOutByProductName(third, "USB Thermostat"));
  EXPECT_EQ(third, list[0]);
}

TEST_F(ControllerTest, CheckInOfAnUnpluggedDeviceDestroysItOnce) {
  FInitial = {Named("A")};
  Create();
  TJvHidDevice* held = nullptr;
  FOnArrival = [&](TJvHidDevice* d) { FCtl->CheckOutByProductName(held, d->ProductName()); };
  int destroyed = 0;
  int removals = 0;
  FOnRemoval = [&](TJvHidDevice* d) {
    ++removals;
    EXPECT_FALSE(d->IsPluggedIn());
    EXPECT_EQ(d->SerialNumber(), "A");  // the names survive the unplug
    TJvHidDevice* var = d;
    FCtl->CheckIn(var);
    EXPECT_EQ(var, nullptr);
    held = nullptr;
  };
  Flush();
  ASSERT_NE(held, nullptr);
  QObject::connect(held, &QObject::destroyed, [&] { ++destroyed; });
  FSim->Unplug(FDevices[0]);
  Flush();
  FSim->Plug(Named("B"));
  Flush();
  EXPECT_EQ(removals, 1);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(FCtl->Devices().size(), 1u);
}

TEST_F(ControllerTest, UnpluggedDeviceStaysListedWhileCheckedOut) {
  FInitial = {Named("A")};
  Create();
  TJvHidDevice* held = nullptr;
  FOnArrival = [&](TJvHidDevice* d) { FCtl->CheckOutByProductName(held, d->ProductName()); };
  Flush();
  FSim->Unplug(FDevices[0]);
  Flush();
  FCtl->DeviceChange();  // announced again at every scan while it stays checked out
  EXPECT_EQ(FLog, QStringList({"+A", "-A", "-A"}));
  EXPECT_EQ(FCtl->Devices().size(), 1u);
  uint32_t written = 7;
  const uint8_t report[65] = {};
  EXPECT_FALSE(held->WriteFile(report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  FCtl->CheckIn(held);
  EXPECT_TRUE(FCtl->Devices().empty());
}

TEST_F(ControllerTest, CapsAndNamesNeedTheDeviceOpenable) {
  TSimThermostatOptions long_name = Named("A");
  long_name.Product = QByteArray(300, 'x');
  FInitial = {long_name};
  Create();
  HIDP_CAPS inArrival;
  FOnArrival = [&](TJvHidDevice* d) { inArrival = d->Caps(); };
  Flush();
  EXPECT_EQ(inArrival.InputReportByteLength, 65);
  EXPECT_EQ(inArrival.OutputReportByteLength, 65);
  auto* dev = FCtl->Devices()[0];
  EXPECT_EQ(dev->SerialNumber(), "A");  // cached in the arrival
  // A free device outside its arrival is not opened: what was not read stays empty.
  EXPECT_EQ(dev->ProductName(), "");
  TJvHidDevice* held = nullptr;
  EXPECT_FALSE(FCtl->CheckOutByProductName(held, QString(254, u'x')));
}

TEST_F(ControllerTest, NameIsReadOnceCheckedOut) {
  TSimThermostatOptions o = Named("A");
  o.Product = QByteArray(300, 'x');
  FInitial = {o};
  Create();
  TJvHidDevice* held = nullptr;
  FOnArrival = [&](TJvHidDevice* d) {
    EXPECT_EQ(d->ProductName().size(), 254);
    FCtl->CheckOutByProductName(held, d->ProductName());
  };
  Flush();
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->ProductName(), QString(254, u'x'));
}

TEST_F(ControllerTest, DeviceWithoutAccessArrivesButIsNeitherReadNorWritten) {
  TSimThermostatOptions o = Named("A");
  o.Access = THidAccess::None;
  FInitial = {o};
  Create();
  TJvHidDevice* held = nullptr;
  FOnArrival = [&](TJvHidDevice* d) { FCtl->CheckOutByProductName(held, d->ProductName()); };
  Flush();
  ASSERT_NE(held, nullptr);
  EXPECT_FALSE(held->HasReadWriteAccess());
  EXPECT_FALSE(held->AccessError().isEmpty());
  int reports = 0;
  held->SetOnData([&](TJvHidDevice*, uint8_t, const uint8_t*, uint16_t) { ++reports; });
  FDevices[0]->InjectPayload("x");
  uint32_t written = 0;
  const auto request = test::RequestReport(":00000000 dat.t rd\r", TSimFraming::Plain);
  EXPECT_FALSE(held->WriteFile(request.data(), uint32_t(request.size()), written));
  Settle();
  EXPECT_EQ(reports, 0);
  EXPECT_EQ(FDevices[0]->ReportsReceived(), 0u);
}

TEST(HidNames, Utf8ToUtf16WithLimit) {
  struct TCase {
    QByteArray Utf8;
    QString Expected;
  };
  const QString cyrillic = QString::fromUtf8("Норвик Термостат");
  const std::vector<TCase> cases = {
      {"Norvik", "Norvik"},
      {cyrillic.toUtf8(), cyrillic},
      {QByteArray("abc\0def", 7), "abc"},
      {QByteArray(300, 'a'), QString(254, u'a')},
      {QByteArray(254, 'a'), QString(254, u'a')},
      // A pair that would be cut in half is left out whole.
      {QByteArray(253, 'a') + QString::fromUtf8("\U0001F321").toUtf8(), QString(253, u'a')},
      {QByteArray(252, 'a') + QString::fromUtf8("\U0001F321").toUtf8(),
       QString(252, u'a') + QString::fromUtf8("\U0001F321")},
      {"\xff\xfe bad", QString::fromUtf8("\xff\xfe bad")},
      {"", ""},
  };
  for (const auto& c : cases) {
    const QString name = HidNameFromUtf8(c.Utf8);
    EXPECT_EQ(name, c.Expected) << c.Utf8.left(20).toStdString();
    EXPECT_LE(name.size(), 254);
  }
}

// ---------------------------------------------------------------- reading

class ReadingTest : public ControllerTest {
 protected:
  void SetUp() override {
    FInitial = {Named("A")};
    Create();
    FOnArrival = [this](TJvHidDevice* d) { FCtl->CheckOutByProductName(FHeld, d->ProductName()); };
    Flush();
    ASSERT_NE(FHeld, nullptr);
    FDev = FDevices[0];
  }

  void Collect() {
    FHeld->SetOnData([this](TJvHidDevice* d, uint8_t id, const uint8_t* data, uint16_t size) {
      EXPECT_EQ(d, FHeld);
      EXPECT_EQ(++FActive, 1) << "data events overlap";
      FIds.push_back(id);
      FReports.emplace_back(data, data + size);
      --FActive;
    });
  }

  TJvHidDevice* FHeld = nullptr;
  std::shared_ptr<TSimThermostat> FDev;
  int FActive = 0;
  std::vector<uint8_t> FIds;
  std::vector<std::vector<uint8_t>> FReports;
};

TEST_F(ReadingTest, ReportIdIsSplitOff) {
  Collect();
  std::vector<uint8_t> full(65, 0);
  full[0] = 7;
  full[1] = 0x41;
  FDev->InjectReport(full);
  FDev->InjectReport({9});
  FDev->InjectReport({});  // a read of nothing gives no event
  FDev->InjectReport({3, 1, 2});
  ASSERT_TRUE(WaitFor([&] { return FReports.size() == 3; }));
  EXPECT_EQ(FIds, (std::vector<uint8_t>{7, 9, 3}));
  EXPECT_EQ(FReports[0].size(), 64u);
  EXPECT_EQ(FReports[0][0], 0x41);
  EXPECT_TRUE(FReports[1].empty());
  EXPECT_EQ(FReports[2], (std::vector<uint8_t>{1, 2}));
}

TEST_F(ReadingTest, WriteGetsTheAnswer) {
  Collect();
  const auto request = test::RequestReport(":00000000 dat.t rd\r", TSimFraming::Plain);
  uint32_t written = 0;
  EXPECT_TRUE(FHeld->WriteFile(request.data(), uint32_t(request.size()), written));
  EXPECT_EQ(written, 65u);
  ASSERT_TRUE(WaitFor([&] { return FReports.size() == 1; }));
  std::vector<uint8_t> report = {FIds[0]};
  report.insert(report.end(), FReports[0].begin(), FReports[0].end());
  EXPECT_EQ(test::ReportPayload(report, TSimFraming::Plain), "00000000 0 20.00\r");
}

TEST_F(ReadingTest, ReportsAreKeptWhileNotReadUpTo128) {
  for (int i = 0; i < 130; ++i)
    FDev->InjectReport({0, uint8_t(i)});
  ASSERT_TRUE(WaitFor([&] { return FDev->PendingInputReports() == 0; }));  // drained by now
  Settle();
  EXPECT_TRUE(FReports.empty());
  Collect();
  ASSERT_TRUE(WaitFor([&] { return FReports.size() == 128; }));
  Settle();
  ASSERT_EQ(FReports.size(), 128u);
  EXPECT_EQ(FReports.front()[0], 2);  // the oldest two were lost
  EXPECT_EQ(FReports.back()[0], 129);
}

TEST_F(ReadingTest, HandOverIsOneAtATimeEvenWithANestedEventLoop) {
  int active = 0;
  std::vector<uint8_t> order;
  FHeld->SetOnData([&](TJvHidDevice*, uint8_t, const uint8_t* data, uint16_t) {
    EXPECT_EQ(++active, 1);
    order.push_back(data[0]);
    Settle(5);  // as a message box shown from the event would
    --active;
  });
  for (int i = 0; i < 10; ++i)
    FDev->InjectReport({0, uint8_t(i)});
  ASSERT_TRUE(WaitFor([&] { return order.size() == 10; }));
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(order[size_t(i)], i);
}

TEST_F(ReadingTest, StopDuringAHandOverDoesNotDeadlock) {
  int seen = 0;
  FHeld->SetOnData([&](TJvHidDevice* d, uint8_t, const uint8_t*, uint16_t) {
    ++seen;
    d->SetOnData({});  // the event stops its own reading
    FCtl->CheckIn(FHeld);
  });
  for (int i = 0; i < 5; ++i)
    FDev->InjectReport({0, uint8_t(i)});
  ASSERT_TRUE(WaitFor([&] { return seen == 1; }));
  Settle();
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(FHeld, nullptr);
}

TEST_F(ReadingTest, StopWithAHandOverQueuedKeepsTheReport) {
  Collect();
  FDev->InjectReport({0, 1});
  // The reader queues it and posts the hand-over; stop before the event loop runs it.
  for (int i = 0; i < 500 && FDev->PendingInputReports() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(FDev->PendingInputReports(), 0u);
  FHeld->SetOnData({});
  Settle();
  EXPECT_TRUE(FReports.empty());
  Collect();
  ASSERT_TRUE(WaitFor([&] { return FReports.size() == 1; }));
}

TEST_F(ReadingTest, CheckInWhileTheReaderWaitsReturns) {
  FDev->SetLatency(std::chrono::seconds(30));
  Collect();
  const auto request = test::RequestReport(":00000000 dat.t rd\r", TSimFraming::Plain);
  uint32_t written = 0;
  FHeld->WriteFile(request.data(), uint32_t(request.size()), written);
  FCtl->CheckIn(FHeld);  // would hang if the stop did not wake the read
  EXPECT_EQ(FHeld, nullptr);
  EXPECT_TRUE(FReports.empty());
}

TEST_F(ReadingTest, UnplugDuringADataEventFreesTheDeviceAfterwards) {
  bool done = false;
  FOnRemoval = [this](TJvHidDevice* d) {
    TJvHidDevice* var = d;
    FCtl->CheckIn(var);
    FHeld = nullptr;
  };
  FHeld->SetOnData([&](TJvHidDevice* d, uint8_t, const uint8_t*, uint16_t) {
    FSim->Unplug(FDev);
    Settle(50);  // the scan runs in here and checks the device in
    EXPECT_FALSE(d->IsPluggedIn());
    done = true;
  });
  FDev->InjectReport({0, 1});
  ASSERT_TRUE(WaitFor([&] { return done; }));
  Settle();
  EXPECT_EQ(FLog, QStringList({"+A", "-A"}));
  EXPECT_TRUE(FCtl->Devices().empty());
}

TEST_F(ReadingTest, ThrowingDataEventIsReportedAndReadingGoesOn) {
  int calls = 0;
  FHeld->SetOnData([&](TJvHidDevice*, uint8_t, const uint8_t*, uint16_t) {
    if (++calls == 1)
      throw std::runtime_error("handler failed");
  });
  FDev->InjectReport({0, 1});
  FDev->InjectReport({0, 2});
  ASSERT_TRUE(WaitFor([&] { return calls == 2; }));
  EXPECT_EQ(FHandlerErrors, 1);
}

TEST_F(ReadingTest, QueueDepthAndSleepTimeSettings) {
  EXPECT_EQ(FHeld->NumOverlappedBuffers(), 128u);
  FHeld->SetNumOverlappedBuffers(4);
  FHeld->SetNumInputBuffers(128);
  EXPECT_EQ(FHeld->NumInputBuffers(), 128u);
  FHeld->SetNumOverlappedBuffers(100000);  // refused, as the driver does
  EXPECT_EQ(FHeld->NumOverlappedBuffers(), 4u);
  EXPECT_FALSE(FHeld->SetThreadSleepTime(5));
  EXPECT_TRUE(FHeld->SetThreadSleepTime(50));
  EXPECT_EQ(FHeld->ThreadSleepTime(), 50);
  for (int i = 0; i < 6; ++i)
    FDev->InjectReport({0, uint8_t(i)});
  ASSERT_TRUE(WaitFor([&] { return FDev->PendingInputReports() == 0; }));
  Settle();
  Collect();
  ASSERT_TRUE(WaitFor([&] { return FReports.size() == 4; }));
  EXPECT_EQ(FReports.front()[0], 2);
}

// Reports read and handed over, but not yet delivered when the controller
// goes, give no data event afterwards, not even from events already posted.
TEST_F(ReadingTest, ControllerDestroyedWhileReading) {
  Collect();
  for (uint8_t i = 0; i < 20; ++i)
    FDev->InjectReport({0, i});
  // The reader thread takes reports without the event loop running here.
  for (int i = 0; i < 5000 && FDev->PendingInputReports() == 20; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_LT(FDev->PendingInputReports(), 20u);
  FCtl.reset();  // stops the reader and frees the devices
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_TRUE(FReports.empty());
}

TEST(Controller, WithoutAPlatformNothingArrives) {
  TJvHidDeviceController ctl(nullptr);
  int arrivals = 0;
  ctl.OnArrival = [&](TJvHidDevice*) { ++arrivals; };
  Settle();
  ctl.DeviceChange();
  EXPECT_EQ(arrivals, 0);
  TJvHidDevice* none = nullptr;
  EXPECT_FALSE(ctl.CheckOutByProductName(none, "x"));
  ctl.CheckIn(none);
}

}  // namespace
}  // namespace calorix
