#include "app/Helper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>
#include <QWidget>

#include <algorithm>

#include "app/IniFile.h"

namespace calorix {
namespace {

const QString kWidth = QStringLiteral("width");
const QString kHeight = QStringLiteral("height");
const QString kLeft = QStringLiteral("left");
const QString kTop = QStringLiteral("top");
const QString kMaximized = QStringLiteral("maximized");

// Sizes beyond any screen (a garbage value) are cut before the window is sized
// at all: a garbage width must not make a window whose backing store cannot be
// allocated.
int LimitExtent(int value, int desktop) {
  return std::min(value, std::max(desktop, 16384));
}

qint64 Area(const QRect& r) {
  return r.isEmpty() ? 0 : qint64(r.width()) * r.height();
}

}  // namespace

QString IniFileNameFor(const QString& programFolder, const QString& configFolder) {
  // Beside the executable, as the program has always kept it. An installed
  // program's folder is not the user's: the user's configuration folder takes
  // its place there, also for root, who could write into it, and wherever the
  // folder cannot be written.
  static const QStringList systemFolders = {
      QStringLiteral("/usr/bin"),  QStringLiteral("/usr/local/bin"),  QStringLiteral("/bin"),
      QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")};
  const QString dir = QDir::cleanPath(programFolder);
  const QString beside = dir + QStringLiteral("/Calorix.ini");
  const QFileInfo file(beside);
  if (!systemFolders.contains(dir) &&
      (file.exists() ? file.isWritable() : QFileInfo(dir).isWritable()))
    return beside;
  QDir().mkpath(configFolder);
  return configFolder + QStringLiteral("/Calorix.ini");
}

QString IniFileName() {
  return IniFileNameFor(QCoreApplication::applicationDirPath(),
                        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

QString JournalFolder() {
  // The XDG state folder: what the program leaves behind for its next start,
  // neither configuration nor the user's documents.
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  if (base.isEmpty() || QDir::isRelativePath(base))
    base = QDir::homePath() + QStringLiteral("/.local/state");
  return base + QLatin1Char('/') + QCoreApplication::applicationName();
#else
  return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#endif
}

QRect FitPlacement(const QRect& frame, const QList<QRect>& screens, qsizetype primary) {
  if (screens.isEmpty())
    return frame;
  for (const QRect& s : screens) {
    if (s.contains(frame))
      return frame;
  }
  qsizetype best = primary >= 0 && primary < screens.size() ? primary : 0;
  qint64 bestArea = 0;
  for (qsizetype i = 0; i < screens.size(); ++i) {
    const qint64 a = Area(screens[i] & frame);
    if (a > bestArea) {
      bestArea = a;
      best = i;
    }
  }
  const QRect s = screens[best];
  const int w = std::min(frame.width(), s.width());
  const int h = std::min(frame.height(), s.height());
  const int x = std::clamp(frame.x(), s.x(), s.x() + s.width() - w);
  const int y = std::clamp(frame.y(), s.y(), s.y() + s.height() - h);
  return QRect(x, y, w, h);
}

namespace {

// x()/y() are the frame's position, width()/height() the client's size.
void BringOnScreen(QWidget& form) {
  QList<QRect> screens;
  qsizetype primary = 0;
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen == QGuiApplication::primaryScreen())
      primary = screens.size();
    screens << screen->availableGeometry();
  }
  const QMargins m = form.isVisible()
                         ? QMargins(form.geometry().left() - form.frameGeometry().left(),
                                    form.geometry().top() - form.frameGeometry().top(),
                                    form.frameGeometry().right() - form.geometry().right(),
                                    form.frameGeometry().bottom() - form.geometry().bottom())
                         : kAssumedFrameMargins;
  const QRect frame(form.pos(), form.size().grownBy(m));
  const QRect fitted = FitPlacement(frame, screens, primary);
  if (fitted == frame)
    return;
  form.resize(fitted.size().shrunkBy(m));
  form.move(fitted.topLeft());
}

}  // namespace

void LoadFormPlacement(QWidget& form, const QString& fileName) {
  const TIniFile ini(fileName);
  const QString section = form.objectName();
  QSize desktop;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    desktop = screen->virtualGeometry().size();
  }
  form.resize(LimitExtent(ini.ReadInteger(section, kWidth, form.width()), desktop.width()),
              form.height());
  form.resize(form.width(),
              LimitExtent(ini.ReadInteger(section, kHeight, form.height()), desktop.height()));
  form.move(ini.ReadInteger(section, kLeft, form.x()), form.y());
  form.move(form.x(), ini.ReadInteger(section, kTop, form.y()));
  BringOnScreen(form);
  if (ini.ReadBool(section, kMaximized, false)) {
    form.setWindowState(form.windowState() | Qt::WindowMaximized);
  }
}

bool SaveFormPlacement(QWidget& form, const QString& fileName, QString* errorText) {
  TIniFile ini(fileName);
  const QString section = form.objectName();
  // A window minimized from the maximized state comes back maximized, so it
  // counts as maximized and the normal placement of an earlier run stays.
  const bool maximized = form.windowState().testFlag(Qt::WindowMaximized);
  bool ok = ini.WriteBool(section, kMaximized, maximized);
  if (ok && !maximized) {
    ok = ini.WriteInteger(section, kWidth, form.width()) &&
         ini.WriteInteger(section, kHeight, form.height()) &&
         ini.WriteInteger(section, kLeft, form.x()) && ini.WriteInteger(section, kTop, form.y());
  }
  if (!ok && errorText)
    *errorText = ini.LastError();
  return ok;
}

void TCommandHistory::Add(const QString& line) {
  if (FItems.size() >= kCapacity)
    FItems.removeLast();
  FItems.prepend(line);
  FCursor = 0;
}

QString TCommandHistory::Up() {
  if (FItems.isEmpty())
    return {};
  const QString result = FItems.at(FCursor);
  FCursor = FCursor + 1 == FItems.size() ? 0 : FCursor + 1;
  return result;
}

QString TCommandHistory::Down() {
  if (FItems.isEmpty())
    return {};
  const QString result = FItems.at(FCursor);
  FCursor = FCursor == 0 ? int(FItems.size()) - 1 : FCursor - 1;
  return result;
}

bool PollTimeKeyAccepted(QChar key) {
  return (key >= u'0' && key <= u'9') || key == QChar(8);
}

int PollTimeFromText(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Digits beyond the upper limit cannot change the result any more.
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = std::min<long long>(value * 10 + (text[i].unicode() - u'0'), kMaxPollTime + 1LL);
  }
  if (negative)
    value = -value;
  return int(std::clamp<long long>(value, kMinPollTime, kMaxPollTime));
}

int ClampPollTime(int ms) {
  return std::max(ms, kMinPollTime);
}

}  // namespace calorix
