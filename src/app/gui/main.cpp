// lumenpick: the desktop program. The main window is the first window and the last one.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/gui/app_icon.h"
#include "shell/translations_gui.h"
#include "shell/window_hub_gui.h"

int main(int argc, char** argv) {
  // Answered before Qt starts, so they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("lumenpick %s\n", LUMENPICK_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "usage: lumenpick [--version] [--help] [Qt options]\n"
          "Starts the LumenPick desktop program. LUMENPICK_DOCUMENTS names the documents\n"
          "folder instead of ~/Documents; lumenpick-cli is the headless companion.\n");
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("lumenpick"));
  QApplication::setApplicationVersion(QStringLiteral(LUMENPICK_VERSION));
  // Ties the windows to lumenpick.desktop, so Wayland docks show its name and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("lumenpick"));
  QApplication::setWindowIcon(lp::gui::app_icon());
  // File dialogs and standard buttons in Japanese, like every other text of the program.
  lp::gui::install_qt_translations(app);
  auto& hub = lp::gui::WindowHub::instance();
  hub.set_platform(lp::gui::qt_platform());
  if (!hub.show_window(QStringLiteral("main"))) return 1;
  return QApplication::exec();
}
