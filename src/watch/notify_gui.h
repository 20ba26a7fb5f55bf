// Desktop notifications through the freedesktop notification service on the session bus.
// Without a session bus (a server, a timer without a desktop) nothing is shown and nothing
// fails.
#pragma once

#include <QString>

namespace lp::watch {

inline constexpr const char* kOpenAction = "default";

// Sends the notification; its id, or 0 when there is no bus or no notification service.
// `action_label` non-empty adds the default action (a click on the notification).
unsigned send_notification(const QString& title, const QString& body,
                           const QString& action_label = {});

}  // namespace lp::watch

#include <QObject>

namespace lp::watch {

// The notification service's answers about our notifications: a click on an action
// (ActionInvoked) and the notification going away (NotificationClosed).
class NotificationWatcher : public QObject {
  Q_OBJECT

 public:
  explicit NotificationWatcher(QObject* parent = nullptr);

 signals:
  void invoked(unsigned id, const QString& action);
  void closed(unsigned id);

 private slots:
  void on_action(uint id, const QString& action);
  void on_closed(uint id, uint reason);
};

}  // namespace lp::watch
