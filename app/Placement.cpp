#include "app/Placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

#include "base/IniFile.h"

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

}  // namespace calorix
