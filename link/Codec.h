#pragma once
// The thermostat's command protocol: the request lines, how a line is cut into
// output reports (plain and adapter framing), how input reports are assembled
// into answer lines, and how an answer line splits into fields. Plain data in,
// plain data out; the only state is the answer line being collected.
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace calorix {

enum TRequestKind {
  rkTemperature = 0,
  rkSetpointRead = 1,
  rkSetpointWrite = 2,
  rkReadyBand = 3,
  rkAlarmStatus = 4,
  rkConsole = 5
};

// One queue entry; Text is exactly the bytes written (8-bit).
struct TRequest {
  TRequestKind Kind;
  std::string Text;
  // Non-zero for a request whose end its asker wants to hear of (a temperature
  // program, a remote client): the queue tells the host how it ended, and an
  // error status goes there instead of into an error box.
  std::uint64_t Ticket = 0;
  // A request with a ticket whose errors still go into the error box: the
  // window's own, whose end the session wants to hear of as well.
  bool Loud = false;
};

// The request lines the program issues itself.
inline constexpr std::string_view kTemperatureRequest = ":00000000 dat.t rd\r";
inline constexpr std::string_view kSetpointReadRequest = ":00000000 set.val rd\r";
inline constexpr std::string_view kSetpointWritePrefix = ":00000000 set.val wr ";
inline constexpr std::string_view kReadyBandRequest = ":00000000 rdy rd\r";
inline constexpr std::string_view kAlarmStatusRequest = ":00000000 alm.status rd\r";

// The setpoint write for a value text as typed (decimal point already in place).
std::string SetpointWriteRequest(std::string_view value);

using TBytes = std::vector<std::uint8_t>;

// ---- Output reports -------------------------------------------------------
// Every output report is L bytes including the report-ID byte 0. Plain framing
// carries payload from byte 1; adapter framing has a 16-bit little-endian
// payload count in bytes 1-2, zeros in bytes 3-4 and payload from byte 5.

inline constexpr std::size_t kPlainOutputHeader = 1;
inline constexpr std::size_t kAdapterOutputHeader = 5;

// Payload bytes one report of length L carries; 0 when it cannot carry any.
std::size_t PayloadCapacity(std::size_t reportLength, bool adapter);
inline bool CanCarryPayload(std::size_t reportLength, bool adapter) {
  return PayloadCapacity(reportLength, adapter) > 0;
}
// Reports needed for a text of textLength bytes; 0 for an empty text or a
// report too short to carry payload.
std::size_t ReportCount(std::size_t textLength, std::size_t reportLength, bool adapter);
// Fills report (already sized to L) as report number index of text. Bytes
// behind the chunk are zero in every report, not only the first.
void BuildReport(std::string_view text, std::size_t index, bool adapter, TBytes& report);
// The whole request as L-byte reports, in the order they are written.
std::vector<TBytes> FrameRequest(std::string_view text, std::size_t reportLength, bool adapter);
// The one fixed report an adapter receives after selection: zeros except
// bytes 3..6 = 62 77 80 25. Empty when L is too short to hold it (L < 7).
TBytes AdapterSetupReport(std::size_t reportLength);

// ---- Input reports -------------------------------------------------------

// A byte whose value read as signed 8-bit is below 14 ends a line:
// 0x00-0x0D and 0x80-0xFF.
constexpr bool IsLineEnd(std::uint8_t b) {
  return static_cast<std::int8_t>(b) < 14;
}

// Collects the characters of the answer line being received (FAnswer) from
// input reports. The data given to Feed excludes the report-ID byte.
class TAnswerAssembler {
 public:
  // A line longer than this is not kept: it is dropped and, once its line end
  // arrives, handed on as one empty line flagged overflowed.
  static constexpr std::size_t kMaxAnswer = 4096;
  // Adapter input: data byte 0 is the payload count, payload starts at byte 4.
  static constexpr std::size_t kAdapterInputHeader = 4;
  static constexpr std::size_t kAdapterMaxPayload = 60;

  // Scans one input report. For every complete line (without its line end)
  // calls onLine(const std::string& line, bool overflowed); onLine returns
  // false to stop the scan, and the rest of the report is then discarded.
  // Plain framing stops after the first line end anyway. The line passed is
  // valid only during the call. Returns the number of lines completed.
  template <class F>
  std::size_t Feed(const std::uint8_t* data, std::size_t size, bool adapter, F&& onLine);

  void Clear() {
    FAnswer.clear();
    FOverflowed = false;
  }
  // The characters collected so far (empty while an overflowed line runs on).
  const std::string& Pending() const { return FAnswer; }
  bool Overflowed() const { return FOverflowed; }

 private:
  void Append(const std::uint8_t* first, std::size_t n);

  std::string FAnswer;
  std::string FLine;  // the line being handed on; lets onLine clear FAnswer safely
  bool FOverflowed = false;
};

template <class F>
std::size_t TAnswerAssembler::Feed(const std::uint8_t* data, std::size_t size, bool adapter,
                                   F&& onLine) {
  std::size_t pos = 0;
  std::size_t end = size;
  if (adapter) {
    if (size <= kAdapterInputHeader)
      return 0;
    pos = kAdapterInputHeader;
    end = pos + std::min({static_cast<std::size_t>(data[0]), kAdapterMaxPayload, size - pos});
  }
  std::size_t lines = 0;
  while (pos < end) {
    std::size_t run = pos;
    while (run < end && !IsLineEnd(data[run]))
      ++run;
    Append(data + pos, run - pos);
    if (run == end)
      break;  // no line end: the line goes on in the next report
    pos = run + 1;
    ++lines;
    FLine.swap(FAnswer);
    FAnswer.clear();
    const bool overflowed = FOverflowed;
    FOverflowed = false;
    if (!onLine(static_cast<const std::string&>(FLine), overflowed) || !adapter)
      break;
  }
  return lines;
}

// ---- Answer lines -------------------------------------------------------

// Splits an answer line into fields. Runs of 0x01-0x20 separate fields (none
// empty at either end). A field starting with '"' runs to the closing quote
// (or the end of the line), "" inside it is one quote, and the quotes are
// removed; what follows a closing quote directly starts the next field.
std::vector<std::string> SplitFields(std::string_view line);
void SplitFields(std::string_view line, std::vector<std::string>& fields);

// The status field as an integer: decimal with an optional sign, the whole
// field; anything else (also a number beyond int) is -1.
int ReadStatus(std::string_view field);

// Status texts by code 0..6: "" and messages 1014..1019.
QStringList DefaultStatusTexts();
// "Неожиданный ответ термостата".
QString UnexpectedAnswerText();
// "Ошибочный запрос. Код статуса " + code + the code's text; a code without
// an entry (outside 0..6, or beyond the list) shows the code alone.
QString StatusErrorText(int code, const QStringList& statusTexts);

}  // namespace calorix
