#pragma once
// One remote client's conversation: lines of instrument commands in, answer
// lines out, its own error queue. No sockets here: the server hands in lines
// and sends what comes out.
#include "remote/Instrument.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calorix {

struct TScpiParam {
  std::string Text;     // without quotes; doubled quotes made single
  bool Quoted = false;  // a string parameter
};

// One command of a line: header mnemonics in upper case, whether it is a query.
struct TScpiCommand {
  std::vector<std::string> Header;  // "*IDN" is one mnemonic
  bool Query = false;
  std::vector<TScpiParam> Params;
};

// Splits one command (the text between ';') into header and parameters.
// Returns the error code (-102 syntax error) or 0.
int ParseScpiCommand(std::string_view text, TScpiCommand& command);
// Splits a line at the ';' outside quotes; -102 for an unterminated quote.
int SplitScpiLine(std::string_view line, std::vector<std::string_view>& units);
// Temperatures for the client: two decimals with '.', 9.91E37 when missing.
std::string FormatScpiTemperature(double value);
// The code's standard text ("Undefined header").
const char* ScpiErrorText(int code);

class TScpiSession {
 public:
  static constexpr std::size_t kErrorQueueSize = 20;
  static constexpr std::size_t kMaxDataPoints = 100'000;
  // The answers of one line together; past this the line ends with -223.
  static constexpr std::size_t kMaxLineAnswer = 4 << 20;
  // RECord:DATA? samples formatted between two looks at the time slice.
  static constexpr std::size_t kDataChunk = 1000;

  // send gets each answer line with its LF. wake is called when a command
  // that waited for the thermostat has ended: call Resume() soon (not from
  // inside wake, which may run within the request queue's own call).
  TScpiSession(IRemoteInstrument& instrument, std::function<void(std::string)> send,
               std::function<void()> wake);

  // One line without its LF (a CR before it is dropped). Runs at once unless
  // an earlier command still waits; then it waits its turn.
  void Line(std::string_view line);
  // A line longer than the limit was dropped (-223).
  void LineTooLong();
  void Resume();
  // Asked between commands: true when the client's turn is over. The session
  // then stops, calls wake and goes on at the next Resume().
  void SetSliceOver(std::function<bool()> over) { FSliceOver = std::move(over); }
  // A command waits for the thermostat, or lines wait behind one.
  bool Busy() const {
    return FWaiting || !FLines.empty() || FNext < FUnits.size() || FDataNext < FDataEnd;
  }
  std::size_t ErrorCount() const { return FErrors.size(); }

 private:
  struct TPendingLine {
    std::string Text;
    bool TooLong = false;
  };
  void Run();
  void Execute(const TScpiCommand& c);
  void Answer(std::string text);
  void Error(int code, std::string detail = {});
  void Fail(const TRemoteError& e) { Error(e.Code, e.Detail); }
  void EndLine();
  bool Yield();        // the turn is over: wake is called
  void MoreData();     // the next samples of a RECord:DATA? answer
  void TooMuchData();  // the line's answers passed kMaxLineAnswer
  // Starts an operation that answers through a callback.
  template <class TStart>
  void Await(TStart start);

  IRemoteInstrument& FInstrument;
  std::function<void(std::string)> FSend;
  std::function<void()> FWake;
  std::shared_ptr<char> FAlive =
      std::make_shared<char>(0);    // callbacks after destruction see it gone
  std::deque<TPendingLine> FLines;  // lines not yet begun
  std::string FLine;                // the line being run
  std::vector<std::string> FUnits;  // its commands
  std::size_t FNext = 0;
  bool FInLine = false;
  std::deque<std::string> FErrors;
  bool FOverflowed = false;
  bool FWaiting = false;   // a command waits for its callback
  bool FRunning = false;   // inside Run
  bool FFinished = false;  // the awaited callback came
  bool FDiscard = false;   // an error ended the rest of this line
  std::string FAnswers;    // of the line being run
  bool FAnswered = false;
  std::size_t FAnswerStart = 0;             // where the last answer begins in FAnswers
  bool FAnsweredBefore = false;             // FAnswered before it
  std::size_t FDataNext = 0, FDataEnd = 0;  // samples of RECord:DATA? still to format
  bool FDataAny = false;
  std::function<bool()> FSliceOver;
  std::function<void()> FAfter;  // runs when the awaited command ends (answer it)
};

}  // namespace calorix
