#pragma once
// The product-name patterns: Perl-compatible regular expressions in UTF mode,
// matched unanchored and case-sensitively, where a match of zero characters
// does not count. Pattern and subject are lower-cased (ASCII letters only)
// first, so "\D" in a pattern acts as "\d".
#include <QString>

#include <memory>

namespace calorix {

// ASCII A-Z to a-z; every other character stays.
QString AsciiLower(const QString& text);

class TRegEx {
 public:
  explicit TRegEx(QString pattern);
  ~TRegEx();
  TRegEx(const TRegEx&) = delete;
  TRegEx& operator=(const TRegEx&) = delete;

  // Compiles the pattern at the first call. A pattern that does not compile
  // throws std::runtime_error once ("Error in regular expression at offset %d: %s",
  // or "A regular expression specified in RegEx is required" when empty);
  // every later call then answers false without a second report.
  bool IsMatch(const QString& subject);

  const QString& Pattern() const { return FPattern; }

 private:
  struct TCompiled;
  QString FPattern;
  std::unique_ptr<TCompiled> FCompiled;
  bool FFailed = false;
};

}  // namespace calorix
