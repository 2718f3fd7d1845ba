#pragma once
// Desktop notifications through org.freedesktop.Notifications on the session bus.

#include <QtCore/QString>

namespace pelloran {

// Sends a notification without waiting for the reply; false when there is no session bus or no
// notification service on it.
bool NotifyDesktop(const QString& summary, const QString& body);

// The text of the notification at the end of a run.
QString RunNotificationBody(size_t converted, size_t failed);

}  // namespace pelloran
