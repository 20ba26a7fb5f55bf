#include "watch/notify_gui.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QVariantMap>

#include "watch/watch_run.h"

namespace lp::watch {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";

}  // namespace

unsigned send_notification(const QString& title, const QString& body, const QString& action_label) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return 0;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QStringList actions;
  if (!action_label.isEmpty()) actions << QString::fromLatin1(kOpenAction) << action_label;
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntry));
  call << QStringLiteral("LumenPick") << 0u << QStringLiteral("lumenpick") << title << body
       << actions << hints << -1;
  // A bus without a notification service answers with an error at once; a hung service must
  // not hold the daily run up.
  const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return 0;
  return reply.arguments().first().toUInt();
}

}  // namespace lp::watch

namespace lp::watch {

NotificationWatcher::NotificationWatcher(QObject* parent) : QObject(parent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
              SLOT(on_action(uint, QString)));
  bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
              SLOT(on_closed(uint, uint)));
}

void NotificationWatcher::on_action(uint id, const QString& action) {
  emit invoked(id, action);
}

void NotificationWatcher::on_closed(uint id, uint) {
  emit closed(id);
}

}  // namespace lp::watch
