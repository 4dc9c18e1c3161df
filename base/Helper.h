#pragma once
// Shared helpers of the application shell: the settings file's name, the
// journal folder, the console's command history and the poll period
// conversions of the settings dialog.
#include <QChar>
#include <QString>
#include <QStringList>

namespace calorix {

// The settings file beside the executable.
QString IniFileName();
// The rule behind it, for a program in programFolder.
QString IniFileNameFor(const QString& programFolder, const QString& configFolder);
// The folder of the recording journal (the user's state folder).
QString JournalFolder();

// The last ten console lines sent, newest first. Up() and Down() return the
// entry at the cursor and then move it, wrapping around; Add() puts the cursor
// back on the newest entry.
class TCommandHistory {
 public:
  static constexpr int kCapacity = 10;

  void Add(const QString& line);
  QString Up();
  QString Down();

  const QStringList& Items() const { return FItems; }

 private:
  QStringList FItems;
  int FCursor = 0;
};

// Poll period limits of the settings dialog, in ms.
inline constexpr int kMinPollTime = 1000;
inline constexpr int kMaxPollTime = 60000;

// The characters the poll period edit takes: digits and Backspace.
bool PollTimeKeyAccepted(QChar key);

// The typed period: leading blanks, a sign and the leading number are read
// (no number reads as 0), then limited to 1000..60000; a number too long for
// any integer counts as above 60000.
int PollTimeFromText(const QString& text);

// The period the poll timer runs at: at least 1000 ms.
int ClampPollTime(int ms);

}  // namespace calorix
