#include "shell/main_window.h"

#include "common/shared_settings.h"
#include "common/parallel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>

#include "pricedb/delete_year.h"
#include "pricedb/formats.h"
#include "shell/dialogs_gui.h"
#include "shell/jquants_gui.h"
#include "shell/qt_http_gui.h"
#include "shell/startup.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {

namespace {

// The download host choices as the shared settings name them, in the order of url_opt_.
constexpr const char* kHostNames[4] = {"maker", "lan", "local", "jquants"};

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

QString q(const std::string& s) {
  return QString::fromStdString(s);
}
QString q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

void set_label(QLabel* label, const QString& text, const QColor& color) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, color);
  label->setPalette(p);
  label->setText(text);
}

// The maker's picture: clicking it opens the maker's home page.
class PictureLabel : public QLabel {
 public:
  explicit PictureLabel(std::function<void()> on_click) : on_click_(std::move(on_click)) {
    // Drawn at the screen's pixel density, so it stays sharp at a scale of 2.
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pix(QSize(420, 64) * ratio);
    pix.setDevicePixelRatio(ratio);
    pix.fill(Qt::transparent);
    QPainter painter(&pix);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 420, 0);
    g.setColorAt(0, QColor(18, 52, 110));
    g.setColorAt(1, QColor(40, 120, 190));
    painter.setBrush(g);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRect(0, 0, 420, 64), 8, 8);
    painter.setPen(Qt::white);
    QFont big = font();
    big.setPointSize(20);
    big.setBold(true);
    painter.setFont(big);
    painter.drawText(QRect(16, 4, 400, 36), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("LumenPick"));
    QFont small = font();
    small.setPointSize(9);
    painter.setFont(small);
    painter.drawText(QRect(18, 38, 400, 20), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("銘柄選択用ツール  ·  NORDHAVEN"));
    painter.end();
    setPixmap(pix);
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QLabel::mouseReleaseEvent(event);
    if (on_click_) on_click_();
  }

 private:
  std::function<void()> on_click_;
};

QPushButton* make_button(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  b->setMinimumHeight(30);
  b->setAutoDefault(true);  // Enter presses the focused button, as Space does
  return b;
}

QComboBox* make_list(QWidget* parent, const char* name) {
  auto* c = new QComboBox(parent);
  c->setObjectName(QLatin1String(name));
  c->setMinimumWidth(110);
  return c;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("main"));
  setWindowTitle(QStringLiteral("ルーメンピックソフトウェア　- NORDHAVEN -"));
  confirm = [this](const QString& question) { return ask_yes_no(this, windowTitle(), question); };
  open_url = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  warn = [this](const QString& text) { show_warning(this, windowTitle(), text); };
  http_get = qt_http_get();
  // A new main window is a new session: a quit request of an earlier one does not apply.
  WindowHub::instance().reset_quit();
  build_controls();
  load();
}

MainWindow::~MainWindow() = default;

void MainWindow::build_controls() {
  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);

  auto* image = new PictureLabel([this] { open_page(q(folders_.hp_url)); });
  image->setObjectName(QStringLiteral("Image1"));
  outer->addWidget(image, 0, Qt::AlignHCenter);

  auto* cmd_frm = new QFrame(central);
  cmd_frm->setObjectName(QStringLiteral("cmd_frm"));
  cmd_frm->setFrameShape(QFrame::StyledPanel);
  auto* cmd_grid = new QGridLayout(cmd_frm);
  auto* download = make_button(cmd_frm, "download_cmd", QStringLiteral("データ更新"));
  auto* sel = make_button(cmd_frm, "meigara_sel2_cmd", QStringLiteral("銘柄選択"));
  auto* graph = make_button(cmd_frm, "graph_cmd", QStringLiteral("チャート"));
  auto* portfolio = make_button(cmd_frm, "portforio_cmd", QStringLiteral("ポートフォリオ"));
  auto* vup = make_button(cmd_frm, "vup1_cmd", QStringLiteral("ﾊﾞｰｼﾞｮﾝ ｱｯﾌﾟ"));
  auto* end = make_button(cmd_frm, "end_cmd", QStringLiteral("終了"));
  cmd_grid->addWidget(sel, 0, 0);
  cmd_grid->addWidget(graph, 0, 1);
  cmd_grid->addWidget(portfolio, 0, 2);
  cmd_grid->addWidget(download, 1, 0);
  cmd_grid->addWidget(vup, 1, 1);
  cmd_grid->addWidget(end, 1, 2);
  // The watched screens' results, with a red badge counting the newest day's new entrants.
  auto* watch = make_button(cmd_frm, "kanshi_cmd", QStringLiteral("監視結果"));
  auto* badge_row = new QHBoxLayout(watch);
  badge_row->setContentsMargins(0, 2, 6, 0);
  badge_row->addStretch();
  auto* badge = new QLabel(watch);
  badge->setObjectName(QStringLiteral("kanshi_badge_lb"));
  badge->setStyleSheet(QStringLiteral(
      "background:#d00000;color:white;border-radius:8px;padding:0 5px;font-weight:bold"));
  badge->setAlignment(Qt::AlignCenter);
  badge->setMinimumHeight(16);
  badge->hide();
  badge_row->addWidget(badge, 0, Qt::AlignTop);
  cmd_grid->addWidget(watch, 2, 0);
  connect(watch, &QPushButton::clicked, this,
          [] { WindowHub::instance().show_window(QStringLiteral("kanshi_frm")); });
  outer->addWidget(cmd_frm);

  auto* mnt_frm = new QGroupBox(QStringLiteral("株価データベースのメインテナンス"), central);
  mnt_frm->setObjectName(QStringLiteral("mnt_frm"));
  auto* mnt = new QGridLayout(mnt_frm);
  yyyy_dl_cmb_ = make_list(mnt_frm, "yyyy_dl_cmb");
  auto* dl_year = make_button(mnt_frm, "yyyy_dl_cmd", QStringLiteral("株価ダウンロード"));
  yyyy_delet_cmb_ = make_list(mnt_frm, "yyyy_delet_cmb");
  auto* del_year = make_button(mnt_frm, "yyyy_del_cmd", QStringLiteral("株価削除"));
  yyyy_cmb_ = make_list(mnt_frm, "yyyy_cmb");
  auto* see = make_button(mnt_frm, "see_data_cmd", QStringLiteral("株価データ確認"));
  mnt->addWidget(yyyy_dl_cmb_, 0, 0);
  mnt->addWidget(dl_year, 0, 1);
  mnt->addWidget(yyyy_delet_cmb_, 1, 0);
  mnt->addWidget(del_year, 1, 1);
  mnt->addWidget(yyyy_cmb_, 2, 0);
  mnt->addWidget(see, 2, 1);
  auto* frame1 = new QGroupBox(QStringLiteral("ダウンロードホスト"), mnt_frm);
  frame1->setObjectName(QStringLiteral("Frame1"));
  auto* hosts = new QVBoxLayout(frame1);
  const QString captions[4] = {QStringLiteral("nordhaven"), QStringLiteral("内部LAN"),
                               QStringLiteral("local　host"), QStringLiteral("J-Quants")};
  for (int i = 0; i < 4; ++i) {
    url_opt_[i] = new QRadioButton(captions[i], frame1);
    url_opt_[i]->setObjectName(QStringLiteral("url_opt_%1").arg(i));
    hosts->addWidget(url_opt_[i]);
  }
  url_opt_[0]->setChecked(true);
  for (int i = 0; i < 4; ++i) {
    connect(url_opt_[i], &QRadioButton::toggled, this, [this, i](bool on) {
      std::string error;
      if (on && !folders_.app_folder.empty())
        write_shared_setting(folders_.app_folder, "host", kHostNames[i], error);
    });
  }
  mnt->addWidget(frame1, 0, 2, 3, 1);
  auto* sync_row = new QHBoxLayout;
  jquants_ = new JQuantsPanel(this, mnt, 3, sync_row);
  jquants_->message = [this](const QString& text, bool error) {
    show_message(text, error ? kRed : kBlue);
  };
  jquants_->read_settings = [this] {
    const Platform& p = WindowHub::instance().platform();
    folders_ = read_settei_sub(p.documents_folder, p.desktop_folder);
    return folders_;
  };
  jquants_->refresh = [this] {
    fill_year_lists();
    refresh_latest_date();
    watch_screens("database_changed");
  };
  // Before any run the bar has no count to show (it would read "0/1日"). The line beside it
  // wraps rather than widening the window, and it is cleared after a run: the outcome goes
  // to Label1.
  jquants_bar_ = findChild<QProgressBar*>(QStringLiteral("jquants_progress"));
  jquants_line_ = findChild<QLabel*>(QStringLiteral("jquants_progress_lb"));
  if (jquants_bar_) jquants_bar_->setTextVisible(false);
  if (jquants_line_) {
    jquants_line_->setWordWrap(true);
    jquants_line_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  connect(jquants_, &JQuantsPanel::finished, this, [this](bool) {
    if (jquants_line_) jquants_line_->clear();
    set_main_status(QString::fromUtf8(kStatusDownloadDone));
    finish_operation();
  });
  outer->addWidget(mnt_frm);
  // Tab follows the reading order: the commands row by row, then each list with its button.
  QWidget* const tab_order[] = {sel,      graph,     portfolio,    download, vup,
                                end,      watch,     yyyy_dl_cmb_, dl_year,  yyyy_delet_cmb_,
                                del_year, yyyy_cmb_, see};
  for (std::size_t i = 1; i < std::size(tab_order); ++i) {
    setTabOrder(tab_order[i - 1], tab_order[i]);
  }
  outer->addLayout(sync_row);

  label1_ = new QLabel(central);
  label1_->setObjectName(QStringLiteral("Label1"));
  label1_->setWordWrap(true);
  label1_->setMinimumHeight(40);
  outer->addWidget(label1_);
  auto* status_row = new QHBoxLayout;
  label3_ = new QLabel(central);
  label3_->setObjectName(QStringLiteral("Label3"));
  label4_ = new QLabel(central);
  label4_->setObjectName(QStringLiteral("label4"));
  label4_->setMinimumWidth(24);
  label2_ = new QLabel(central);
  label2_->setObjectName(QStringLiteral("Label2"));
  status_row->addWidget(label3_, 1);
  status_row->addWidget(label4_);
  status_row->addWidget(label2_);
  outer->addLayout(status_row);
  setCentralWidget(central);

  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(1000);
  connect(timer1_, &QTimer::timeout, this, [this] {
    // There is no embedded web view to wait for: the title changes on the first tick.
    timer1_->stop();
    setWindowTitle(QStringLiteral("銘柄選択用ツール　NORDHAVEN"));
  });
  timer3_ = new QTimer(this);
  timer3_->setObjectName(QStringLiteral("Timer3"));
  connect(timer3_, &QTimer::timeout, this, [this] { busy_tick(); });

  connect(download, &QPushButton::clicked, this, [this] { start_download(DownloadKind::update); });
  connect(dl_year, &QPushButton::clicked, this,
          [this] { start_download(DownloadKind::chosen_year); });
  connect(del_year, &QPushButton::clicked, this, [this] { delete_year(); });
  connect(sel, &QPushButton::clicked, this,
          [this] { open_tool(QStringLiteral("meigarasel2"), false); });
  connect(graph, &QPushButton::clicked, this, [this] { open_tool(QStringLiteral("graph"), true); });
  connect(portfolio, &QPushButton::clicked, this,
          [this] { open_tool(QStringLiteral("portforio"), true); });
  connect(see, &QPushButton::clicked, this, [this] { see_data(); });
  connect(vup, &QPushButton::clicked, this, [this] {
    clear_message();
    open_page(q(folders_.hp_url) + QStringLiteral("version_up.html"));
  });
  connect(end, &QPushButton::clicked, this, [this] {
    auto& hub = WindowHub::instance();
    for (const char* name : {"graph", "meigarasel2", "portforio"}) {
      if (QWidget* w = hub.window(QLatin1String(name), false)) w->close();
    }
    close();
  });
}

int MainWindow::current_year() const {
  const Platform& p = WindowHub::instance().platform();
  return year_of(p.today ? p.today() : std::string());
}

void MainWindow::load() {
  const Platform& p = WindowHub::instance().platform();
  const ProductFolderSetup setup = prepare_product_folders(p.documents_folder, p.install_folder);
  folders_ = read_settei_sub(p.documents_folder, p.desktop_folder);
  set_worker_count(folders_.threads);  // the loops of every window of this process
  // The download host of the last start, shared with lumenpick-cli and the timer.
  {
    const std::string host = read_shared_settings(folders_.app_folder).host;
    for (int i = 0; i < 4; ++i) {
      if (host == kHostNames[i]) url_opt_[i]->setChecked(true);
    }
  }
  label1_->clear();
  label2_->clear();
  label3_->clear();
  label4_->clear();
  std::error_code ec;
  std::filesystem::create_directories(folders_.db_folder, ec);
  // A folder that cannot be made is said here, where the user looks, not only by the first
  // download that fails for it.
  std::string folder_error = setup.error;
  std::error_code look_ec;
  if (folder_error.empty() && !std::filesystem::is_directory(folders_.db_folder, look_ec)) {
    folder_error = folder_error_text(folders_.db_folder, ec);
  }
  set_label(label2_, q(std::string(kVersionText)), kBlue);
  fill_year_lists();
  if (!refresh_latest_date()) {
    show_message(QStringLiteral("株価データがありません。株価をダウンロードしてください。"), kRed);
  }
  if (!folder_error.empty()) show_message(q(folder_error), kRed);
  busy_position_ = 0;
  timer3_->setInterval(100);
  timer3_->stop();
  QPalette pal = label4_->palette();
  pal.setColor(QPalette::WindowText, kBlue);
  label4_->setPalette(pal);
  set_main_status(QString::fromUtf8(kStatusIdle));
  label4_->clear();
  timer1_->start();
  watch_screens("take_snapshot");
  watch_screens("refresh_badge");
}

void MainWindow::watch_screens(const char* step) {
  // The watched screens live in a window of their own (when it is built in): it keeps the
  // trading days seen before an update and runs the screens over the days the update added.
  if (QWidget* w = WindowHub::instance().window(QStringLiteral("kanshi_frm"))) {
    QMetaObject::invokeMethod(w, step);
  }
}

void MainWindow::fill_year_lists() {
  const YearLists lists = build_year_lists(folders_.db_folder, current_year());
  auto fill = [](QComboBox* box, const std::vector<std::string>& entries) {
    box->clear();
    for (const auto& e : entries) box->addItem(q(e));
    if (box->count() > 0) box->setCurrentIndex(0);
  };
  fill(yyyy_dl_cmb_, lists.download);
  fill(yyyy_delet_cmb_, lists.present);
  fill(yyyy_cmb_, lists.present);
}

bool MainWindow::refresh_latest_date() {
  std::string date = latest_date_;
  const bool found = read_latest_date(folders_.db_folder, folders_.reference_code, current_year(),
                                      kLatestDateLowestYear, date);
  if (found) latest_date_ = date;
  set_label(label3_, q(database_status_text(found, latest_date_)), kBlue);
  return found;
}

void MainWindow::show_message(const QString& text, const QColor& color) {
  set_label(label1_, text, color);
}

void MainWindow::clear_message() {
  label1_->clear();
}

void MainWindow::set_main_status(const QString& status) {
  for (const auto& [name, on] : main_status_effects(status.toStdString())) {
    if (QWidget* w = findChild<QWidget*>(q(name))) w->setEnabled(on);
  }
}

void MainWindow::busy_tick() {
  label4_->setText(q(busy_frames()[static_cast<std::size_t>(busy_position_)]));
  busy_position_ = (busy_position_ + 1) % 10;
}

void MainWindow::start_download(DownloadKind kind) {
  if (running_) return;
  running_ = true;
  auto& hub = WindowHub::instance();
  const Platform& p = hub.platform();
  if (url_opt_[3]->isChecked()) {
    // J-Quants runs on a worker thread; the panel reports back through finished().
    set_main_status(QString::fromUtf8(kStatusDownloadStart));
    if (jquants_bar_) jquants_bar_->setTextVisible(true);
    jquants_->start_sync(kind, yyyy_dl_cmb_->currentText().toStdString(),
                         p.today ? p.today() : std::string());
    return;
  }
  DownloadRequest request;
  request.kind = kind;
  request.host = url_opt_[2]->isChecked()   ? DownloadHost::local
                 : url_opt_[1]->isChecked() ? DownloadHost::lan
                                            : DownloadHost::maker;
  request.chosen_entry = yyyy_dl_cmb_->currentText().toStdString();
  request.today = p.today ? p.today() : std::string();
  request.install_folder = p.install_folder;
  request.local_base = local_base_;
  request.file_timeout_s = read_settei_sub(p.documents_folder, p.desktop_folder).download_timeout_s;

  DownloadHooks hooks;
  hooks.message = [this](const std::string& text, MessageColor color) {
    show_message(q(text), color == MessageColor::red ? kRed : kBlue);
  };
  hooks.status = [this](const std::string& status) {
    set_main_status(q(status));
    if (status == kStatusDownloadStart) {
      timer3_->start();
    } else if (status == kStatusDownloadDone) {
      timer3_->stop();
      label4_->clear();
    }
  };
  hooks.read_settings = [this, &p] {
    folders_ = read_settei_sub(p.documents_folder, p.desktop_folder);
    return folders_;
  };
  hooks.refresh = [this] {
    fill_year_lists();
    return refresh_latest_date();
  };
  hooks.quit_requested = [&hub] { return hub.quit_requested(); };
  hooks.close_main = [this] { close_pending_ = true; };
  hooks.yield = p.yield;
  run_download(request, http_get, hooks);
  watch_screens("database_changed");
  finish_operation();
}

void MainWindow::delete_year() {
  if (running_) return;
  running_ = true;
  const Platform& p = WindowHub::instance().platform();
  DeleteHooks hooks;
  hooks.confirm = [this](const std::string& question) {
    return confirm ? confirm(q(question)) : false;
  };
  hooks.message = [this](const std::string& text, MessageColor color) {
    show_message(q(text), color == MessageColor::red ? kRed : kBlue);
  };
  hooks.status = [this](const std::string& status) { set_main_status(q(status)); };
  hooks.refresh = [this] {
    fill_year_lists();
    return refresh_latest_date();
  };
  hooks.yield = p.yield;
  run_delete_year(folders_.db_folder, yyyy_delet_cmb_->currentText().toStdString(), hooks);
  finish_operation();
}

void MainWindow::finish_operation() {
  running_ = false;
  if (close_pending_ || WindowHub::instance().quit_requested()) {
    close_pending_ = false;
    close();
  }
}

void MainWindow::open_tool(const QString& window_name, bool needs_data) {
  clear_message();
  std::string date;
  if (needs_data && !read_latest_date(folders_.db_folder, folders_.reference_code, current_year(),
                                      kLatestDateLowestYear, date)) {
    show_message(QStringLiteral("株価データベースにデータがありません。"), kRed);
    return;
  }
  auto& hub = WindowHub::instance();
  if (!hub.has_factory(window_name)) return;
  hub.show_window(window_name);
}

void MainWindow::see_data() {
  std::error_code ec;
  if (!std::filesystem::is_directory(folders_.db_folder, ec)) {
    show_message(QStringLiteral("株価データがありません。"), kRed);
    return;
  }
  if (!open_url(QUrl::fromLocalFile(q(folders_.db_folder))) && warn) {
    warn(QStringLiteral("ファイルマネージャーを起動できませんでした。\n株価データのフォルダ：") +
         q(folders_.db_folder));
  }
}

void MainWindow::open_page(const QString& address) {
  if (!open_url(QUrl(address)) && warn) {
    warn(QStringLiteral("ブラウザを起動できませんでした。\nアドレス：") + address);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  auto& hub = WindowHub::instance();
  hub.request_quit();
  hub.close_all_except(this);
  if (jquants_->running()) jquants_->cancel();
  if (running_) {
    // The running download or deletion sees the quit request after its current file and
    // closes this window then; closing it now would pull it from under the operation.
    event->ignore();
    return;
  }
  timer1_->stop();
  timer3_->stop();
  event->accept();
}

}  // namespace lp::gui

LP_REGISTER_WINDOW("main", [] { return new lp::gui::MainWindow; });
