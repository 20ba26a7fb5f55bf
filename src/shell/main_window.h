// The main window "main": start-up, the commands that open the other tools, and the
// maintenance of the price database (download, deletion of a year).
#pragma once

#include <QMainWindow>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>

#include "common/settings.h"
#include "pricedb/download.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace lp::gui {

class JQuantsPanel;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The yes/no box before a year is deleted; true = yes. Replaceable for tests.
  std::function<bool(const QString& question)> confirm;
  // Opens a web page or a folder; QDesktopServices by default; false when no program could
  // be started for it. Replaceable for tests.
  std::function<bool(const QUrl& url)> open_url;
  // Tells the user what went wrong in a message box. Replaceable for tests.
  std::function<void(const QString& text)> warn;
  // The HTTP service of the downloads; Qt Network by default.
  HttpClient http_get;

  // The base address of the "local　host" option (the local price server on port 8080).
  void set_local_base(const std::string& base) { local_base_ = base; }

  // Enables and disables the controls for a status text ("idle", "株価ダウンローﾄﾞ開始", ...).
  void set_main_status(const QString& status);

  // True while a download or a deletion runs.
  bool running() const { return running_; }
  // The J-Quants controls (plan, key, CSV import, the sync's progress).
  JQuantsPanel* jquants() const { return jquants_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void build_controls();
  void load();
  void fill_year_lists();
  bool refresh_latest_date();
  // The window's title, with the day the prices are of on the Free plan.
  void show_title();
  void show_message(const QString& text, const QColor& color);
  void clear_message();
  void start_download(DownloadKind kind);
  void delete_year();
  void open_tool(const QString& window_name, bool needs_data);
  void see_data();
  // Opens a page in the browser, or says in a message box that none could be started.
  void open_page(const QString& address);
  void busy_tick();
  void finish_operation();
  // Calls `step` (take_snapshot, database_changed, refresh_badge) of the watched screens.
  void watch_screens(const char* step);
  int current_year() const;

  AppFolders folders_;
  std::string latest_date_;
  QString title_;  // the title without the data's day
  std::string local_base_ = kLocalHostBase;
  int busy_position_ = 0;
  bool running_ = false;
  bool close_pending_ = false;

  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  QLabel* label3_ = nullptr;
  QLabel* label4_ = nullptr;
  QComboBox* yyyy_dl_cmb_ = nullptr;
  QComboBox* yyyy_delet_cmb_ = nullptr;
  QComboBox* yyyy_cmb_ = nullptr;
  QRadioButton* url_opt_[4] = {nullptr, nullptr, nullptr, nullptr};
  JQuantsPanel* jquants_ = nullptr;
  QProgressBar* jquants_bar_ = nullptr;
  QLabel* jquants_line_ = nullptr;
  QTimer* timer1_ = nullptr;
  QTimer* timer3_ = nullptr;
};

}  // namespace lp::gui
