// lumenpick: the desktop program. The main window is the first window and the last one.
#include <QApplication>

#include "shell/window_hub_gui.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("lumenpick"));
  auto& hub = lp::gui::WindowHub::instance();
  hub.set_platform(lp::gui::qt_platform());
  if (!hub.show_window(QStringLiteral("main"))) return 1;
  return QApplication::exec();
}
