#include "station/Notify.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace calorix {
namespace {

// A session bus to talk to: named in the environment, or the user's own
// socket. Otherwise the library would try to start one of its own.
bool SessionBusThere() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
    return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

}  // namespace

bool NotifyDesktop(const QString& summary, const QString& body) {
  if (!SessionBusThere())
    return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2)));  // critical
  call << QStringLiteral("Calorix") << uint(0) << QStringLiteral("dialog-warning") << summary
       << body << QStringList() << hints << int(-1);
  // Sent without waiting: a missing service answers with an error nobody reads.
  return bus.send(call);
}

}  // namespace calorix
