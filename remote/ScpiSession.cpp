#include "remote/ScpiSession.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace calorix {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

bool IsControl(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

// Character data in a header: letters, digits and '_' (a mnemonic).
bool IsMnemonicChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

enum class TCmd {
  Idn,
  Cls,
  Opc,
  Error,
  Measure,
  Fetch,
  Setpoint,
  Protection,
  Catalog,
  Select,
  RecState,
  RecPoints,
  RecData,
  RecSave,
  RecClear,
  ProgLoad,
  ProgState,
  ProgStep,
  Alarm,
  AlarmUnack,
  AlarmAck,
};

struct TNode {
  std::string Long, Short;
  bool Optional = false;
};

struct TEntry {
  const char* Pattern;
  TCmd Cmd;
  bool Query;
  bool Set;
  std::vector<TNode> Nodes;
};

// "[SOURce:]TEMPerature[:SETPoint]": the short form is the upper-case part.
std::vector<TNode> Compile(std::string_view pattern) {
  std::vector<TNode> nodes;
  bool optional = false;
  TNode node;
  auto flush = [&] {
    if (node.Long.empty())
      return;
    node.Optional = optional;
    node.Long = Upper(node.Long);
    nodes.push_back(std::move(node));
    node = {};
  };
  for (char c : pattern) {
    if (c == '[') {
      flush();
      optional = true;
    } else if (c == ']') {
      flush();
      optional = false;
    } else if (c == ':') {
      flush();
    } else {
      node.Long += c;
      if (node.Short.size() + 1 == node.Long.size() &&
          (std::isupper(static_cast<unsigned char>(c)) || c == '*'))
        node.Short += c;
    }
  }
  flush();
  return nodes;
}

std::vector<TEntry>& Table() {
  static std::vector<TEntry> table = [] {
    std::vector<TEntry> t = {
        {"*IDN", TCmd::Idn, true, false, {}},
        {"*CLS", TCmd::Cls, false, true, {}},
        {"*OPC", TCmd::Opc, true, false, {}},
        {"SYSTem:ERRor[:NEXT]", TCmd::Error, true, false, {}},
        {"MEASure:TEMPerature", TCmd::Measure, true, false, {}},
        {"FETCh:TEMPerature", TCmd::Fetch, true, false, {}},
        {"[SOURce:]TEMPerature[:SETPoint]", TCmd::Setpoint, true, true, {}},
        {"STATus:PROTection", TCmd::Protection, true, false, {}},
        {"STATus:ALARm", TCmd::Alarm, true, false, {}},
        {"STATus:ALARm:UNACKnowledged", TCmd::AlarmUnack, true, false, {}},
        {"STATus:ALARm:ACKnowledge", TCmd::AlarmAck, false, true, {}},
        {"SYSTem:DEVice:CATalog", TCmd::Catalog, true, false, {}},
        {"SYSTem:DEVice[:SELect]", TCmd::Select, true, true, {}},
        {"RECord:STATe", TCmd::RecState, true, true, {}},
        {"RECord:POINts", TCmd::RecPoints, true, false, {}},
        {"RECord:DATA", TCmd::RecData, true, false, {}},
        {"RECord:SAVE", TCmd::RecSave, false, true, {}},
        {"RECord:CLEar", TCmd::RecClear, false, true, {}},
        {"PROGram:LOAD", TCmd::ProgLoad, false, true, {}},
        {"PROGram:STATe", TCmd::ProgState, true, true, {}},
        {"PROGram:STEP", TCmd::ProgStep, true, false, {}},
    };
    for (auto& e : t)
      e.Nodes = Compile(e.Pattern);
    return t;
  }();
  return table;
}

bool Match(const std::vector<TNode>& nodes, std::size_t n, const std::vector<std::string>& header,
           std::size_t h) {
  if (n == nodes.size())
    return h == header.size();
  const TNode& node = nodes[n];
  if (h < header.size() && (header[h] == node.Long || header[h] == node.Short) &&
      Match(nodes, n + 1, header, h + 1))
    return true;
  return node.Optional && Match(nodes, n + 1, header, h);
}

const TEntry* Find(const std::vector<std::string>& header) {
  for (const TEntry& e : Table()) {
    if (Match(e.Nodes, 0, header, 0))
      return &e;
  }
  return nullptr;
}

std::optional<bool> ParseBoolean(const TScpiParam& p) {
  if (p.Quoted)
    return std::nullopt;
  const std::string s = Upper(p.Text);
  if (s == "ON" || s == "1")
    return true;
  if (s == "OFF" || s == "0")
    return false;
  return std::nullopt;
}

std::optional<std::size_t> ParseCount(const TScpiParam& p) {
  if (p.Quoted || p.Text.empty())
    return std::nullopt;
  std::size_t v = 0;
  const char* end = p.Text.data() + p.Text.size();
  auto [ptr, ec] = std::from_chars(p.Text.data(), end, v);
  if (ec != std::errc() || ptr != end)
    return std::nullopt;
  return v;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    out += c;
    if (c == '"')
      out += '"';
  }
  return out + '"';
}

std::string FormatSeconds(double seconds) {
  if (!std::isfinite(seconds))
    return "9.91E37";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", seconds);
  return buf;
}

}  // namespace

const char* ScpiErrorText(int code) {
  switch (code) {
    case 0:
      return "No error";
    case -100:
      return "Command error";
    case -102:
      return "Syntax error";
    case -104:
      return "Data type error";
    case -108:
      return "Parameter not allowed";
    case -109:
      return "Missing parameter";
    case -113:
      return "Undefined header";
    case -200:
      return "Execution error";
    case -221:
      return "Settings conflict";
    case -222:
      return "Data out of range";
    case -223:
      return "Too much data";
    case -224:
      return "Illegal parameter value";
    case -240:
      return "Hardware error";
    case -250:
      return "Mass storage error";
    case -350:
      return "Queue overflow";
    default:
      return "Error";
  }
}

std::string FormatScpiTemperature(double value) {
  // Fixed notation stays plain below 1e15; beyond that it is no temperature.
  if (!std::isfinite(value) || std::fabs(value) >= 1e15)
    return "9.91E37";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  std::string s = buf;
  if (s == "-0.00")
    s = "0.00";
  return s;
}

int SplitScpiLine(std::string_view line, std::vector<std::string_view>& units) {
  units.clear();
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote) {
      if (c == quote)
        quote = 0;  // a doubled quote closes and opens again
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      units.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  if (quote)
    return -102;
  units.push_back(line.substr(start));
  return 0;
}

int ParseScpiCommand(std::string_view text, TScpiCommand& command) {
  command = {};
  text = Trim(text);
  std::size_t i = 0;
  if (i < text.size() && text[i] == '*') {
    ++i;
    std::size_t b = i;
    while (i < text.size() && IsMnemonicChar(text[i]))
      ++i;
    if (i == b)
      return -102;
    command.Header.push_back(Upper(text.substr(b - 1, i - b + 1)));
  } else {
    if (i < text.size() && text[i] == ':')
      ++i;
    while (true) {
      std::size_t b = i;
      while (i < text.size() && IsMnemonicChar(text[i]))
        ++i;
      if (i == b)
        return -102;
      command.Header.push_back(Upper(text.substr(b, i - b)));
      if (i < text.size() && text[i] == ':') {
        ++i;
        continue;
      }
      break;
    }
  }
  if (i < text.size() && text[i] == '?') {
    command.Query = true;
    ++i;
  }
  if (i == text.size())
    return 0;
  if (!IsBlank(text[i]))
    return -102;
  // Parameters: quoted strings or unquoted tokens, separated by ','.
  while (true) {
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    if (i == text.size())
      return command.Params.empty() ? 0 : -102;  // a ',' with nothing after it
    TScpiParam p;
    if (text[i] == '"' || text[i] == '\'') {
      const char q = text[i++];
      p.Quoted = true;
      while (true) {
        if (i == text.size())
          return -102;
        if (text[i] == q) {
          if (i + 1 < text.size() && text[i + 1] == q) {
            p.Text += q;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        p.Text += text[i++];
      }
    } else {
      const std::size_t b = i;
      while (i < text.size() && text[i] != ',' && !IsBlank(text[i])) {
        // A control character is no part of a number or a word; passed on, it
        // could end a line of the thermostat's protocol. A quote inside it
        // would let a ';' in.
        if (IsControl(text[i]) || text[i] == '"' || text[i] == '\'')
          return -102;
        ++i;
      }
      p.Text = std::string(text.substr(b, i - b));
      if (p.Text.empty())
        return -102;
    }
    command.Params.push_back(std::move(p));
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    if (i == text.size())
      return 0;
    if (text[i] != ',')
      return -102;
    ++i;
  }
}

TScpiSession::TScpiSession(IRemoteInstrument& instrument, std::function<void(std::string)> send,
                           std::function<void()> wake)
    : FInstrument(instrument), FSend(std::move(send)), FWake(std::move(wake)) {}

void TScpiSession::Line(std::string_view line) {
  if (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  FLines.push_back({std::string(line), false});
  Run();
}

void TScpiSession::LineTooLong() {
  FLines.push_back({{}, true});
  Run();
}

void TScpiSession::Resume() {
  Run();
}

void TScpiSession::Error(int code, std::string detail) {
  if (FErrors.size() >= kErrorQueueSize) {
    // Full: one overflow entry marks that errors were lost.
    if (!FOverflowed) {
      FErrors.push_back("-350,\"Queue overflow\"");
      FOverflowed = true;
    }
    return;
  }
  std::string text = ScpiErrorText(code);
  if (!detail.empty()) {
    // Instrument answers are ASCII: clients decode them so.
    for (char& ch : detail) {
      if (ch == '\n' || ch == '\r')
        ch = ' ';
      else if (static_cast<unsigned char>(ch) >= 0x80 || ch == '"')
        ch = '\'';
    }
    text += ";" + detail;
  }
  FErrors.push_back(std::to_string(code) + "," + Quote(text));
}

void TScpiSession::Answer(std::string text) {
  FAnswerStart = FAnswers.size();
  FAnsweredBefore = FAnswered;
  if (FAnswered)
    FAnswers += ';';
  FAnswers += text;
  FAnswered = true;
  if (FAnswers.size() > kMaxLineAnswer)
    TooMuchData();
}

void TScpiSession::TooMuchData() {
  // The answer that did not fit is dropped; those before it are sent.
  FAnswers.resize(FAnswerStart);
  FAnswered = FAnsweredBefore;
  FDataNext = FDataEnd = 0;
  Error(-223, "the answers of one line passed " + std::to_string(kMaxLineAnswer) + " bytes");
  FDiscard = true;
}

void TScpiSession::MoreData() {
  const std::size_t count = std::min(kDataChunk, FDataEnd - FDataNext);
  const std::vector<TRemotePoint> points = FInstrument.RecordData(FDataNext, count);
  std::string out;
  out.reserve(points.size() * 20);
  for (const TRemotePoint& pt : points) {
    if (FDataAny)
      out += ',';
    FDataAny = true;
    out += FormatSeconds(pt.Seconds);
    out += ',';
    out += FormatScpiTemperature(pt.Value);
  }
  // Fewer than asked: the record became shorter meanwhile.
  FDataNext = points.size() < count ? FDataEnd : FDataNext + count;
  FAnswers += out;
  if (FAnswers.size() > kMaxLineAnswer)
    TooMuchData();
}

bool TScpiSession::Yield() {
  if (!FSliceOver || !FSliceOver())
    return false;
  if (FWake)
    FWake();
  return true;
}

void TScpiSession::EndLine() {
  if (FAnswered)
    FSend(FAnswers + "\n");
  FAnswers.clear();
  FAnswered = false;
  FDiscard = false;
}

template <class TStart>
void TScpiSession::Await(TStart start) {
  FWaiting = true;
  FFinished = false;
  std::weak_ptr<char> alive = FAlive;
  // finish(after): the operation ended; after answers it when the session resumes.
  start([this, alive](std::function<void()> after) {
    if (alive.expired() || !FWaiting || FFinished)
      return;
    FAfter = std::move(after);
    FFinished = true;
    if (!FRunning && FWake)
      FWake();
  });
}

void TScpiSession::Run() {
  if (FRunning)
    return;
  FRunning = true;
  while (true) {
    if (FWaiting) {
      if (!FFinished)
        break;
      FWaiting = FFinished = false;
      auto after = std::move(FAfter);
      FAfter = nullptr;
      if (after)
        after();
      continue;
    }
    if (FDataNext < FDataEnd) {
      if (Yield())
        break;
      MoreData();
      continue;
    }
    if (FNext < FUnits.size()) {
      if (Yield())
        break;
      TScpiCommand c;
      const std::string_view unit = Trim(FUnits[FNext++]);
      if (FDiscard || unit.empty())
        continue;
      if (const int e = ParseScpiCommand(unit, c)) {
        Error(e);
        FDiscard = true;
        continue;
      }
      Execute(c);
      continue;
    }
    if (FInLine) {
      FInLine = false;
      EndLine();
    }
    if (FLines.empty() || Yield())
      break;
    TPendingLine line = std::move(FLines.front());
    FLines.pop_front();
    FInLine = true;
    FUnits.clear();
    FNext = 0;
    if (line.TooLong) {
      Error(-223);
      continue;
    }
    FLine = std::move(line.Text);
    std::vector<std::string_view> units;
    if (SplitScpiLine(FLine, units)) {
      Error(-102);
      continue;
    }
    for (auto u : units)
      FUnits.emplace_back(u);
  }
  FRunning = false;
}

void TScpiSession::Execute(const TScpiCommand& c) {
  const TEntry* e = Find(c.Header);
  if (!e) {
    Error(-113);
    FDiscard = true;
    return;
  }
  if ((c.Query && !e->Query) || (!c.Query && !e->Set)) {
    Error(-100, c.Query ? "no query form" : "query only");
    FDiscard = true;
    return;
  }
  // Parameters: queries take none except RECord:DATA?; settings take one.
  const bool noParam = e->Cmd == TCmd::Cls || e->Cmd == TCmd::RecClear || e->Cmd == TCmd::AlarmAck;
  const std::size_t maxParams = c.Query ? (e->Cmd == TCmd::RecData ? 2 : 0) : (noParam ? 0 : 1);
  const std::size_t minParams = c.Query ? 0 : maxParams;
  if (c.Params.size() > maxParams) {
    Error(-108);
    return;
  }
  if (c.Params.size() < minParams) {
    Error(-109);
    return;
  }
  const TScpiParam* p = c.Params.empty() ? nullptr : &c.Params[0];
  auto needString = [&] {
    if (p->Quoted)
      return true;
    Error(-104, "string expected");
    return false;
  };
  auto valueDone = [this](auto finish) {
    return [this, finish](double value, TRemoteError error) {
      finish([this, value, error] {
        Answer(FormatScpiTemperature(value));
        if (error)
          Fail(error);
      });
    };
  };

  switch (e->Cmd) {
    case TCmd::Idn: {
      std::string product = FInstrument.ProductName(), serial = FInstrument.SelectedSerial();
      // Its fields are separated by ',' and answers by ';'.
      for (std::string* field : {&product, &serial})
        std::replace_if(
            field->begin(), field->end(), [](char c) { return c == ',' || c == ';'; }, ' ');
      Answer("Calorix," + product + "," + serial + "," + CALORIX_VERSION);
      break;
    }
    case TCmd::Cls:
      FErrors.clear();
      FOverflowed = false;
      break;
    case TCmd::Opc:
      Answer("1");  // commands run one after another: every earlier one has ended
      break;
    case TCmd::Error:
      if (FErrors.empty()) {
        Answer("0,\"No error\"");
      } else {
        Answer(FErrors.front());
        FErrors.pop_front();
        if (FErrors.empty())
          FOverflowed = false;
      }
      break;
    case TCmd::Measure:
      Await([&](auto finish) { FInstrument.MeasureTemperature(valueDone(finish)); });
      break;
    case TCmd::Fetch:
      Answer(FormatScpiTemperature(FInstrument.LastTemperature()));
      break;
    case TCmd::Setpoint:
      if (c.Query) {
        Await([&](auto finish) { FInstrument.ReadSetpoint(valueDone(finish)); });
      } else if (p->Quoted) {
        Error(-104, "number expected");
      } else {
        Await([&](auto finish) {
          const TRemoteError refused =
              FInstrument.WriteSetpoint(p->Text, [this, finish](TRemoteError e) {
                finish([this, e] {
                  if (e)
                    Fail(e);
                });
              });
          if (refused)
            finish([this, refused] { Fail(refused); });
        });
      }
      break;
    case TCmd::Protection:
      Await([&](auto finish) {
        FInstrument.ReadProtection([this, finish](int bits, TRemoteError error) {
          finish([this, bits, error] {
            Answer(error ? std::string("9.91E37") : std::to_string(bits));
            if (error)
              Fail(error);
          });
        });
      });
      break;
    case TCmd::Catalog: {
      std::string list;
      for (const std::string& s : FInstrument.Catalog())
        list += (list.empty() ? "" : ",") + Quote(s);
      Answer(list.empty() ? "\"\"" : list);
      break;
    }
    case TCmd::Select:
      if (c.Query)
        Answer(Quote(FInstrument.SelectedSerial()));
      else if (needString())
        if (auto err = FInstrument.Select(p->Text))
          Fail(err);
      break;
    case TCmd::RecState:
      if (c.Query) {
        Answer(FInstrument.Recording() ? "1" : "0");
      } else if (auto on = ParseBoolean(*p)) {
        if (auto err = FInstrument.SetRecording(*on))
          Fail(err);
      } else {
        Error(-224, "ON or OFF");
      }
      break;
    case TCmd::RecPoints:
      Answer(std::to_string(FInstrument.RecordPoints()));
      break;
    case TCmd::RecData: {
      const std::size_t points = FInstrument.RecordPoints();
      std::size_t first = 0, count = kMaxDataPoints;
      if (!c.Params.empty()) {
        auto f = ParseCount(c.Params[0]);
        if (!f) {
          Error(-224, "first sample");
          return;
        }
        first = *f;
      }
      if (c.Params.size() > 1) {
        auto n = ParseCount(c.Params[1]);
        if (!n) {
          Error(-224, "sample count");
          return;
        }
        count = std::min(*n, kMaxDataPoints);
      }
      if (first > points) {
        Error(-222, "first sample beyond the record");
        return;
      }
      // Formatted a chunk at a time (see Run), so a long answer shares the UI thread.
      Answer({});
      FDataNext = first;
      FDataEnd = first + std::min(count, points - first);
      FDataAny = false;
      break;
    }
    case TCmd::RecSave:
      if (needString())
        if (auto err = FInstrument.SaveRecord(p->Text))
          Fail(err);
      break;
    case TCmd::RecClear:
      if (auto err = FInstrument.ClearRecord())
        Fail(err);
      break;
    case TCmd::ProgLoad:
      if (needString())
        if (auto err = FInstrument.ProgramLoad(p->Text))
          Fail(err);
      break;
    case TCmd::ProgState:
      if (c.Query) {
        switch (FInstrument.ProgramState()) {
          case TRemoteProgramState::Running:
            Answer("RUN");
            break;
          case TRemoteProgramState::Paused:
            Answer("PAUS");
            break;
          case TRemoteProgramState::Stopped:
            Answer("STOP");
            break;
        }
      } else {
        const std::string s = p->Quoted ? std::string() : Upper(p->Text);
        std::optional<TRemoteProgramState> state;
        if (s == "RUN")
          state = TRemoteProgramState::Running;
        else if (s == "PAUS" || s == "PAUSE")
          state = TRemoteProgramState::Paused;
        else if (s == "STOP")
          state = TRemoteProgramState::Stopped;
        if (!state)
          Error(-224, "RUN, PAUSe or STOP");
        else if (auto err = FInstrument.SetProgramState(*state))
          Fail(err);
      }
      break;
    case TCmd::ProgStep:
      Answer(std::to_string(FInstrument.ProgramStep()));
      break;
    case TCmd::Alarm:
    case TCmd::AlarmUnack: {
      // One string of codes: "protection,lost", "" when none.
      std::string list;
      for (const std::string& code :
           e->Cmd == TCmd::Alarm ? FInstrument.ActiveAlarms() : FInstrument.UnacknowledgedAlarms())
        list += (list.empty() ? "" : ",") + code;
      Answer(Quote(list));
      break;
    }
    case TCmd::AlarmAck:
      if (auto err = FInstrument.AcknowledgeAlarms())
        Fail(err);
      break;
  }
}

}  // namespace calorix
