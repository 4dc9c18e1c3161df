#include "base/IniFile.h"

#include <QFile>
#include <QSaveFile>

#include <cstdint>
#include <utility>

namespace calorix {
namespace {

const QByteArray kBom("\xEF\xBB\xBF");

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

qsizetype SkipBlanks(const char* p, qsizetype from, qsizetype to) {
  while (from < to && IsBlank(p[from]))
    ++from;
  return from;
}

qsizetype TrimEnd(const char* p, qsizetype from, qsizetype to) {
  while (to > from && IsBlank(p[to - 1]))
    --to;
  return to;
}

QString Utf8(const char* p, qsizetype from, qsizetype to) {
  return QString::fromUtf8(p + from, to - from);
}

bool SameName(const QString& a, const QString& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Whether reading would cut something off the ends of a name: the reader drops
// every character up to the blank, control characters included.
bool HasBlankEnd(const QString& s) {
  return !s.isEmpty() && (s.front().unicode() <= u' ' || s.back().unicode() <= u' ');
}

bool HasLineBreak(const QString& s) {
  return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

}  // namespace

std::optional<int> ParseIniInteger(QStringView text) {
  qsizetype i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == u'$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == u'0' &&
             (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size())
    return std::nullopt;
  // The magnitude may reach 2^31 for a negative number.
  constexpr std::int64_t kLimit = std::int64_t(1) << 31;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    int digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > kLimit)
      return std::nullopt;
  }
  if (negative)
    return int(-value);
  if (value == kLimit)
    return std::nullopt;
  return int(value);
}

TIniFile::TIniFile(QString fileName) : FFileName(std::move(fileName)) {
  Load(nullptr);
}

bool TIniFile::Load(QString* error) {
  // On failure the earlier contents stay as they were.
  QByteArray data;
  QFile file(FFileName);
  if (file.exists()) {
    if (!file.open(QIODevice::ReadOnly)) {
      if (error)
        *error = file.errorString();
      return false;
    }
    data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
      if (error)
        *error = file.errorString();
      return false;
    }
  }
  FBom = data.startsWith(kBom);
  if (FBom)
    data.remove(0, kBom.size());
  FData = std::move(data);
  Parse();
  return true;
}

void TIniFile::Parse() {
  FLines.clear();
  const char* p = FData.constData();
  const qsizetype n = FData.size();
  qsizetype i = 0;
  while (i < n) {
    TLine line;
    line.Begin = i;
    qsizetype j = i;
    while (j < n && p[j] != '\n' && p[j] != '\r')
      ++j;
    line.End = j;
    if (j < n)
      j += (p[j] == '\r' && j + 1 < n && p[j + 1] == '\n') ? 2 : 1;
    line.Next = j;
    i = j;

    const qsizetype b = SkipBlanks(p, line.Begin, line.End);
    if (b == line.End || p[b] == ';') {
      // blank or comment
    } else if (p[b] == '[') {
      qsizetype close = b + 1;
      while (close < line.End && p[close] != ']')
        ++close;
      const qsizetype nb = SkipBlanks(p, b + 1, close);
      line.Kind = TLineKind::Section;
      line.Name = Utf8(p, nb, TrimEnd(p, nb, close));
    } else {
      qsizetype eq = b;
      while (eq < line.End && p[eq] != '=')
        ++eq;
      const qsizetype ke = TrimEnd(p, b, eq);
      if (eq < line.End && ke > b) {
        line.Kind = TLineKind::Key;
        line.Name = Utf8(p, b, ke);
        line.ValueSlot = SkipBlanks(p, eq + 1, line.End);
        line.ValueBegin = line.ValueSlot;
        line.ValueEnd = TrimEnd(p, line.ValueBegin, line.End);
      }
    }
    FLines.push_back(std::move(line));
  }
}

int TIniFile::FindKey(const QString& section, const QString& key) const {
  bool inSection = false;
  for (std::size_t k = 0; k < FLines.size(); ++k) {
    const TLine& line = FLines[k];
    if (line.Kind == TLineKind::Section) {
      inSection = SameName(line.Name, section);
    } else if (inSection && line.Kind == TLineKind::Key && SameName(line.Name, key)) {
      return int(k);
    }
  }
  return -1;
}

QByteArray TIniFile::LineEnd() const {
  for (const TLine& line : FLines) {
    if (line.Next > line.End)
      return FData.mid(line.End, line.Next - line.End);
  }
  return QByteArrayLiteral("\r\n");
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
  const int k = FindKey(section, key);
  if (k < 0)
    return def;
  const TLine& line = FLines[std::size_t(k)];
  QString value = Utf8(FData.constData(), line.ValueBegin, line.ValueEnd);
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    value = value.mid(1, value.size() - 2);
  }
  if (value.size() > kMaxStringLength) {
    qsizetype cut = kMaxStringLength;
    if (value.at(cut - 1).isHighSurrogate())
      --cut;  // never leave half a character
    value.truncate(cut);
  }
  return value;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
  if (FindKey(section, key) < 0)
    return def;
  return ParseIniInteger(ReadString(section, key, QString())).value_or(def);
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  // Names and values that would read back as other lines are refused rather
  // than written: the rest of the file must stay what it was.
  if (section.isEmpty() || section.trimmed() != section || HasBlankEnd(section) ||
      HasLineBreak(section) || section.contains(QLatin1Char(']'))) {
    FLastError = QStringLiteral("Invalid section name \"%1\"").arg(section);
    return false;
  }
  const QString trimmedKey = key.trimmed();
  if (trimmedKey.isEmpty() || trimmedKey != key || HasBlankEnd(key) || HasLineBreak(key) ||
      key.contains(QLatin1Char('=')) || key.startsWith(QLatin1Char('[')) ||
      key.startsWith(QLatin1Char(';'))) {
    FLastError = QStringLiteral("Invalid key name \"%1\"").arg(key);
    return false;
  }
  if (HasLineBreak(value)) {
    FLastError = QStringLiteral("Invalid value for key \"%1\": line break").arg(key);
    return false;
  }

  // Start from the file as it is now, so that nothing written meanwhile is lost;
  // a file that exists but cannot be read is never replaced.
  QString error;
  if (!Load(&error)) {
    FLastError = QStringLiteral("Unable to read %1: %2").arg(FFileName, error);
    return false;
  }

  const QByteArray bytes = value.toUtf8();
  const QByteArray eol = LineEnd();
  QByteArray data;
  const int k = FindKey(section, key);
  if (k >= 0) {
    const TLine& line = FLines[std::size_t(k)];
    data = FData.left(line.ValueSlot) + bytes + FData.mid(line.End);
  } else {
    const QByteArray entry = key.toUtf8() + '=' + bytes + eol;
    std::size_t s = 0;
    while (s < FLines.size() &&
           !(FLines[s].Kind == TLineKind::Section && SameName(FLines[s].Name, section))) {
      ++s;
    }
    if (s < FLines.size()) {
      // After the section's last line that is not blank.
      std::size_t end = s + 1;
      while (end < FLines.size() && FLines[end].Kind != TLineKind::Section)
        ++end;
      std::size_t after = end - 1;
      while (after > s && SkipBlanks(FData.constData(), FLines[after].Begin, FLines[after].End) ==
                              FLines[after].End) {
        --after;
      }
      const TLine& last = FLines[after];
      data = FData.left(last.Next);
      if (last.Next == last.End)
        data += eol;  // the file's last line had no line end
      data += entry;
      data += FData.mid(last.Next);
    } else {
      data = FData;
      if (!FLines.empty()) {
        const TLine& last = FLines.back();
        if (last.Next == last.End)
          data += eol;
        if (SkipBlanks(FData.constData(), last.Begin, last.End) != last.End)
          data += eol;
      }
      data += '[' + section.toUtf8() + ']' + eol + entry;
    }
  }

  if (data == FData && QFile::exists(FFileName)) {
    FLastError.clear();
    return true;  // nothing changes
  }

  QSaveFile file(FFileName);
  bool ok = file.open(QIODevice::WriteOnly);
  if (ok && FBom)
    ok = file.write(kBom) == kBom.size();
  if (ok)
    ok = file.write(data) == data.size();
  if (ok) {
    ok = file.commit();
  } else {
    file.cancelWriting();
  }
  if (!ok) {
    FLastError = QStringLiteral("Unable to write to %1: %2").arg(FFileName, file.errorString());
    return false;
  }
  FData = data;
  Parse();
  FLastError.clear();
  return true;
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
  return WriteString(section, key, QString::number(value));
}

bool TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
  return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

}  // namespace calorix
