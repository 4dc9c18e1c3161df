#pragma once
// The measurement file: one sample per line, "time;value", CR LF after every
// line. The writer takes samples, the reader returns them; neither touches the
// chart or the values list.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "base/NumberFormat.h"

namespace calorix {

// One sample: elapsed time in days (one second is 1/86400) and a value.
struct TFileSample {
  double Time = 0.0;
  double Value = 0.0;
};

// Name of the 8-bit code page files are written in and read in when they have
// no byte-order mark: the Windows code page of the locale's script
// ("windows-1251" for Cyrillic languages, "windows-1252" otherwise), or
// "ISO-8859-1" when no such converter exists.
QByteArray SystemCodePage(const QLocale& locale = QLocale::system());

// --- Writing ---------------------------------------------------------------

// Every run of blanks (U+0020) becomes one ';'; everything else is copied.
QString BlankRunsToSemicolons(QStringView text);

// Splits `text` into lines at CR LF, CR or LF and writes each followed by
// CR LF. ASCII text comes out byte for byte; other text in `codePage`, or, when
// a character has no place in it, as UTF-8 with a byte-order mark so that it
// still reads back. Empty text gives 0 bytes.
QByteArray EncodeFileLines(QStringView text, QByteArrayView codePage = SystemCodePage());

// The file text of `samples`: FormatElapsed(time) ";" FormatFixed2(value) CR LF
// per sample, in the user's separators. Equal to EncodeFileLines over the
// values-list lines "time value" with blanks turned into ';'.
QByteArray FormatMeasurementFile(std::span<const TFileSample> samples, const TFormatSettings& local,
                                 QByteArrayView codePage = SystemCodePage());

// Replaces the file atomically; on failure the old file stays whole. Returns
// an empty string, or the error text naming the file and the system's reason.
QString SaveFileBytes(const QString& path, const QByteArray& bytes);

// --- Reading ---------------------------------------------------------------

struct TMeasurementFileResult {
  bool Ok = false;
  QString Error;  // set when !Ok: names the file and the reason
  std::vector<TFileSample> Samples;
  std::int64_t Lines = 0;         // lines in the file
  std::int64_t SkippedLines = 0;  // lines without two fields or with no time in field 1
};

// Called now and then while a file is read (at most about 100 times, and after
// the last byte) with the bytes read so far and the file's size. Returning
// false stops reading: the result is then not Ok.
using TReadProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

// Reads and parses the whole file. `local` gives the time separator, the
// millisecond separator and the AM/PM markers; `dot` and `comma` are the two
// value formats, chosen once from the file's first line.
TMeasurementFileResult ReadMeasurementFile(const QString& path, const TFormatSettings& local,
                                           const TFormatSettings& dot, const TFormatSettings& comma,
                                           const TReadProgress& progress = {},
                                           QByteArrayView codePage = SystemCodePage());

// The same rules over bytes already in memory (encoding detected from a BOM).
TMeasurementFileResult ParseMeasurementBytes(QByteArrayView bytes, const TFormatSettings& local,
                                             const TFormatSettings& dot,
                                             const TFormatSettings& comma,
                                             QByteArrayView codePage = SystemCodePage());

// Reads one time field: an hour number, optionally ':' minutes, optionally
// ':' seconds, optionally the decimal separator and milliseconds, an AM/PM
// marker before or after (hours 1..12 then). Without a marker hours may exceed
// 23 (elapsed time) and a leading '-' is accepted. Returns days, or false.
bool ParseElapsedTime(QStringView text, const TFormatSettings& local, double& days);

}  // namespace calorix
