#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "link/HidDescriptor.h"
#include "link/SimHidPlatform.h"
#include "tests/hid/HidTestSupport.h"

namespace calorix {
namespace {

using test::ReportPayload;
using test::RequestReport;

struct TCommandCase {
  QByteArray Line;
  QByteArray Answer;
};

void PrintTo(const TCommandCase& c, std::ostream* os) {
  *os << c.Line.toStdString();
}

TSimThermostatOptions Quiet(TSimFraming framing = TSimFraming::Plain) {
  TSimThermostatOptions o;
  o.Framing = framing;
  o.Noise = 0.0;
  return o;
}

class Commands : public ::testing::TestWithParam<TCommandCase> {};

TEST_P(Commands, AnswerAsTheThermostatDoes) {
  TSimThermostat sim(Quiet(), std::make_shared<TManualClock>());
  EXPECT_EQ(sim.Answer(GetParam().Line), GetParam().Answer);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, Commands,
    ::testing::Values(TCommandCase{":00000000 dat.t rd", "00000000 0 20.00"},
                      TCommandCase{":12345678 set.val rd", "12345678 0 25.00"},
                      TCommandCase{":00000000 rdy rd", "00000000 0 0.10"},
                      TCommandCase{":00000000 alm.status rd", "00000000 0 000000"},
                      TCommandCase{":00000000 set.val wr 30.5", "00000000 0"},
                      TCommandCase{":00000000 set.val wr -50", "00000000 0"},
                      TCommandCase{":00000000 set.val wr 300", "00000000 0"},
                      TCommandCase{":00000000 set.val wr 1e2", "00000000 0"},
                      TCommandCase{":00000000 set.val wr 300.01", "00000000 5"},
                      TCommandCase{":00000000 set.val wr -50.1", "00000000 5"},
                      TCommandCase{":00000000 set.val wr abc", "00000000 2"},
                      TCommandCase{":00000000 set.val wr 1,5", "00000000 2"},
                      TCommandCase{":00000000 set.val wr nan", "00000000 2"},
                      TCommandCase{":00000000 set.val wr", "00000000 1"},
                      TCommandCase{":00000000 set.val wr 1 2", "00000000 1"},
                      TCommandCase{":00000000 dat.t rd 5", "00000000 1"},
                      TCommandCase{":00000000 foo rd", "00000000 3"},
                      TCommandCase{":00000000 dat.t xx", "00000000 4"},
                      TCommandCase{":00000000 dat.t wr 5", "00000000 4"},
                      TCommandCase{":00000000   dat.t    rd  ", "00000000 0 20.00"},
                      TCommandCase{"00000000 dat.t rd", "00000000 1"},
                      TCommandCase{":0000 dat.t rd", "00000000 1"},
                      TCommandCase{":000000001 dat.t rd", "00000000 1"},
                      TCommandCase{":00000000", "00000000 1"},
                      TCommandCase{":00000000 dat.t", "00000000 1"}, TCommandCase{"", ""}));

TEST(SimThermostat, SwitchedOffAnswersStatus6ToEverything) {
  TSimThermostat sim(Quiet(), std::make_shared<TManualClock>());
  sim.SetPoweredOn(false);
  for (const char* line : {":00000000 dat.t rd", ":00000001 set.val wr 20", ":00000000 foo rd"}) {
    const QByteArray answer = sim.Answer(line);
    EXPECT_TRUE(answer.endsWith(" 6")) << line << " -> " << answer.toStdString();
  }
  sim.SetPoweredOn(true);
  EXPECT_EQ(sim.Answer(":00000000 rdy rd"), "00000000 0 0.10");
}

TEST(SimThermostat, SetpointWriteIsReadBack) {
  TSimThermostat sim(Quiet(), std::make_shared<TManualClock>());
  EXPECT_EQ(sim.Answer(":00000000 set.val wr 37.25"), "00000000 0");
  EXPECT_EQ(sim.Answer(":00000000 set.val rd"), "00000000 0 37.25");
  EXPECT_EQ(sim.Answer(":00000000 set.val wr 400"), "00000000 5");
  EXPECT_DOUBLE_EQ(sim.Setpoint(), 37.25);
}

TEST(SimThermostat, BathFollowsTheSetpoint) {
  auto clock = std::make_shared<TManualClock>();
  TSimThermostatOptions o = Quiet();
  o.Setpoint = 30.0;
  TSimThermostat sim(o, clock);
  EXPECT_DOUBLE_EQ(sim.Temperature(), 20.0);
  clock->AdvanceSeconds(180.0);  // one time constant
  EXPECT_NEAR(sim.Temperature(), 30.0 - 10.0 / std::exp(1.0), 1e-9);
  clock->AdvanceSeconds(3600.0);
  EXPECT_EQ(sim.Answer(":00000000 dat.t rd"), "00000000 0 30.00");
  sim.SetPoweredOn(false);  // drifts back to the room
  clock->AdvanceSeconds(3600.0);
  sim.SetPoweredOn(true);
  EXPECT_NEAR(sim.Temperature(), 20.0, 0.01);
}

TEST(SimThermostat, NoiseStaysWithinItsAmplitude) {
  auto clock = std::make_shared<TManualClock>();
  TSimThermostatOptions o;
  o.Temperature = o.Setpoint = 25.0;
  TSimThermostat sim(o, clock);
  bool varied = false;
  for (int i = 0; i < 200; ++i) {
    const QByteArray answer = sim.Answer(":00000000 dat.t rd");
    const double t = answer.mid(answer.lastIndexOf(' ') + 1).toDouble();
    EXPECT_NEAR(t, 25.0, 0.0101);
    varied = varied || answer != "00000000 0 25.00";
  }
  EXPECT_TRUE(varied);
}

TEST(SimThermostat, DescriptorGives65ByteUnnumberedReports) {
  const QByteArray d = TSimThermostat::ReportDescriptor();
  const auto info =
      ParseReportDescriptor(reinterpret_cast<const uint8_t*>(d.constData()), size_t(d.size()));
  EXPECT_EQ(info.InputReportByteLength, TSimThermostat::kReportLength);
  EXPECT_EQ(info.OutputReportByteLength, TSimThermostat::kReportLength);
  EXPECT_FALSE(info.NumberedReports);
}

// ---------------------------------------------------------------- through reports

class Framing : public ::testing::TestWithParam<TSimFraming> {
 protected:
  void SetUp() override {
    FDev = FSim.Plug(Quiet(GetParam()));
    QString error;
    FChannel = FSim.Open(FDev->Info(), error);
    ASSERT_TRUE(FChannel) << error.toStdString();
  }

  void Send(const std::vector<uint8_t>& report) {
    size_t written = 0;
    ASSERT_TRUE(FChannel->Write(report.data(), report.size(), written));
  }
  void Send(const QByteArray& line) { Send(RequestReport(line, GetParam())); }

  // Every report that comes within the wait, as raw reports.
  std::vector<std::vector<uint8_t>> Receive(int firstWaitMs = 2000) {
    std::vector<std::vector<uint8_t>> out;
    std::vector<uint8_t> r;
    int wait = firstWaitMs;
    while (FChannel->Read(r, wait) == IHidChannel::TReadResult::Report) {
      out.push_back(r);
      wait = 50;
    }
    return out;
  }

  QByteArray ReceiveText(int firstWaitMs = 2000) {
    QByteArray text;
    for (const auto& r : Receive(firstWaitMs))
      text += ReportPayload(r, GetParam());
    return text;
  }

  TSimHidPlatform FSim{std::make_shared<TManualClock>()};
  std::shared_ptr<TSimThermostat> FDev;
  std::unique_ptr<IHidChannel> FChannel;
};

TEST_P(Framing, EveryCommandAnswersThroughReports) {
  const std::vector<TCommandCase> cases = {
      {":00000000 dat.t rd\r", "00000000 0 20.00\r"},
      {":00000000 set.val wr 42\r", "00000000 0\r"},
      {":00000000 set.val rd\r", "00000000 0 42.00\r"},
      {":00000000 rdy rd\r", "00000000 0 0.10\r"},
      {":00000000 alm.status rd\r", "00000000 0 000000\r"},
      {":00000000 set.val wr x\r", "00000000 2\r"},
      {":00000000 set.val wr 999\r", "00000000 5\r"},
      {":00000000 what rd\r", "00000000 3\r"},
      {":00000000 rdy go\r", "00000000 4\r"},
      {"hello\n", "00000000 1\r"},  // a line feed ends a line too (the console's lines)
  };
  for (const auto& c : cases) {
    Send(c.Line);
    EXPECT_EQ(ReceiveText(), c.Answer) << c.Line.toStdString();
  }
}

TEST_P(Framing, AnswerLayout) {
  Send(QByteArray(":00000000 dat.t rd\r"));
  const auto reports = Receive();
  ASSERT_EQ(reports.size(), 1u);
  const auto& r = reports[0];
  ASSERT_EQ(r.size(), 65u);
  EXPECT_EQ(r[0], 0);
  const QByteArray answer = "00000000 0 20.00\r";
  const size_t at = GetParam() == TSimFraming::Plain ? 1 : 5;
  if (GetParam() == TSimFraming::Adapter) {
    EXPECT_EQ(r[1], answer.size());
    EXPECT_EQ(r[2], 0);
  }
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(r.data() + at), answer.size()), answer);
  for (size_t i = at + size_t(answer.size()); i < r.size(); ++i)
    EXPECT_EQ(r[i], 0) << i;
}

TEST_P(Framing, LongRequestAndAnswerSpanReports) {
  // A request in several reports: plain carries 64 bytes each, adapter 60.
  const QByteArray value = QByteArray(100, '0') + "25";
  const QByteArray line = ":00000000 set.val wr " + value + "\r";
  const size_t capacity = GetParam() == TSimFraming::Plain ? 64 : 60;
  for (qsizetype at = 0; at < line.size(); at += qsizetype(capacity)) {
    Send(line.mid(at, qsizetype(capacity)));
  }
  EXPECT_EQ(ReceiveText(), "00000000 0\r");
  EXPECT_DOUBLE_EQ(FDev->Setpoint(), 25.0);

  FDev->SetAlarm(QByteArray(70, '1'));
  Send(QByteArray(":00000000 alm.status rd\r"));
  const auto reports = Receive();
  const QByteArray expected = "00000000 0 " + QByteArray(70, '1') + "\r";
  ASSERT_EQ(reports.size(), 2u);
  QByteArray text;
  for (const auto& r : reports)
    text += ReportPayload(r, GetParam());
  EXPECT_EQ(text, expected);
  if (GetParam() == TSimFraming::Adapter) {
    EXPECT_EQ(reports[0][1], 60);
    EXPECT_EQ(reports[1][1], expected.size() - 60);
  }
}

TEST_P(Framing, ScriptedFaults) {
  FDev->DropNextAnswers(1);
  Send(QByteArray(":00000000 rdy rd\r"));
  EXPECT_TRUE(Receive(200).empty());

  FDev->DuplicateNextAnswers(1);
  Send(QByteArray(":00000000 rdy rd\r"));
  EXPECT_EQ(ReceiveText(), "00000000 0 0.10\r00000000 0 0.10\r");

  FDev->SetSplitSize(5);
  Send(QByteArray(":00000000 rdy rd\r"));
  const auto split = Receive();
  EXPECT_EQ(split.size(), 4u);  // 16 characters, five per report
  FDev->SetSplitSize(0);

  FDev->InjectPayload("\xB0garbage");
  EXPECT_EQ(ReceiveText(), "\xB0garbage");

  FDev->SetPoweredOn(false);
  Send(QByteArray(":00000000 dat.t rd\r"));
  EXPECT_EQ(ReceiveText(), "00000000 6\r");
}

// A stalled machine only makes the wait longer: the answer never comes
// before its latency, whatever the load.
TEST_P(Framing, LatencyDelaysTheAnswer) {
  const auto start = std::chrono::steady_clock::now();
  FDev->SetLatency(std::chrono::milliseconds(300));
  Send(QByteArray(":00000000 rdy rd\r"));
  std::vector<uint8_t> r;
  ASSERT_EQ(FChannel->Read(r, 5000), IHidChannel::TReadResult::Report);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(ReportPayload(r, GetParam()), "00000000 0 0.10\r");
  FDev->SetLatency(std::chrono::hours(1));
  Send(QByteArray(":00000000 rdy rd\r"));
  EXPECT_EQ(FChannel->Read(r, 0), IHidChannel::TReadResult::Timeout);
  EXPECT_EQ(FChannel->Read(r, 20), IHidChannel::TReadResult::Timeout);
}

TEST_P(Framing, InterruptAndUnplug) {
  std::vector<uint8_t> r;
  FChannel->Interrupt();
  EXPECT_EQ(FChannel->Read(r, 5000), IHidChannel::TReadResult::Interrupted);
  EXPECT_EQ(FChannel->Read(r, 0), IHidChannel::TReadResult::Timeout);  // consumed
  Send(QByteArray(":00000000 rdy rd\r"));
  FSim.Unplug(FDev);
  // What was queued is still read, then the device is gone.
  EXPECT_EQ(FChannel->Read(r, 1000), IHidChannel::TReadResult::Report);
  EXPECT_EQ(FChannel->Read(r, 1000), IHidChannel::TReadResult::Gone);
  EXPECT_EQ(FChannel->Read(r, 1000), IHidChannel::TReadResult::Gone);
  size_t written = 0;
  const auto report = RequestReport(":00000000 rdy rd\r", GetParam());
  EXPECT_FALSE(FChannel->Write(report.data(), report.size(), written));
}

INSTANTIATE_TEST_SUITE_P(BothFramings, Framing,
                         ::testing::Values(TSimFraming::Plain, TSimFraming::Adapter),
                         [](const auto& info) {
                           return std::string(info.param == TSimFraming::Plain ? "Plain"
                                                                               : "Adapter");
                         });

TEST(SimAdapter, SetupReportIsAcceptedSilently) {
  TSimHidPlatform sim(std::make_shared<TManualClock>());
  auto dev = sim.Plug(Quiet(TSimFraming::Adapter));
  QString error;
  auto channel = sim.Open(dev->Info(), error);
  std::vector<uint8_t> setup(65, 0);
  setup[3] = 0x62;
  setup[4] = 0x77;
  setup[5] = 0x80;
  setup[6] = 0x25;
  size_t written = 0;
  ASSERT_TRUE(channel->Write(setup.data(), setup.size(), written));
  EXPECT_TRUE(dev->SetupReceived());
  std::vector<uint8_t> r;
  EXPECT_EQ(channel->Read(r, 100), IHidChannel::TReadResult::Timeout);
  // Payload bytes beyond the count are not part of the line.
  auto report = RequestReport(":00000000 rdy rd\rjunk", TSimFraming::Adapter);
  report[1] = 17;
  ASSERT_TRUE(channel->Write(report.data(), report.size(), written));
  ASSERT_EQ(channel->Read(r, 2000), IHidChannel::TReadResult::Report);
  EXPECT_EQ(ReportPayload(r, TSimFraming::Adapter), "00000000 0 0.10\r");
  EXPECT_EQ(channel->Read(r, 100), IHidChannel::TReadResult::Timeout);
}

TEST(SimPlatform, NothingIsKeptWhileNoChannelIsOpen) {
  TSimHidPlatform sim(std::make_shared<TManualClock>());
  auto dev = sim.Plug(Quiet());
  dev->InjectPayload("early");
  EXPECT_EQ(dev->PendingInputReports(), 0u);
  TSimThermostatOptions locked = Quiet();
  locked.Access = THidAccess::None;
  auto other = sim.Plug(locked);
  QString error;
  EXPECT_FALSE(sim.Open(other->Info(), error));
  EXPECT_FALSE(error.isEmpty());
}

TEST(SimPlatform, SimulateDeviceList) {
  struct TCase {
    QString Devices;
    std::vector<QByteArray> Products;  // empty: refused
  };
  const std::vector<TCase> cases = {
      {"", {"USB Thermostat"}},
      {"thermostat", {"USB Thermostat"}},
      {"thermostat, Adapter,thermostat", {"USB Thermostat", "USB-HID Adapter", "USB Thermostat"}},
      {"thermostat,fridge", {}},
      {"thermostat,,adapter", {}},
  };
  for (const auto& c : cases) {
    QString error;
    auto platform = MakeSimulatedPlatform(c.Devices, &error);
    if (c.Products.empty()) {
      EXPECT_EQ(platform, nullptr) << c.Devices.toStdString();
      EXPECT_FALSE(error.isEmpty());
      continue;
    }
    ASSERT_NE(platform, nullptr) << error.toStdString();
    const auto present = platform->Enumerate();
    ASSERT_EQ(present.size(), c.Products.size());
    QSet<QString> serials;
    for (size_t i = 0; i < present.size(); ++i) {
      EXPECT_EQ(present[i].Strings.Manufacturer, "Norvik");
      EXPECT_EQ(present[i].Strings.Product, c.Products[i]);
      serials.insert(QString::fromUtf8(present[i].Strings.Serial));
    }
    EXPECT_EQ(serials.size(), qsizetype(present.size()));
  }
  QString error;
  MakeSimulatedPlatform("fridge", &error);
  EXPECT_TRUE(error.contains("fridge"));
}

}  // namespace
}  // namespace calorix
