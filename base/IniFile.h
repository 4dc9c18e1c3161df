#pragma once
// The settings file: an INI file read and written key by key with the rules of
// the Windows profile functions, so that files written by earlier versions and
// edited by hand read the same.
//
// - "[Section]" opens a section; "key=value" gives a value; section and key
//   names are compared without regard to letter case; blanks around names and
//   values are ignored; a value in matching single or double quotes loses them;
//   lines starting with ';' are comments.
// - With duplicate keys (or sections) the first one wins.
// - The file is UTF-8; a UTF-8 byte-order mark is read and kept.
// - Every write changes or adds its one key and keeps every other byte of the
//   file (comments, unknown lines, line order, its CR LF or LF line ends). A new
//   file gets CR LF. The file is replaced through a temporary file in the same
//   folder, so a crash never leaves half a file behind.
#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace calorix {

// The profile functions' integer: the whole text as a decimal integer, with an
// optional sign and "0x" or "$" marking hexadecimal. Empty text, any other
// character or a value outside the 32-bit range gives none.
std::optional<int> ParseIniInteger(QStringView text);

class TIniFile {
 public:
  // Longest string ReadString returns, in characters.
  static constexpr int kMaxStringLength = 2047;

  // Reads the file at once; a missing or unreadable file reads as empty.
  explicit TIniFile(QString fileName);

  const QString& FileName() const { return FFileName; }

  QString ReadString(const QString& section, const QString& key, const QString& def) const;
  int ReadInteger(const QString& section, const QString& key, int def) const;
  bool ReadBool(const QString& section, const QString& key, bool def) const;

  // Each write reaches the disk before it returns. False when the file could
  // not be written (LastError() then says why) or when a name or value would
  // break the line structure (line breaks, '=' in a key, ']' in a section).
  bool WriteString(const QString& section, const QString& key, const QString& value);
  bool WriteInteger(const QString& section, const QString& key, int value);
  bool WriteBool(const QString& section, const QString& key, bool value);

  // The reason of the last failed write; empty after a successful one.
  const QString& LastError() const { return FLastError; }

 private:
  enum class TLineKind { Other, Section, Key };
  struct TLine {
    qsizetype Begin = 0;  // first byte of the line in FData
    qsizetype End = 0;    // end of its text, before the line end
    qsizetype Next = 0;   // start of the next line
    TLineKind Kind = TLineKind::Other;
    QString Name;              // section or key name, trimmed
    qsizetype ValueBegin = 0;  // Key: the value's bytes, trimmed
    qsizetype ValueEnd = 0;
    qsizetype ValueSlot = 0;  // Key: where a rewritten value starts
  };

  bool Load(QString* error);
  void Parse();
  // The key line, or -1.
  int FindKey(const QString& section, const QString& key) const;
  QByteArray LineEnd() const;

  QString FFileName;
  bool FBom = false;
  QByteArray FData;  // the file without its byte-order mark
  std::vector<TLine> FLines;
  QString FLastError;
};

}  // namespace calorix
