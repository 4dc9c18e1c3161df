#pragma once
// The window placement kept in the settings file, brought onto the screens.
#include <QList>
#include <QMargins>
#include <QRect>
#include <QString>

class QWidget;

namespace calorix {

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

}  // namespace calorix
