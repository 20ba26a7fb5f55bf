#include "shell/jquants_gui.h"

#include <qt6keychain/keychain.h>

#include <QBoxLayout>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <cstdlib>
#include <mutex>

#include "common/encoding.h"
#include "common/http_curl.h"
#include "common/shared_settings.h"
#include "pricedb/csv_import.h"
#include "pricedb/jquants_key.h"
#include "pricedb/jquants_sync.h"
#include "pricedb/series.h"
#include "shell/keyring_gui.h"

namespace lp::gui {

namespace {

// Every text this panel shows from the sync or an import carries words of a server or a file.
QString q(const std::string& s) {
  return QString::fromStdString(printable_text(s));
}

std::string home() {
  const char* h = std::getenv("HOME");
  return h ? h : "";
}

}  // namespace

struct JQuantsPanel::Shared {
  std::mutex mutex;
  jquants::SyncProgress progress;
  bool fresh = false;
  jquants::SyncResult result;
};

JQuantsPanel::JQuantsPanel(QWidget* window, QGridLayout* grid, int row, QBoxLayout* progress_row)
    : QObject(window), window_(window), shared_(std::make_shared<Shared>()) {
  http = curl_http_get;
  plan_cmb_ = new QComboBox(window);
  plan_cmb_->setObjectName(QStringLiteral("jquants_plan_cmb"));
  plan_cmb_->setToolTip(QStringLiteral("J-Quants のプラン: リクエストの間隔がこれで決まります"));
  for (const char* p : {"free", "light", "standard", "premium"})
    plan_cmb_->addItem(QLatin1String(p));
  plan_cmb_->setCurrentText(
      QSettings().value(QStringLiteral("jquants/plan"), QStringLiteral("free")).toString());
  connect(plan_cmb_, &QComboBox::currentTextChanged, this, [this](const QString& t) {
    QSettings().setValue(QStringLiteral("jquants/plan"), t);
    // Where lumenpick-cli and the timer read it too.
    const AppFolders folders = read_settings ? read_settings() : AppFolders{};
    std::string error;
    if (!folders.app_folder.empty())
      write_shared_setting(folders.app_folder, "plan", t.toStdString(), error);
  });
  key_cmd_ = new QPushButton(QStringLiteral("APIキー設定"), window);
  key_cmd_->setObjectName(QStringLiteral("jquants_key_cmd"));
  csv_cmd_ = new QPushButton(QStringLiteral("CSV取込"), window);
  csv_cmd_->setObjectName(QStringLiteral("csv_import_cmd"));
  cancel_cmd_ = new QPushButton(QStringLiteral("中止"), window);
  cancel_cmd_->setObjectName(QStringLiteral("jquants_cancel_cmd"));
  cancel_cmd_->setEnabled(false);
  for (QPushButton* b : {key_cmd_, csv_cmd_, cancel_cmd_}) b->setAutoDefault(true);
  progress_ = new QProgressBar(window);
  progress_->setObjectName(QStringLiteral("jquants_progress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setFormat(QStringLiteral("%v/%m日"));
  progress_lb_ = new QLabel(window);
  progress_lb_->setObjectName(QStringLiteral("jquants_progress_lb"));

  grid->addWidget(plan_cmb_, row, 0);
  grid->addWidget(key_cmd_, row, 1);
  grid->addWidget(csv_cmd_, row, 2);
  progress_row->addWidget(progress_, 2);
  progress_row->addWidget(cancel_cmd_);
  progress_row->addWidget(progress_lb_, 3);

  ask_key = [this] {
    bool ok = false;
    const QString key =
        QInputDialog::getText(window_, QStringLiteral("APIキー設定"),
                              QStringLiteral("J-Quants のAPIキー (ダッシュボードで発行したもの):"),
                              QLineEdit::Password, QString(), &ok);
    return ok ? key : QString();
  };
  choose_csv_files = [this] {
    return QFileDialog::getOpenFileNames(window_, QStringLiteral("CSV取込"), QString(),
                                         QStringLiteral("株価CSV (*.csv *.txt);;すべて (*)"));
  };
  stored_key = [this] { return find_key(); };

  connect(key_cmd_, &QPushButton::clicked, this, [this] {
    const QString key = ask_key();
    if (key.isEmpty()) return;
    if (jquants::clean_key(key.toStdString()).empty()) {
      if (message)
        message(QStringLiteral("エラー：APIキーが空です。キーを入力してください。"), true);
      return;
    }
    const QString where = store_key(key);
    if (message) {
      message(where.isEmpty()
                  ? QStringLiteral("エラー：APIキーを保存できませんでした。")
                  : QStringLiteral("APIキーを保存しました (") + where + QStringLiteral(")。"),
              where.isEmpty());
    }
  });
  connect(csv_cmd_, &QPushButton::clicked, this, [this] { import_csv(); });
  connect(cancel_cmd_, &QPushButton::clicked, this, [this] { cancel(); });

  poll_ = new QTimer(this);
  poll_->setInterval(100);  // ten updates a second keep the bar live without slowing the sync
  connect(poll_, &QTimer::timeout, this, [this] {
    jquants::SyncProgress p;
    bool fresh = false;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      fresh = shared_->fresh;
      shared_->fresh = false;
      p = shared_->progress;
    }
    if (fresh) {
      progress_->setRange(0, std::max(1, p.days_total));
      progress_->setValue(p.days_done);
      progress_lb_->setText(q(p.text));
    }
    if (worker_done_) done();
  });
}

JQuantsPanel::~JQuantsPanel() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

void JQuantsPanel::set_enabled(bool on) {
  for (QWidget* w : {static_cast<QWidget*>(plan_cmb_), static_cast<QWidget*>(key_cmd_),
                     static_cast<QWidget*>(csv_cmd_)}) {
    w->setEnabled(on);
  }
}

QString JQuantsPanel::store_key(const QString& key) {
  const std::string clean = jquants::clean_key(key.toStdString());
  if (clean.empty()) return {};
  if (store_keyring_api_key(clean)) return QStringLiteral("キーリング");
  // No keyring on this desktop: the private file the CLI reads too.
  std::string error;
  const std::string path = jquants::key_file_path(home());
  if (jquants::write_key_file(path, clean, error)) return q(path);
  return {};
}

std::string JQuantsPanel::find_key() {
  // The order of lumenpick-cli and the timer: environment, key file, keyring.
  std::string source, error;
  return find_api_key_everywhere(source, error);
}

void JQuantsPanel::start_sync(DownloadKind kind, const std::string& chosen_entry,
                              const std::string& today) {
  if (running()) return;
  const AppFolders folders = read_settings ? read_settings() : AppFolders{};
  jquants::SyncOptions opt;
  opt.api_key = stored_key ? stored_key() : std::string();
  if (opt.api_key.empty()) {
    if (message) {
      message(QStringLiteral(
                  "エラー：J-Quants のAPIキーがありません。「APIキー設定」で設定してください。"),
              true);
    }
    emit finished(false);
    return;
  }
  // The address from settei.txt (J-Quants_URL) or LUMENPICK_JQUANTS_BASE, unless set here.
  const jquants::ConnectionSettings connection = jquants::read_connection_settings(
      folders.app_folder, [](const char* n) { return std::getenv(n); });
  if (!connection.error.empty() && base.empty()) {
    if (message) message(QStringLiteral("エラー：") + q(connection.error), true);
    emit finished(false);
    return;
  }
  opt.base = base.empty() ? connection.base : base;
  opt.max_wait_s = connection.max_wait_s;
  opt.db_folder = folders.db_folder;
  opt.reference_code = folders.reference_code;
  opt.today = today;
  jquants::parse_plan(plan_cmb_->currentText().toStdString(), opt.plan);
  if (kind == DownloadKind::chosen_year) {
    // The chosen year's trading days, up to what the plan serves.
    const std::string year = std::to_string(download_year(kind, chosen_entry, today));
    opt.from = year + "0101";
    opt.to = year + "1231";
    if (year == today.substr(0, 4)) opt.to.clear();  // up to today less the plan's delay
  }
  cancel_ = false;
  worker_done_ = false;
  set_enabled(false);
  cancel_cmd_->setEnabled(true);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  if (message) message(QStringLiteral("J-Quants から株価を取得しています。"), false);
  auto shared = shared_;
  HttpClient client = http;
  worker_ = std::thread([this, opt, shared, client] {
    jquants::SyncServices svc;
    svc.http = client;
    svc.cancelled = [this] { return cancel_.load(); };
    svc.progress = [shared](const jquants::SyncProgress& p) {
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->progress = p;
      shared->fresh = true;
    };
    jquants::SyncResult r = jquants::run_sync(opt, svc);
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->result = std::move(r);
    }
    worker_done_ = true;
  });
  poll_->start();
}

void JQuantsPanel::done() {
  poll_->stop();
  if (worker_.joinable()) worker_.join();
  worker_done_ = false;
  jquants::SyncResult r;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    r = shared_->result;
    progress_lb_->setText(q(shared_->progress.text));
  }
  progress_->setValue(r.ok() ? progress_->maximum() : progress_->value());
  cancel_cmd_->setEnabled(false);
  set_enabled(true);
  if (refresh) refresh();
  if (message) message(q(r.message), !r.ok());
  emit finished(r.ok());
}

void JQuantsPanel::import_csv() {
  if (running()) return;
  const QStringList chosen = choose_csv_files ? choose_csv_files() : QStringList();
  if (chosen.isEmpty()) return;
  const AppFolders folders = read_settings ? read_settings() : AppFolders{};
  std::vector<std::string> files;
  for (const QString& f : chosen) files.push_back(f.toStdString());
  CsvImportReport report;
  std::string error;
  CsvImportOptions opt;
  opt.today = today_yyyymmdd(Platform{});  // rows dated after today are refused
  const bool ok =
      import_price_csv(folders.db_folder, folders.reference_code, files, opt, report, error);
  if (refresh) refresh();
  QString text;
  if (!ok) {
    text = QStringLiteral("エラー：CSVを取り込めませんでした: ") + q(error);
  } else {
    text = QStringLiteral("CSV取込: %1 ファイル, %2 行, %3 銘柄")
               .arg(report.files_used)
               .arg(report.rows_imported)
               .arg(static_cast<int>(report.codes.size()));
    if (report.files_refused || report.rows_skipped) {
      text += QStringLiteral(" (読めないファイル %1, 読めない行 %2: %3)")
                  .arg(report.files_refused)
                  .arg(report.rows_skipped)
                  .arg(report.messages.empty() ? QString() : q(report.messages.front()));
    }
    if (report.holiday_rows) {
      text += QStringLiteral(" 休場日とみなした行 %1").arg(report.holiday_rows);
    }
    if (report.split_warnings) {
      text += QStringLiteral(
                  " 株式分割らしい値動き %1 件 (lumenpick-cli import-csv --splits で記録できます)")
                  .arg(report.split_warnings);
    }
  }
  if (message) message(text, !ok || report.files_used == 0);
}

}  // namespace lp::gui
