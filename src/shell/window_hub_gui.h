// The application's tool windows, one instance each, found by their object names:
// "main", "meigarasel2", "meigarasel_out_frm", "graph", "m_kensaku_frm", "portforio".
// Windows hand things to each other through the named controls of the other window
// (a code box, a flag label); the hub only creates and finds the windows.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>

#include "common/platform.h"

namespace lp::gui {

class WindowHub {
 public:
  using Factory = std::function<QWidget*()>;

  static WindowHub& instance();

  // Platform services for every window: folders, today's date, a throttled yield.
  const Platform& platform() const { return platform_; }
  void set_platform(Platform platform) { platform_ = std::move(platform); }

  void register_factory(const QString& name, Factory factory);
  bool has_factory(const QString& name) const;

  // The window of that name, created on first use (nullptr when no such window is built in,
  // or with create = false when none is open).
  QWidget* window(const QString& name, bool create = true);
  // Creates if needed, shows modeless in normal state and brings it to the front.
  QWidget* show_window(const QString& name);
  // Closes and forgets every window but `keep`.
  void close_all_except(QWidget* keep);

  // The application-wide quit request, set when the main window closes.
  bool quit_requested() const { return quit_requested_; }
  void request_quit() { quit_requested_ = true; }
  void reset_quit() { quit_requested_ = false; }

 private:
  Platform platform_;
  std::map<QString, Factory> factories_;
  std::map<QString, QPointer<QWidget>> windows_;
  bool quit_requested_ = false;
};

// The standard GUI platform: documents/desktop as the CLI finds them (user-dirs.dirs, else
// ~/Documents and ~/Desktop; LUMENPICK_DOCUMENTS overrides the documents folder, for the
// demo), installation folder = the program's folder,
// today from the system clock (LUMENPICK_TODAY=yyyymmdd overrides it), and a yield that
// processes events at most about 30 times a second.
Platform qt_platform();

// Processes pending events now (ignores the throttle); for hand-overs that must settle.
void process_events_now();

// A control of another window by its object name, or nullptr.
template <class T>
T* control(QWidget* window, const char* name) {
  return window ? window->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

// The chart takes a new code only between redraws: waits, with events running, while its
// "busy" flag is up (at most a minute). False when the chart went away or the program is
// quitting meanwhile.
bool wait_for_chart_idle(const QPointer<QWidget>& chart);

struct WindowRegistrar {
  WindowRegistrar(const QString& name, WindowHub::Factory factory) {
    WindowHub::instance().register_factory(name, std::move(factory));
  }
};

}  // namespace lp::gui

#define LP_WINDOW_CONCAT2(a, b) a##b
#define LP_WINDOW_CONCAT(a, b) LP_WINDOW_CONCAT2(a, b)
// In a window's .cpp: LP_REGISTER_WINDOW("graph", [] { return new ChartWindow; });
#define LP_REGISTER_WINDOW(name, factory) \
  static ::lp::gui::WindowRegistrar LP_WINDOW_CONCAT(lp_window_registrar_, __LINE__)(name, factory)
