// Lines from a client against the answers and error codes it must get back.
#include "remote/ScpiSession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <string>
#include <vector>

namespace calorix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A thermostat and record in memory; thermostat operations end at once, or
// when the test says so with Async.
class TFakeInstrument final : public IRemoteInstrument {
 public:
  bool Async = false;
  std::deque<std::function<void()>> Pending;
  std::vector<std::string> Calls;
  std::string Serial = "SN-1";
  double Temperature = 25.314;
  double Setpoint = 20.0;
  bool Answers = true;  // false: the thermostat says nothing
  bool Rec = false;
  bool Modified = false;
  std::vector<TRemotePoint> Points = {{0.0, 24.0}, {1.5, 24.25}, {3.0, -0.004}};

  std::string ProductName() const override { return Serial.empty() ? "" : "USB Thermostat"; }
  std::string SelectedSerial() const override { return Serial; }
  std::vector<std::string> Catalog() const override { return {"SN-1", "SN-2"}; }
  TRemoteError Select(const std::string& serial) override {
    if (serial != "SN-1" && serial != "SN-2")
      return {-224, ""};
    Serial = serial;
    return {};
  }
  void Later(std::function<void()> f) {
    if (Async)
      Pending.push_back(std::move(f));
    else
      f();
  }
  TRemoteError Hw() const { return Answers ? TRemoteError{} : TRemoteError{-240, "no answer"}; }
  void MeasureTemperature(TValueDone done) override {
    Calls.push_back("meas");
    Later([this, done] { done(Answers ? Temperature : kNaN, Hw()); });
  }
  double LastTemperature() const override { return Temperature; }
  TRemoteError WriteSetpoint(const std::string& text, TDone done) override {
    if (text == "abc" || text == "1e39")
      return {-224, ""};
    Calls.push_back("write " + text);
    Later([this, text, done] {
      if (text == "999") {
        done({-222, ""});
        return;
      }
      Setpoint = std::stod(text);
      done(Hw());
    });
    return {};
  }
  void ReadSetpoint(TValueDone done) override {
    Later([this, done] { done(Answers ? Setpoint : kNaN, Hw()); });
  }
  void ReadProtection(TBitsDone done) override {
    Later([done] { done(5, {}); });
  }
  TRemoteError SetRecording(bool on) override {
    Rec = on;
    return {};
  }
  bool Recording() const override { return Rec; }
  std::size_t RecordPoints() const override { return Points.size(); }
  std::vector<TRemotePoint> RecordData(std::size_t first, std::size_t count) const override {
    return {Points.begin() + long(first), Points.begin() + long(first + count)};
  }
  TRemoteError SaveRecord(const std::string& path) override {
    if (path == "exists.csv")
      return {-221, "file exists"};
    Calls.push_back("save " + path);
    Modified = false;
    return {};
  }
  TRemoteError ClearRecord() override { return Modified ? TRemoteError{-221, ""} : TRemoteError{}; }
  TRemoteError ProgramLoad(const std::string& path) override {
    Calls.push_back("load " + path);
    return {};
  }
  TRemoteError SetProgramState(TRemoteProgramState s) override {
    State = s;
    return {};
  }
  TRemoteProgramState ProgramState() const override { return State; }
  int ProgramStep() const override { return State == TRemoteProgramState::Stopped ? 0 : 2; }
  TRemoteProgramState State = TRemoteProgramState::Stopped;
};

struct TSessionFixture {
  TFakeInstrument Instrument;
  std::string Out;
  int Wakes = 0;
  TScpiSession Session{Instrument, [this](std::string s) { Out += s; }, [this] { ++Wakes; }};
  std::string Run(const std::vector<std::string>& lines) {
    Out.clear();
    for (const auto& l : lines)
      Session.Line(l);
    return Out;
  }
};

struct TCase {
  std::vector<std::string> Lines;
  std::string Expected;
};

TEST(ScpiSession, LinesGiveTheirAnswersAndErrors) {
  const std::string version = CALORIX_VERSION;
  const TCase cases[] = {
      // Forms, case, leading ':', separators.
      {{"*IDN?"}, "Calorix,USB Thermostat,SN-1," + version + "\n"},
      {{"*idn?\r"}, "Calorix,USB Thermostat,SN-1," + version + "\n"},
      {{"FETC:TEMP?"}, "25.31\n"},
      {{":fetch:temperature?"}, "25.31\n"},
      {{"MEAS:TEMP?;:FETCh:TEMP?"}, "25.31;25.31\n"},
      {{"MEASure:TEMPerature?  "}, "25.31\n"},
      {{"FETC:TEMPE?", "SYST:ERR?"}, "-113,\"Undefined header\"\n"},  // neither form
      {{"SYST:ERR?"}, "0,\"No error\"\n"},
      {{"SYSTem:ERRor:NEXT?"}, "0,\"No error\"\n"},
      // Optional parts of the setpoint header.
      {{"TEMP 30.5", "SOUR:TEMP?"}, "30.50\n"},
      {{"SOURce:TEMPerature:SETPoint 12", "TEMP:SETP?"}, "12.00\n"},
      {{":temp -5.126;temp?"}, "-5.13\n"},
      {{"TEMP abc", "SYST:ERR?", "TEMP?"}, "-224,\"Illegal parameter value\"\n20.00\n"},
      {{"TEMP 1e39", "SYST:ERR?"}, "-224,\"Illegal parameter value\"\n"},
      {{"TEMP 999", "SYST:ERR?"}, "-222,\"Data out of range\"\n"},
      {{"TEMP \"25\"", "SYST:ERR?"}, "-104,\"Data type error;number expected\"\n"},
      {{"TEMP", "SYST:ERR?"}, "-109,\"Missing parameter\"\n"},
      {{"TEMP 1,2", "SYST:ERR?"}, "-108,\"Parameter not allowed\"\n"},
      {{"FETC:TEMP 5", "SYST:ERR?"}, "-100,\"Command error;query only\"\n"},
      {{"*CLS?", "SYST:ERR?"}, "-100,\"Command error;no query form\"\n"},
      // Syntax errors end the rest of the line; what came before stays done.
      {{"FETC:TEMP?;FETC::TEMP?;*IDN?", "SYST:ERR?"}, "25.31\n-102,\"Syntax error\"\n"},
      {{"SYST:DEV \"SN-2", "SYST:ERR?"}, "-102,\"Syntax error\"\n"},
      {{"FETC:TEMP?x", "SYST:ERR?"}, "-102,\"Syntax error\"\n"},
      {{"\x01\xff\x80", "SYST:ERR?"}, "-102,\"Syntax error\"\n"},
      // Control characters never pass inside an unquoted token.
      {{"TEMP 1\r2", "SYST:ERR?"}, "-102,\"Syntax error\"\n"},
      {{std::string("TEMP 1\0002", 8), "SYST:ERR?"}, "-102,\"Syntax error\"\n"},
      {{"REC:DATA? 1\x7f", "SYST:ERR?"}, "-102,\"Syntax error\"\n"},
      {{"TEMP :\";x\"", "SYST:ERR?"}, "-102,\"Syntax error\"\n"},  // no ';' through a quote
      {{";;", ""}, ""},
      // Quoted strings, both quotes, doubled quotes.
      {{"SYST:DEV:CAT?"}, "\"SN-1\",\"SN-2\"\n"},
      {{"SYST:DEV 'SN-2'", "SYST:DEV?"}, "\"SN-2\"\n"},
      {{"SYSTem:DEVice:SELect \"SN-1\";SYST:DEV?"}, "\"SN-1\"\n"},
      {{"SYST:DEV \"S\"\"N\"", "SYST:ERR?"}, "-224,\"Illegal parameter value\"\n"},
      {{"SYST:DEV SN-1", "SYST:ERR?"}, "-104,\"Data type error;string expected\"\n"},
      {{"STAT:PROT?"}, "5\n"},
      // The record.
      {{"REC:STAT ON", "REC:STAT?", "rec:state off;rec:stat?"}, "1\n0\n"},
      {{"REC:STAT maybe", "SYST:ERR?"}, "-224,\"Illegal parameter value;ON or OFF\"\n"},
      {{"REC:POIN?"}, "3\n"},
      {{"REC:DATA?"}, "0.000,24.00,1.500,24.25,3.000,0.00\n"},
      {{"REC:DATA? 1,1"}, "1.500,24.25\n"},
      {{"REC:DATA? 3"}, "\n"},
      {{"REC:DATA? 4", "SYST:ERR?"}, "-222,\"Data out of range;first sample beyond the record\"\n"},
      {{"REC:DATA? -1", "SYST:ERR?"}, "-224,\"Illegal parameter value;first sample\"\n"},
      {{"REC:SAVE \"exists.csv\"", "SYST:ERR?"}, "-221,\"Settings conflict;file exists\"\n"},
      {{"REC:SAVE \"a b.csv\";*OPC?"}, "1\n"},
      {{"REC:CLE", "SYST:ERR?"}, "0,\"No error\"\n"},
      // Programs.
      {{"PROG:STAT?", "PROG:STEP?"}, "STOP\n0\n"},
      {{"PROG:LOAD \"p.txt\"", "PROG:STAT RUN", "PROG:STAT?", "PROG:STEP?"}, "RUN\n2\n"},
      {{"PROGram:STATe pause;:PROG:STAT?"}, "PAUS\n"},
      {{"PROG:STAT GO", "SYST:ERR?"}, "-224,\"Illegal parameter value;RUN, PAUSe or STOP\"\n"},
  };
  for (const TCase& c : cases) {
    TSessionFixture f;
    std::string lines;
    for (const auto& l : c.Lines)
      lines += "[" + l + "]";
    EXPECT_EQ(f.Run(c.Lines), c.Expected) << lines;
  }
}

TEST(ScpiSession, NoThermostatAnswersTheMissingValueAndAHardwareError) {
  TSessionFixture f;
  f.Instrument.Answers = false;
  f.Instrument.Serial.clear();
  EXPECT_EQ(f.Run({"MEAS:TEMP?", "TEMP?", "SYST:ERR?", "SYST:ERR?", "SYST:ERR?", "*IDN?"}),
            "9.91E37\n9.91E37\n-240,\"Hardware error;no answer\"\n"
            "-240,\"Hardware error;no answer\"\n0,\"No error\"\nCalorix,,," CALORIX_VERSION "\n");
  EXPECT_EQ(FormatScpiTemperature(std::numeric_limits<double>::infinity()), "9.91E37");
}

TEST(ScpiSession, ErrorQueueHoldsTwentyThenOverflowsAndClears) {
  TSessionFixture f;
  for (int i = 0; i < 25; ++i)
    f.Session.Line("NOPE");
  std::string expected;
  for (int i = 0; i < 20; ++i)
    expected += "-113,\"Undefined header\"\n";
  expected += "-350,\"Queue overflow\"\n0,\"No error\"\n";
  std::vector<std::string> reads(22, "SYST:ERR?");
  EXPECT_EQ(f.Run(reads), expected);
  f.Session.Line("NOPE");
  f.Session.LineTooLong();
  EXPECT_EQ(f.Run({"SYST:ERR?"}), "-113,\"Undefined header\"\n");
  EXPECT_EQ(f.Run({"*CLS", "SYST:ERR?"}), "0,\"No error\"\n");
  f.Session.LineTooLong();
  EXPECT_EQ(f.Run({"SYST:ERR?"}), "-223,\"Too much data\"\n");
}

TEST(ScpiSession, CommandsWaitForTheThermostatAndAnswerInOrder) {
  TSessionFixture f;
  f.Instrument.Async = true;
  EXPECT_EQ(f.Run({"TEMP 31;MEAS:TEMP?", "FETC:TEMP?;*OPC?"}), "");
  EXPECT_TRUE(f.Session.Busy());
  // Only the write has reached the thermostat: later commands wait their turn.
  EXPECT_EQ(f.Instrument.Calls, std::vector<std::string>{"write 31"});
  while (!f.Instrument.Pending.empty()) {
    auto next = std::move(f.Instrument.Pending.front());
    f.Instrument.Pending.pop_front();
    const int wakes = f.Wakes;
    next();
    EXPECT_EQ(f.Wakes, wakes + 1);
    f.Session.Resume();
  }
  EXPECT_EQ(f.Out, "25.31\n25.31;1\n");
  EXPECT_FALSE(f.Session.Busy());
  EXPECT_EQ(f.Instrument.Setpoint, 31.0);
}

TEST(ScpiSession, AnswerAfterTheSessionIsGoneIsIgnored) {
  TFakeInstrument instrument;
  instrument.Async = true;
  {
    TScpiSession session(
        instrument, [](std::string) {}, [] {});
    session.Line("MEAS:TEMP?");
  }
  ASSERT_EQ(instrument.Pending.size(), 1u);
  instrument.Pending.front()();  // must not touch the session
}

}  // namespace
}  // namespace calorix
