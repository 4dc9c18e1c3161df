#include "link/RegEx.h"

#include <pcre2.h>

#include <stdexcept>
#include <string>

namespace calorix {

struct TRegEx::TCompiled {
  pcre2_code* Code = nullptr;
  pcre2_match_data* Match = nullptr;
  ~TCompiled() {
    if (Match)
      pcre2_match_data_free(Match);
    if (Code)
      pcre2_code_free(Code);
  }
};

QString AsciiLower(const QString& text) {
  QString out = text;
  for (QChar& c : out) {
    if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
      c = QChar(c.unicode() + ('a' - 'A'));
  }
  return out;
}

TRegEx::TRegEx(QString pattern) : FPattern(std::move(pattern)) {}

TRegEx::~TRegEx() = default;

bool TRegEx::IsMatch(const QString& subject) {
  if (FFailed)
    return false;
  if (!FCompiled) {
    if (FPattern.isEmpty()) {
      FFailed = true;
      throw std::runtime_error("A regular expression specified in RegEx is required");
    }
    const QByteArray pattern = AsciiLower(FPattern).toUtf8();
    int code = 0;
    PCRE2_SIZE offset = 0;
    auto compiled = std::make_unique<TCompiled>();
    compiled->Code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.constData()),
                                   PCRE2_SIZE(pattern.size()), PCRE2_UTF, &code, &offset, nullptr);
    if (!compiled->Code) {
      FFailed = true;
      PCRE2_UCHAR message[256];
      pcre2_get_error_message(code, message, sizeof message);
      throw std::runtime_error("Error in regular expression at offset " + std::to_string(offset) +
                               ": " + reinterpret_cast<const char*>(message));
    }
    compiled->Match = pcre2_match_data_create_from_pattern(compiled->Code, nullptr);
    FCompiled = std::move(compiled);
  }
  const QByteArray s = AsciiLower(subject).toUtf8();
  const int rc = pcre2_match(FCompiled->Code, reinterpret_cast<PCRE2_SPTR>(s.constData()),
                             PCRE2_SIZE(s.size()), 0, PCRE2_NOTEMPTY, FCompiled->Match, nullptr);
  return rc >= 0;
}

}  // namespace calorix
