// The main window's J-Quants controls: the plan, 「APIキー設定」, 「CSV取込」, and a sync run off
// the user-interface thread with a progress bar and a cancel button.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/http.h"
#include "common/platform.h"
#include "common/settings.h"
#include "pricedb/download.h"

class QComboBox;
class QBoxLayout;
class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace lp::gui {

class JQuantsPanel : public QObject {
  Q_OBJECT

 public:
  // Adds the plan and the two buttons to `grid` at `row`, and the progress bar, the cancel
  // button and the progress line to `progress_row`, which must stay enabled while the
  // maintenance frame is disabled during a run; `window` parents the dialogs.
  JQuantsPanel(QWidget* window, QGridLayout* grid, int row, QBoxLayout* progress_row);
  ~JQuantsPanel() override;

  // Hooks the main window fills in.
  std::function<void(const QString& text, bool error)> message;
  std::function<AppFolders()> read_settings;
  std::function<void()> refresh;  // year lists and the database status
  // Replaceable for tests: the key typed by the user ("" = cancelled), the files chosen, the
  // stored key, the HTTP service and the API base address ("": settei.txt's J-Quants_URL or
  // LUMENPICK_JQUANTS_BASE, else the live API).
  std::function<QString()> ask_key;
  std::function<QStringList()> choose_csv_files;
  std::function<std::string()> stored_key;
  HttpClient http;
  std::string base;

  // 「株価ダウンロード」/「データ更新」 with the J-Quants host; emits finished() at the end.
  void start_sync(DownloadKind kind, const std::string& chosen_entry, const std::string& today);
  bool running() const { return worker_.joinable(); }
  void cancel() { cancel_ = true; }
  void set_enabled(bool on);

  // Stores the key in the desktop's keyring, or in the private key file when there is none.
  // Returns where it went (never the key itself), empty on failure.
  QString store_key(const QString& key);
  // The key from the keyring, the environment or the private key file ("" when none).
  std::string find_key();
  void import_csv();

 signals:
  void finished(bool ok);

 private:
  void done();

  QWidget* window_;
  QComboBox* plan_cmb_ = nullptr;
  QPushButton* key_cmd_ = nullptr;
  QPushButton* csv_cmd_ = nullptr;
  QPushButton* cancel_cmd_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* progress_lb_ = nullptr;
  QTimer* poll_ = nullptr;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> worker_done_{false};
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace lp::gui
