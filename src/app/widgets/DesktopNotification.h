// The desktop's notification at the end of a run, through the session bus.
#pragma once

#include <QString>

// The service, object and interface that desktops answer notifications on.
inline constexpr const char* kNotificationService = "org.freedesktop.Notifications";
inline constexpr const char* kNotificationPath = "/org/freedesktop/Notifications";

// Sends the notification and returns at once. Without a session bus or a notification service
// nothing is shown and nothing fails.
void SendDesktopNotification(const QString& summary, const QString& body);
