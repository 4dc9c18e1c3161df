// The settings file over any bytes: reads must hold to the integer rules, and
// a write must read back, both at once and from a fresh reading of the file,
// without changing any other key.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/IniFile.h"

namespace calorix {
namespace {

[[noreturn]] void Fail(const char* what, const QString& a = {}, const QString& b = {}) {
  std::fprintf(stderr, "invariant broken: %s ['%s' / '%s']\n", what, qPrintable(a), qPrintable(b));
  std::abort();
}

// Cuts the input at NUL bytes: the file, then section, key, value and a
// second section and key that are read before and after the write.
struct TIniInput {
  QByteArray File;
  QString Section = QStringLiteral("Chart");
  QString Key = QStringLiteral("PollTime");
  QString Value = QStringLiteral("1000");
  QString OtherSection = QStringLiteral("usb");
  QString OtherKey = QStringLiteral("pname");

  TIniInput(const std::uint8_t* data, std::size_t size) {
    const QList<QByteArray> parts =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    File = parts.value(0);
    QString* fields[] = {&Section, &Key, &Value, &OtherSection, &OtherKey};
    for (qsizetype i = 1; i < parts.size() && i <= 5; ++i)
      *fields[i - 1] = QString::fromUtf8(parts[i]);
  }
};

bool SameName(const QString& a, const QString& b) {
  return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// What a read gives for a written value: blanks dropped and matching quotes
// removed are read rules, so only values they leave alone are compared.
bool ReadsAsWritten(const QString& value) {
  if (value.trimmed() != value)
    return false;
  for (QChar c : value) {
    if (c.unicode() < 0x20 || c == QChar::ReplacementCharacter)
      return false;
  }
  return !(value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
           value.back() == value.front());
}

}  // namespace
}  // namespace calorix

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace calorix;
  static QTemporaryDir dir;
  if (!dir.isValid())
    Fail("no temporary folder");
  const QString path = dir.filePath(QStringLiteral("Calorix.ini"));
  const TIniInput in(data, size);
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(in.File) != in.File.size())
      Fail("cannot write the input file", path);
  }

  TIniFile ini(path);
  const QString missing = QStringLiteral("\x01missing");
  const QString read = ini.ReadString(in.Section, in.Key, missing);
  if (read.size() > TIniFile::kMaxStringLength && read != missing)
    Fail("string longer than the limit", in.Key);
  constexpr int kDefault = -123456789;
  const int number = ini.ReadInteger(in.Section, in.Key, kDefault);
  const int expected = read == missing ? kDefault : ParseIniInteger(read).value_or(kDefault);
  if (number != expected)
    Fail("integer does not follow its string", read);
  const QString other = ini.ReadString(in.OtherSection, in.OtherKey, missing);

  if (!ini.WriteString(in.Section, in.Key, in.Value))
    return 0;  // refused names and values are the writer's rule, not a fault
  const QString wanted = in.Value.left(TIniFile::kMaxStringLength);
  const QString now = ini.ReadString(in.Section, in.Key, missing);
  const TIniFile fresh(path);
  const QString reread = fresh.ReadString(in.Section, in.Key, missing);
  if (now != reread)
    Fail("written value reads differently from the file", now, reread);
  if (ReadsAsWritten(in.Value) && now != wanted)
    Fail("written value does not read back", in.Value, now);
  const bool sameKey = SameName(in.Section, in.OtherSection) && SameName(in.Key, in.OtherKey);
  if (!sameKey && fresh.ReadString(in.OtherSection, in.OtherKey, missing) != other)
    Fail("a write changed another key", in.OtherKey, other);
  return 0;
}
