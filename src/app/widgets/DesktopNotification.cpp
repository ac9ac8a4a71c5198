#include "app/widgets/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

void SendDesktopNotification(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kNotificationService, kNotificationPath,
                                                       kNotificationService, "Notify");
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
    // server's default). The icon is the one the desktop file names.
    call << QStringLiteral("daziziz") << 0u << QStringLiteral("daziziz") << summary << body
         << QStringList() << QVariantMap() << -1;
    // No answer is awaited: an absent service only makes the bus answer with an error that
    // nobody reads.
    bus.send(call);
}
