#include "gui/window/Notification.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtDBus/QDBusMessage>

namespace pelloran {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";

}  // namespace

bool NotifyDesktop(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(QString::fromLatin1(kService)))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QString::fromLatin1(kService), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.pelloran.Pelloran"));
    call << QStringLiteral("Pelloran") << uint(0) << QStringLiteral("org.pelloran.Pelloran") << summary << body
         << QStringList() << hints << int(-1);
    return bus.send(call);
}

QString RunNotificationBody(size_t converted, size_t failed) {
    const auto files = [](size_t n) { return n == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(n); };
    QString text = QStringLiteral("%1 converted").arg(files(converted));
    if (failed > 0) text += QStringLiteral(", %1 failed").arg(failed);
    return text + QStringLiteral(".");
}

}  // namespace pelloran
