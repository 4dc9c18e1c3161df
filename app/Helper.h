#pragma once
// Shared helpers of the application shell: the settings file's name, the
// window placement kept in it, the console's command history and the poll
// period conversions of the settings dialog.
#include <QChar>
#include <QList>
#include <QMargins>
#include <QRect>
#include <QString>
#include <QStringList>

class QWidget;

namespace calorix {

// The settings file beside the executable.
QString IniFileName();
// The rule behind it, for a program in programFolder.
QString IniFileNameFor(const QString& programFolder, const QString& configFolder);
// The folder of the recording journal (the user's state folder).
QString JournalFolder();

// Restores the placement from the section named after form.objectName():
// "width", "height" (the window's client size, QWidget::width()/height()),
// "left", "top" (the window's frame position, QWidget::x()/y()), each with the
// current value as default, in that order; then "maximized" sets the maximized
// state. A placement that is not wholly on one screen's available area is
// brought onto a screen by FitPlacement; one that is stays exactly as read.
void LoadFormPlacement(QWidget& form, const QString& fileName);

// The window's outer rectangle (frame included) brought onto the available
// areas of the screens: unchanged when it lies wholly within one of them;
// otherwise moved, and shrunk where it is larger, onto the screen it overlaps
// most (the primary one, screens[primary], when it overlaps none). No screens:
// unchanged.
QRect FitPlacement(const QRect& frame, const QList<QRect>& screens, qsizetype primary = 0);

// The window decoration assumed before the window system has framed the window.
inline constexpr QMargins kAssumedFrameMargins{0, 32, 0, 0};

// Writes "maximized" and, only when the window is not maximized, "width",
// "height", "left", "top". Stops at the first failed write and returns false
// with the reason in errorText (when given).
bool SaveFormPlacement(QWidget& form, const QString& fileName, QString* errorText = nullptr);

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
