#pragma once
// Desktop notifications through the freedesktop notification service on the
// session bus (org.freedesktop.Notifications). Without a session bus, or
// without the service, nothing is shown and nothing is said.
#include <QString>

namespace calorix {

// Sends one notification of critical urgency and returns at once (no answer is
// waited for); false when there is no session bus to send it on.
bool NotifyDesktop(const QString& summary, const QString& body);

}  // namespace calorix
