// The window "kanshi_frm" (監視結果): per watched screen the 新規 and 除外 of a day first and its
// 継続 folded below them, a list of the days held, the report, and the daily schedule. It also runs
// the watched screens after the main window's updates (take_snapshot before, database_changed
// after) and keeps the main window's badge of today's new entrants.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/settings.h"
#include "watch/watch_daily.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;
class QTimeEdit;

namespace lp::watch {
class NotificationWatcher;
}

namespace lp::gui {

class WatchWindow : public QWidget {
  Q_OBJECT

 public:
  explicit WatchWindow(QWidget* parent = nullptr);

  // Re-reads the histories and shows `date` ("" = the newest day held).
  void show_day(const std::string& date);
  std::string shown_day() const { return day_; }
  // The notification of the last run; replaceable for tests (title, body); true when shown.
  std::function<bool(const QString& title, const QString& body)> notify;
  // Opens the report in the browser; replaceable for tests.
  std::function<bool(const QString& path)> open_report;
  // Runs "systemctl --user ..." (tests replace it); exit status and output.
  std::function<int(const std::string& args, std::string& output)> systemctl;
  // The folder the unit files go to (tests replace it).
  std::string unit_folder;
  const watch::AfterUpdateResult& last_run() const { return last_; }
  // Ticks 「毎日自動更新」 when the timer is installed and enabled, and shows its time.
  void show_schedule();

 public slots:
  // The trading days before an update.
  void take_snapshot();
  // After an update: the watched screens over the added days, the report, the notification.
  void database_changed();
  // The main window's badge: today's new entrants of the newest day.
  void refresh_badge();

 private:
  void fill_dates();
  void fill_grid();
  void open_chart(int row);
  void apply_schedule();
  void say(const QString& text, bool error);
  // The 除外 rows' 表示 values of the day shown.
  watch::ValuesOf values_of_day() const;
  // The row that folds a screen's 継続 rows.
  QString continuing_caption(int count) const;

  Platform platform_;
  AppFolders folders_;
  std::vector<std::string> before_;
  std::string day_;
  watch::AfterUpdateResult last_;
  QLabel* title_ = nullptr;
  QListWidget* dates_ = nullptr;
  QTableWidget* grid_ = nullptr;
  QLabel* msg_ = nullptr;
  QPushButton* report_ = nullptr;
  QCheckBox* daily_ = nullptr;
  QTimeEdit* time_ = nullptr;
  QPushButton* apply_ = nullptr;
  lp::watch::NotificationWatcher* watcher_ = nullptr;
  unsigned notification_ = 0;
  bool filling_ = false;
  bool show_continuing_ = false;  // the 継続 rows unfolded
};

}  // namespace lp::gui
