// The instrument command parser and command table over any bytes: every line
// gets at most one answer line, the error queue stays bounded, and nothing a
// line says reaches the thermostat unless it is a well-formed command.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "remote/ScpiSession.h"

namespace calorix {
namespace {

void Check(bool ok, const char* what) {
  if (ok)
    return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Answers thermostat operations at once, alternately with and without a value.
class TEchoInstrument final : public IRemoteInstrument {
 public:
  int Calls = 0;
  bool Flip = false;
  std::string ProductName() const override { return "P"; }
  std::string SelectedSerial() const override { return "S"; }
  std::vector<std::string> Catalog() const override { return {"S"}; }
  TRemoteError Select(const std::string& s) override {
    return s == "S" ? TRemoteError{} : TRemoteError{-224, ""};
  }
  void MeasureTemperature(TValueDone done) override {
    ++Calls;
    Flip = !Flip;
    done(Flip ? 21.5 : NAN, Flip ? TRemoteError{} : TRemoteError{-240, ""});
  }
  double LastTemperature() const override { return 1e300; }
  TRemoteError WriteSetpoint(const std::string& text, TDone done) override {
    ++Calls;
    // A value may never carry a second line, a command or any control character.
    for (char c : text) {
      Check(c != ';' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f,
            "a setpoint text holds no control character and no ';'");
    }
    done({});
    return {};
  }
  void ReadSetpoint(TValueDone done) override {
    ++Calls;
    done(-0.001, {});
  }
  void ReadProtection(TBitsDone done) override {
    ++Calls;
    done(63, {});
  }
  TRemoteError SetRecording(bool) override { return {}; }
  bool Recording() const override { return false; }
  std::size_t RecordPoints() const override { return 3; }
  std::vector<TRemotePoint> RecordData(std::size_t first, std::size_t count) const override {
    Check(first + count <= 3, "data asked beyond the record");
    return std::vector<TRemotePoint>(count, TRemotePoint{1.0, 2.0});
  }
  TRemoteError SaveRecord(const std::string&) override { return {-221, "x"}; }
  TRemoteError ClearRecord() override { return {}; }
  TRemoteError ProgramLoad(const std::string&) override { return {}; }
  TRemoteError SetProgramState(TRemoteProgramState) override { return {}; }
  TRemoteProgramState ProgramState() const override { return TRemoteProgramState::Paused; }
  int ProgramStep() const override { return 1; }
};

}  // namespace
}  // namespace calorix

// The input is split at LF into lines, as the server does.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace calorix;
  TEchoInstrument instrument;
  int answers = 0, lines = 0;
  TScpiSession session(
      instrument,
      [&](std::string s) {
        Check(!s.empty() && s.back() == '\n', "an answer ends with LF");
        Check(s.find('\n') == s.size() - 1, "one answer line at a time");
        ++answers;
      },
      [] { Check(false, "an operation that ended at once woke the session"); });
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos)
      lf = text.size();
    session.Line(text.substr(start, lf - start));
    ++lines;
    Check(answers <= lines, "more answer lines than lines");
    Check(session.ErrorCount() <= TScpiSession::kErrorQueueSize + 1, "error queue bounded");
    Check(!session.Busy(), "nothing waits when every operation ended at once");
    start = lf + 1;
  }
  return 0;
}
