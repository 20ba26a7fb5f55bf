#include "watch/watch_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTime>
#include <QTimeEdit>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <set>

#include "common/shared_settings.h"
#include "shell/window_hub_gui.h"
#include "watch/hit_valuation.h"
#include "watch/notify_gui.h"
#include "watch/report_painter.h"
#include "watch/run_record.h"
#include "watch/watch_schedule.h"

namespace lp::gui {

namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

QString date_text(const std::string& d) {
  if (d.size() != 8) return q(d);
  return q(d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2));
}

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

}  // namespace

WatchWindow::WatchWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("kanshi_frm"));
  setWindowTitle(QStringLiteral("監視結果"));
  resize(900, 620);
  platform_ = WindowHub::instance().platform();
  folders_ = read_settei_sub(platform_.documents_folder, platform_.desktop_folder);
  unit_folder = watch::user_unit_folder();
  systemctl = watch::systemctl_user;
  open_report = [](const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  };
  watcher_ = new watch::NotificationWatcher(this);
  notify = [this](const QString& title, const QString& body) {
    notification_ = watch::send_notification(title, body, QStringLiteral("監視結果を開く"));
    return notification_ != 0;
  };
  connect(watcher_, &watch::NotificationWatcher::invoked, this,
          [this](unsigned id, const QString&) {
            if (id != 0 && id == notification_) WindowHub::instance().show_window(objectName());
          });

  auto* root = new QVBoxLayout(this);
  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("hiduke_lb"));
  QFont big = title_->font();
  big.setPointSizeF(big.pointSizeF() * 1.25);
  big.setBold(true);
  title_->setFont(big);
  root->addWidget(title_);

  auto* middle = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QStringLiteral("日付"), this));
  dates_ = new QListWidget(this);
  dates_->setObjectName(QStringLiteral("hiduke_lst"));
  dates_->setFixedWidth(130);
  left->addWidget(dates_);
  middle->addLayout(left);
  grid_ = new QTableWidget(0, 5, this);
  grid_->setObjectName(QStringLiteral("kekka_grd"));
  grid_->setHorizontalHeaderLabels({QStringLiteral("区分"), QStringLiteral("コード"),
                                    QStringLiteral("銘柄名"), QStringLiteral("終値"),
                                    QStringLiteral("表示値")});
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->verticalHeader()->setVisible(false);
  grid_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  grid_->setToolTip(QStringLiteral("ダブルクリックでチャートを表示します"));
  middle->addWidget(grid_, 1);
  root->addLayout(middle, 1);

  auto* bottom = new QHBoxLayout;
  report_ = new QPushButton(QStringLiteral("レポートを開く"), this);
  report_->setObjectName(QStringLiteral("report_cmd"));
  bottom->addWidget(report_);
  bottom->addSpacing(24);
  daily_ = new QCheckBox(QStringLiteral("毎日自動更新"), this);
  daily_->setObjectName(QStringLiteral("jidou_chk"));
  daily_->setToolTip(QStringLiteral("平日の指定時刻にデータ更新・監視・レポート作成を行います"));
  bottom->addWidget(daily_);
  time_ = new QTimeEdit(QTime(18, 0), this);
  time_->setObjectName(QStringLiteral("jikoku_txt"));
  time_->setDisplayFormat(QStringLiteral("HH:mm"));
  bottom->addWidget(time_);
  apply_ = new QPushButton(QStringLiteral("設定"), this);
  apply_->setObjectName(QStringLiteral("settei_cmd"));
  bottom->addWidget(apply_);
  bottom->addStretch();
  root->addLayout(bottom);
  msg_ = new QLabel(this);
  msg_->setObjectName(QStringLiteral("msg1_lb"));
  msg_->setWordWrap(true);
  root->addWidget(msg_);

  connect(dates_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (filling_ || row < 0) return;
    day_ = dates_->item(row)->data(Qt::UserRole).toString().toStdString();
    fill_grid();
  });
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { open_chart(row); });
  connect(grid_, &QTableWidget::cellClicked, this, [this](int row, int) {
    const QTableWidgetItem* item = grid_->item(row, 0);
    if (!item || item->data(Qt::UserRole).toString() != QStringLiteral("toggle")) return;
    // Only the rows' visibility changes: the click is still being handled by the grid.
    show_continuing_ = !show_continuing_;
    for (int r = 0; r < grid_->rowCount(); ++r) {
      QTableWidgetItem* kind = grid_->item(r, 0);
      if (!kind) continue;
      if (kind->data(Qt::UserRole).toString() == QStringLiteral("toggle")) {
        kind->setText(continuing_caption(kind->data(Qt::UserRole + 1).toInt()));
      } else if (kind->text() == QStringLiteral("継続")) {
        grid_->setRowHidden(r, !show_continuing_);
      }
    }
  });
  connect(report_, &QPushButton::clicked, this, [this] {
    if (day_.empty()) return;
    watch::ensure_gui_application();
    std::string path, error;
    if (!watch::write_report(folders_, day_, watch::report_chart_picture(folders_), path, error,
                             values_of_day())) {
      say(q(error), true);
      return;
    }
    if (!open_report(q(path))) say(QStringLiteral("ブラウザを起動できません: ") + q(path), true);
  });
  connect(apply_, &QPushButton::clicked, this, [this] { apply_schedule(); });
  show_schedule();
  show_day({});
}

watch::ValuesOf WatchWindow::values_of_day() const {
  return [platform = platform_, day = day_](const std::string& screen,
                                            const std::vector<std::string>& codes) {
    return watch::values_as_of(platform, nullptr, screen, day, codes);
  };
}

QString WatchWindow::continuing_caption(int count) const {
  return (show_continuing_ ? QStringLiteral("▼ 継続 %1 銘柄")
                           : QStringLiteral("▶ 継続 %1 銘柄（クリックで表示）"))
      .arg(count);
}

void WatchWindow::say(const QString& text, bool error) {
  msg_->setText(text);
  QPalette p = msg_->palette();
  p.setColor(QPalette::WindowText, error ? kRed : kBlue);
  msg_->setPalette(p);
}

void WatchWindow::show_day(const std::string& date) {
  folders_ = read_settei_sub(platform_.documents_folder, platform_.desktop_folder);
  day_ = date.empty() ? watch::latest_history_date(folders_.user_folder) : date;
  fill_dates();
  fill_grid();
  refresh_badge();
}

void WatchWindow::fill_dates() {
  std::set<std::string> all;
  for (const watch::WatchedScreen& ws : watch::watched_screens(folders_.user_folder)) {
    for (const watch::Block& b : watch::read_history(folders_.user_folder, ws.name))
      all.insert(b.date);
  }
  filling_ = true;
  dates_->clear();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    auto* item = new QListWidgetItem(date_text(*it), dates_);
    item->setData(Qt::UserRole, q(*it));
    if (*it == day_) dates_->setCurrentItem(item);
  }
  filling_ = false;
}

void WatchWindow::fill_grid() {
  grid_->clearSpans();
  grid_->setRowCount(0);
  const std::vector<watch::ScreenDay> screens =
      watch::screen_days(folders_.user_folder, day_, watch::day_file_trades(folders_.db_folder),
                         folders_.db_folder, values_of_day());
  // Each hit's 予想PER, PBR, 予想利回り, 時価総額 and 業種 on the day, where the database has them.
  watch::HitValuation valuation(SeriesSource::from(folders_), day_);
  QStringList heads = {QStringLiteral("区分"), QStringLiteral("コード"), QStringLiteral("銘柄名"),
                       QStringLiteral("終値"), QStringLiteral("表示値")};
  for (const std::string& c : valuation.captions()) heads << q(c);
  grid_->setColumnCount(static_cast<int>(heads.size()));
  grid_->setHorizontalHeaderLabels(heads);
  const int columns = static_cast<int>(heads.size());
  std::set<std::string> entered;
  // `today`: the 除外 rows' closes of the day, shown beside yesterday's close and value.
  auto add_row = [this, &valuation](const QString& kind, const watch::Hit* h, const QColor& colour,
                                    const watch::ScreenDay* today = nullptr) {
    const int r = grid_->rowCount();
    grid_->insertRow(r);
    auto* k = new QTableWidgetItem(kind);
    k->setForeground(colour);
    QFont f = k->font();
    f.setBold(true);
    k->setFont(f);
    grid_->setItem(r, 0, k);
    if (!h) return;
    grid_->setItem(r, 1, new QTableWidgetItem(q(h->code)));
    grid_->setItem(r, 2, new QTableWidgetItem(q(h->name)));
    QString close = q(watch::shown_price(h->close));
    QString value = q(watch::shown_value(h->value, true));
    if (today) {
      const auto c = today->dropped_close.find(h->code);
      const auto v = today->dropped_value.find(h->code);
      const std::string close_now = c == today->dropped_close.end() || c->second.empty()
                                        ? "-"
                                        : watch::shown_price(c->second);
      const QString value_now = v == today->dropped_value.end()
                                    ? QStringLiteral("-")
                                    : q(watch::shown_value(v->second, true));
      close = q(close_now) + QStringLiteral("（前日 ") + close + QStringLiteral("）");
      if (value != QStringLiteral("-") || value_now != QStringLiteral("-"))
        value = value_now + QStringLiteral("（前日 ") + value + QStringLiteral("）");
    }
    for (int c : {3, 4}) {
      auto* item = new QTableWidgetItem(c == 3 ? close : value);
      item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      grid_->setItem(r, c, item);
    }
    const std::vector<std::string> cells = valuation.cells(*h);
    for (std::size_t k = 0; k < cells.size(); ++k) {
      auto* item = new QTableWidgetItem(q(cells[k]));
      if (valuation.captions()[k] != "業種") item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      grid_->setItem(r, 5 + static_cast<int>(k), item);
    }
  };
  for (const watch::ScreenDay& s : screens) {
    // A heading row per screen, across the columns.
    const int r = grid_->rowCount();
    grid_->insertRow(r);
    QString heading = QStringLiteral("■ ") + q(s.name);
    if (!s.universe.empty()) heading += QStringLiteral("（対象 ") + q(s.universe) + ")";
    if (s.has_block) {
      heading += QStringLiteral("　該当 %1・新規 %2・除外 %3")
                     .arg(s.changes.entered.size() + s.changes.continuing.size())
                     .arg(s.changes.entered.size())
                     .arg(s.changes.dropped.size());
    } else {
      heading += QStringLiteral("　この日の結果はありません");
    }
    auto* item = new QTableWidgetItem(heading);
    QFont f = item->font();
    f.setBold(true);
    item->setFont(f);
    item->setBackground(QColor(232, 238, 250));
    grid_->setItem(r, 0, item);
    grid_->setSpan(r, 0, 1, columns);
    if (!s.error.empty()) {
      add_row(QStringLiteral("エラー"), nullptr, kRed);
      grid_->setItem(grid_->rowCount() - 1, 1, new QTableWidgetItem(q(s.error)));
      grid_->setSpan(grid_->rowCount() - 1, 1, 1, columns - 1);
    }
    // What changed first; the 継続 rows, often most of them, behind a row that unfolds them.
    for (const auto& h : s.changes.entered) add_row(QStringLiteral("新規"), &h, kRed);
    for (const auto& h : s.changes.dropped) add_row(QStringLiteral("除外"), &h, kBlue, &s);
    if (!s.changes.continuing.empty()) {
      const int t = grid_->rowCount();
      grid_->insertRow(t);
      const int n = static_cast<int>(s.changes.continuing.size());
      auto* toggle = new QTableWidgetItem(continuing_caption(n));
      toggle->setData(Qt::UserRole, QStringLiteral("toggle"));
      toggle->setData(Qt::UserRole + 1, n);
      toggle->setForeground(Qt::darkGray);
      grid_->setItem(t, 0, toggle);
      grid_->setSpan(t, 0, 1, columns);
      for (const auto& h : s.changes.continuing) {
        add_row(QStringLiteral("継続"), &h, Qt::darkGray);
        grid_->setRowHidden(grid_->rowCount() - 1, !show_continuing_);
      }
    }
    for (const auto& h : s.changes.entered) entered.insert(h.code);
  }
  for (int c : {0, 1, 3, 4}) grid_->resizeColumnToContents(c);
  if (screens.empty()) {
    title_->setText(QStringLiteral("監視中の保存条件はありません"));
    say(QStringLiteral("スクリーニング画面の保存条件で「監視」にチェックを付けてください。"),
        false);
  } else if (day_.empty()) {
    title_->setText(QStringLiteral("監視結果はまだありません"));
  } else {
    title_->setText(date_text(day_) + QStringLiteral("　新規 %1 銘柄").arg(entered.size()));
  }
  const std::string age = chosen_data_age_text(folders_.app_folder, day_);
  setWindowTitle(QStringLiteral("監視結果") + (age.empty() ? QString() : "　" + q(age)));
  // A failed unattended update is said until the next one succeeds.
  const std::string notice = watch::run_notice(watch::read_run_record(folders_.user_folder));
  if (!notice.empty()) say(q(notice), true);
}

void WatchWindow::open_chart(int row) {
  const QTableWidgetItem* code = grid_->item(row, 1);
  if (!code || grid_->columnSpan(row, 1) > 1 || code->text().trimmed().isEmpty()) return;
  WindowHub& hub = WindowHub::instance();
  QWidget* chart = hub.window(QStringLiteral("graph"), false);
  if (!chart) {
    chart = hub.show_window(QStringLiteral("graph"));
  } else if (!chart->isVisible()) {
    chart->show();
  }
  if (!chart) return;
  if (auto* check = control<QCheckBox>(chart, "refer1_chk")) check->setChecked(false);
  if (auto* ref = control<QLineEdit>(chart, "refer1_txt")) ref->setText(QStringLiteral("1000"));
  if (auto* box = control<QLineEdit>(chart, "meigara_code_txt"))
    box->setText(code->text().trimmed());
}

void WatchWindow::refresh_badge() {
  std::set<std::string> entered;
  const std::string newest = watch::latest_history_date(folders_.user_folder);
  if (!newest.empty()) {
    for (const watch::ScreenDay& s : watch::screen_days(folders_.user_folder, newest,
                                                        watch::day_file_trades(folders_.db_folder)))
      for (const auto& h : s.changes.entered) entered.insert(h.code);
  }
  QWidget* main = WindowHub::instance().window(QStringLiteral("main"), false);
  // At start the main window asks while it is still being built, before the hub knows it:
  // a run of the command line or the timer since the last start is shown at once.
  if (!main) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == QStringLiteral("main")) main = w;
    }
  }
  if (auto* badge = control<QLabel>(main, "kanshi_badge_lb")) {
    badge->setText(QString::number(entered.size()));
    badge->setVisible(!entered.empty());
  }
}

void WatchWindow::take_snapshot() {
  folders_ = read_settei_sub(platform_.documents_folder, platform_.desktop_folder);
  before_ = watch::trading_dates(folders_);
}

void WatchWindow::database_changed() {
  folders_ = read_settei_sub(platform_.documents_folder, platform_.desktop_folder);
  const std::vector<std::string> after = watch::trading_dates(folders_);
  const std::vector<std::string> days =
      watch::added_days(before_, after, watch::kDefaultHistoryDays);
  before_ = after;
  if (days.empty()) return;
  watch::AfterUpdateRequest req;
  req.platform = platform_;
  req.days = days;
  req.charts = [](const AppFolders& f, std::shared_ptr<const MarketStore> store) {
    return watch::report_chart_picture(f, std::move(store));
  };
  req.notify = [this](const std::string& title, const std::string& body, const std::string&) {
    return notify && notify(q(title), q(body));
  };
  req.status = [this](const std::string& text) {
    say(q(text), false);
    if (platform_.yield) platform_.yield();
  };
  req.data_age = chosen_data_age_text(folders_.app_folder, after.back());
  last_ = watch::after_update(req);
  if (last_.run.screens.empty()) {
    say({}, false);
    return;
  }
  QStringList lines;
  for (const std::string& l : watch::outcome_lines(folders_.user_folder, last_)) lines << q(l);
  say(lines.join('\n'), last_.run.failed_count() > 0);
  show_day({});
}

void WatchWindow::show_schedule() {
  const watch::ScheduleState s = watch::read_schedule(unit_folder);
  // Ticked only when the timer really runs: unit files left behind by a failed enable are not.
  std::string output;
  daily_->setChecked(s.installed &&
                     systemctl(std::string("is-enabled ") + watch::kTimerName, output) == 0);
  if (s.installed) time_->setTime(QTime::fromString(q(s.time), QStringLiteral("HH:mm")));
}

void WatchWindow::apply_schedule() {
  std::string output, error;
  if (!daily_->isChecked()) {
    systemctl(std::string("disable --now ") + watch::kTimerName, output);
    if (!watch::remove_units(unit_folder, error)) {
      say(q(error), true);
      return;
    }
    systemctl("daemon-reload", output);
    say(QStringLiteral("毎日自動更新を解除しました。"), false);
    return;
  }
  const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/lumenpick-cli");
  if (!QFileInfo(cli).isExecutable()) {
    say(QStringLiteral("lumenpick-cli が見つかりません: ") + cli, true);
    return;
  }
  // The documents folder goes into the unit only when it is not the usual one.
  const std::string documents =
      qEnvironmentVariableIsSet("LUMENPICK_DOCUMENTS") ? platform_.documents_folder : std::string();
  const std::string at = time_->time().toString(QStringLiteral("HH:mm")).toStdString();
  // Whatever stops the timer from running unticks the box again: it shows what is, not what
  // was asked.
  const auto refuse = [this](const QString& why) {
    daily_->setChecked(false);
    say(why, true);
  };
  if (unit_folder.empty()) {
    refuse(QStringLiteral("HOME が設定されていないため、毎日自動更新を設定できません。"));
    return;
  }
  for (const std::string& path : {documents, cli.toStdString()}) {
    if (const std::string problem = watch::unit_path_problem(path); !problem.empty()) {
      refuse(q(problem));
      return;
    }
  }
  const watch::UnitTexts texts =
      watch::unit_texts(platform_.install_folder, cli.toStdString(), documents, at);
  if (!watch::write_units(unit_folder, texts, error)) {
    refuse(q(error));
    return;
  }
  const int reload = systemctl("daemon-reload", output);
  const int enable =
      reload == 0 ? systemctl(std::string("enable --now ") + watch::kTimerName, output) : reload;
  if (enable == 0) {
    say(QStringLiteral("毎日自動更新: 平日 %1 に実行します。").arg(q(at)), false);
  } else {
    // systemd's own words (English) only as the detail.
    refuse(QStringLiteral("タイマーを有効にできません（ユーザーの systemd "
                          "に接続できません）。ログイン後にもう一度設定してください。\n詳細: ") +
           q(output).trimmed());
  }
}

}  // namespace lp::gui

LP_REGISTER_WINDOW("kanshi_frm", [] { return new lp::gui::WatchWindow; });
