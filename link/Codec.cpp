#include "link/Codec.h"

#include "base/Messages.h"

#include <climits>
#include <cstring>

namespace calorix {

std::string SetpointWriteRequest(std::string_view value) {
  std::string text;
  text.reserve(kSetpointWritePrefix.size() + value.size() + 1);
  text.append(kSetpointWritePrefix).append(value).push_back('\r');
  return text;
}

std::size_t PayloadCapacity(std::size_t reportLength, bool adapter) {
  const std::size_t header = adapter ? kAdapterOutputHeader : kPlainOutputHeader;
  if (reportLength <= header)
    return 0;
  const std::size_t capacity = reportLength - header;
  // The adapter's count field is 16 bits wide.
  return adapter ? std::min<std::size_t>(capacity, 0xFFFF) : capacity;
}

std::size_t ReportCount(std::size_t textLength, std::size_t reportLength, bool adapter) {
  const std::size_t capacity = PayloadCapacity(reportLength, adapter);
  if (capacity == 0)
    return 0;
  return (textLength + capacity - 1) / capacity;
}

void BuildReport(std::string_view text, std::size_t index, bool adapter, TBytes& report) {
  std::fill(report.begin(), report.end(), std::uint8_t{0});
  const std::size_t capacity = PayloadCapacity(report.size(), adapter);
  const std::size_t first = index * capacity;
  if (capacity == 0 || first >= text.size())
    return;
  const std::size_t n = std::min(capacity, text.size() - first);
  const std::size_t offset = adapter ? kAdapterOutputHeader : kPlainOutputHeader;
  std::memcpy(report.data() + offset, text.data() + first, n);
  if (adapter) {
    report[1] = static_cast<std::uint8_t>(n & 0xFF);
    report[2] = static_cast<std::uint8_t>(n >> 8);
  }
}

std::vector<TBytes> FrameRequest(std::string_view text, std::size_t reportLength, bool adapter) {
  const std::size_t count = ReportCount(text.size(), reportLength, adapter);
  std::vector<TBytes> reports(count, TBytes(reportLength));
  for (std::size_t i = 0; i < count; ++i)
    BuildReport(text, i, adapter, reports[i]);
  return reports;
}

TBytes AdapterSetupReport(std::size_t reportLength) {
  if (reportLength < 7)
    return {};
  TBytes report(reportLength, 0);
  report[3] = 0x62;
  report[4] = 0x77;
  report[5] = 0x80;
  report[6] = 0x25;
  return report;
}

void TAnswerAssembler::Append(const std::uint8_t* first, std::size_t n) {
  if (n == 0 || FOverflowed)
    return;
  if (FAnswer.size() + n > kMaxAnswer) {
    // The line is lost anyway; free what it held and skip the rest of it.
    FOverflowed = true;
    FAnswer.clear();
    return;
  }
  FAnswer.append(reinterpret_cast<const char*>(first), n);
}

namespace {

constexpr bool IsSeparator(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x01 && u <= 0x20;
}

}  // namespace

void SplitFields(std::string_view line, std::vector<std::string>& fields) {
  fields.clear();
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (true) {
    while (i < n && IsSeparator(line[i]))
      ++i;
    if (i >= n)
      break;
    std::string field;
    if (line[i] == '"') {
      ++i;
      while (i < n) {
        if (line[i] == '"') {
          if (i + 1 < n && line[i + 1] == '"') {
            field.push_back('"');
            i += 2;
            continue;
          }
          ++i;  // closing quote
          break;
        }
        field.push_back(line[i++]);
      }
    } else {
      const std::size_t start = i;
      while (i < n && !IsSeparator(line[i]))
        ++i;
      field.assign(line.substr(start, i - start));
    }
    fields.push_back(std::move(field));
  }
}

std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields;
  SplitFields(line, fields);
  return fields;
}

int ReadStatus(std::string_view field) {
  std::size_t i = 0;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  if (i == field.size())
    return -1;
  long long value = 0;
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (c < '0' || c > '9')
      return -1;
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(INT_MAX) + 1)
      return -1;
  }
  if (negative)
    value = -value;
  if (value > INT_MAX || value < INT_MIN)
    return -1;
  return static_cast<int>(value);
}

QStringList DefaultStatusTexts() {
  QStringList texts{QString()};
  for (int id = 1014; id <= 1019; ++id)
    texts << LoadStr(id);
  return texts;
}

QString UnexpectedAnswerText() {
  return LoadStr(1031);
}

QString StatusErrorText(int code, const QStringList& statusTexts) {
  QString text = LoadStr(1032) + QString::number(code);
  if (code >= 0 && code <= 6 && code < statusTexts.size())
    text += statusTexts[code];
  return text;
}

}  // namespace calorix
