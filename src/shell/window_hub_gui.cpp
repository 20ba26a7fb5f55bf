#include "shell/window_hub_gui.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>
#include <QStandardPaths>

#include "common/install_layout.h"
#include "common/user_folders.h"

namespace lp::gui {

WindowHub& WindowHub::instance() {
  static WindowHub hub;
  return hub;
}

void WindowHub::register_factory(const QString& name, Factory factory) {
  factories_[name] = std::move(factory);
}

bool WindowHub::has_factory(const QString& name) const { return factories_.count(name) > 0; }

QWidget* WindowHub::window(const QString& name, bool create) {
  auto it = windows_.find(name);
  if (it != windows_.end() && it->second) return it->second;
  if (!create) return nullptr;
  auto f = factories_.find(name);
  if (f == factories_.end()) return nullptr;
  QWidget* w = f->second();
  if (!w) return nullptr;
  w->setObjectName(name);
  w->setAttribute(Qt::WA_DeleteOnClose, true);
  windows_[name] = w;
  return w;
}

QWidget* WindowHub::show_window(const QString& name) {
  QWidget* w = window(name, true);
  if (!w) return nullptr;
  w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
  w->show();
  w->raise();
  w->activateWindow();
  return w;
}

void WindowHub::close_all_except(QWidget* keep) {
  for (auto& [name, w] : windows_) {
    if (w && w != keep) w->close();
  }
}

Platform qt_platform() {
  Platform p;
  // The same folders as the CLI's: LUMENPICK_DOCUMENTS, else the desktop's user-dirs.dirs.
  const HomeEnvironment env = home_environment();
  p.documents_folder = documents_folder(env);
  p.desktop_folder = desktop_folder(env);
  if (p.documents_folder.empty()) {  // no home folder at all: whatever Qt can offer
    p.documents_folder =
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .toStdString();
  }
  p.install_folder = find_install_folder(QCoreApplication::applicationDirPath().toStdString());
  const QString fixed_today = qEnvironmentVariable("LUMENPICK_TODAY");
  p.today = [fixed_today]() -> std::string {
    if (fixed_today.size() == 8) return fixed_today.toStdString();
    return QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString();
  };
  p.yield = [] {
    static QElapsedTimer timer;
    if (!timer.isValid() || timer.elapsed() >= 33) {
      QCoreApplication::processEvents();
      timer.restart();
    }
  };
  return p;
}

void process_events_now() { QCoreApplication::processEvents(); }

bool wait_for_chart_idle(const QPointer<QWidget>& chart) {
  WindowHub& hub = WindowHub::instance();
  QPointer<QLabel> busy = control<QLabel>(chart, "busy_flag_lb");
  QElapsedTimer waited;
  waited.start();
  while (busy && busy->text() == QLatin1String("busy") && !hub.quit_requested() &&
         waited.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return chart && !hub.quit_requested();
}

}  // namespace lp::gui
