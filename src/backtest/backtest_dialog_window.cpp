#include "backtest/backtest_dialog_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "backtest/backtest_window.h"
#include "backtest/equity_painter.h"
#include "backtest/screen_backtest.h"
#include "common/settings.h"
#include "screening/saved_screens.h"
#include "screening/screening_window.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

// About a year of trading days: the period the dialog offers first.
constexpr int kDefaultSpan = 245;

ScreeningWindow* screening_window() {
  return qobject_cast<ScreeningWindow*>(
      WindowHub::instance().window(QStringLiteral("meigarasel2"), false));
}

}  // namespace

BacktestDialog::BacktestDialog(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("kensho_frm"));
  setWindowTitle(QStringLiteral("検証 -  ルーメンピック -  NORDHAVEN  -"));
  auto* root = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  from_ = new QComboBox(this);
  from_->setObjectName(QStringLiteral("kensho_from_cmb"));
  to_ = new QComboBox(this);
  to_->setObjectName(QStringLiteral("kensho_to_cmb"));
  hold_ = new QSpinBox(this);
  hold_->setObjectName(QStringLiteral("kensho_hold_txt"));
  hold_->setRange(1, 250);
  hold_->setValue(20);
  hold_->setSuffix(QStringLiteral(" 日"));
  every_ = new QSpinBox(this);
  every_->setObjectName(QStringLiteral("kensho_every_txt"));
  every_->setRange(1, 250);
  every_->setValue(1);
  every_->setSuffix(QStringLiteral(" 日毎"));
  form->addRow(QStringLiteral("開始日"), from_);
  form->addRow(QStringLiteral("終了日"), to_);
  form->addRow(QStringLiteral("保有日数"), hold_);
  form->addRow(QStringLiteral("シグナル間隔"), every_);
  root->addLayout(form);

  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("kensho_pb"));
  bar_->setFormat(QStringLiteral("%v / %m"));
  bar_->setValue(0);
  root->addWidget(bar_);
  msg_ = new QLabel(this);
  msg_->setObjectName(QStringLiteral("kensho_msg_lb"));
  msg_->setMinimumWidth(320);
  msg_->setWordWrap(true);
  root->addWidget(msg_);

  auto* buttons = new QHBoxLayout;
  run_ = new QPushButton(QStringLiteral("実行"), this);
  run_->setObjectName(QStringLiteral("kensho_run_cmd"));
  cancel_ = new QPushButton(QStringLiteral("中止"), this);
  cancel_->setObjectName(QStringLiteral("kensho_cancel_cmd"));
  cancel_->setEnabled(false);
  close_ = new QPushButton(QStringLiteral("閉じる"), this);
  close_->setObjectName(QStringLiteral("kensho_close_cmd"));
  buttons->addStretch();
  buttons->addWidget(run_);
  buttons->addWidget(cancel_);
  buttons->addWidget(close_);
  root->addLayout(buttons);
  connect(run_, &QPushButton::clicked, this, &BacktestDialog::start);
  connect(cancel_, &QPushButton::clicked, this, &BacktestDialog::cancel);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
}

void BacktestDialog::say(const QString& text, bool error) {
  msg_->setStyleSheet(error ? QStringLiteral("color: red;") : QStringLiteral("color: blue;"));
  msg_->setText(text);
}

void BacktestDialog::refresh_dates() {
  if (running_) return;
  const Platform& platform = WindowHub::instance().platform();
  ScreeningWindow* sw = screening_window();
  const AppFolders folders =
      sw ? sw->session().folders()
         : read_settei_sub(platform.documents_folder, platform.desktop_folder);
  const std::vector<std::string> dates = backtest::database_trading_dates(folders);
  from_->clear();
  to_->clear();
  // Newest first, as the other date lists of the program.
  for (auto it = dates.rbegin(); it != dates.rend(); ++it) {
    from_->addItem(qs(*it));
    to_->addItem(qs(*it));
  }
  if (dates.empty()) {
    say(QStringLiteral("エラー：株価データがありません。"), true);
    return;
  }
  to_->setCurrentIndex(0);
  from_->setCurrentIndex(std::min(kDefaultSpan, from_->count() - 1));
}

void BacktestDialog::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!running_) refresh_dates();
}

void BacktestDialog::closeEvent(QCloseEvent* event) {
  // A run in progress is cancelled first; the dialog closes once it has stopped.
  if (running_) {
    cancel_requested_ = true;
    close_after_run_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void BacktestDialog::start() {
  if (running_) return;
  ScreeningWindow* sw = screening_window();
  if (!sw) {
    say(QStringLiteral("エラー：銘柄選択画面が開いていません。"), true);
    return;
  }
  if (from_->count() == 0) {
    say(QStringLiteral("エラー：株価データがありません。"), true);
    return;
  }
  sw->pull_controls();
  backtest::Job job;
  WindowHub& hub = WindowHub::instance();
  job.platform = hub.platform();
  job.platform.yield = {};
  job.controls = sw->session().controls();
  // A saved screen chosen in the window names the output folder.
  const std::string chosen = sw->screen_name().trimmed().toStdString();
  bool saved_screen = false;
  for (const std::string& saved : screening::list_screens(sw->session().folders().user_folder)) {
    if (saved == chosen) {
      job.screen_name = chosen;
      saved_screen = true;
    }
  }
  job.params.from = from_->currentText().toStdString();
  job.params.to = to_->currentText().toStdString();
  if (job.params.from > job.params.to) std::swap(job.params.from, job.params.to);
  job.params.hold = hold_->value();
  job.params.every = every_->value();
  const QString title =
      backtest::equity_title(saved_screen ? job.screen_name : std::string(), job.params);
  job.picture = [title](const backtest::Result& r) {
    return backtest::equity_png(r, title).toStdString();
  };
  job.status = [this](const std::string& text) {
    say(qs(text));
    process_events_now();
  };
  const YieldFn yield = hub.platform().yield;
  job.progress = [this, yield](int i, int n) {
    bar_->setMaximum(n);
    bar_->setValue(i);
    say(QStringLiteral("検証中　%1/%2").arg(i).arg(n));
    yield_now(yield);
    return !cancel_requested_;
  };

  running_ = true;
  cancel_requested_ = false;
  run_->setEnabled(false);
  cancel_->setEnabled(true);
  sw->set_controls_enabled(false);
  bar_->setValue(0);
  const backtest::JobOutcome outcome = backtest::run_job(job);
  running_ = false;
  run_->setEnabled(true);
  cancel_->setEnabled(false);
  if (QPointer<ScreeningWindow> alive = screening_window()) alive->set_controls_enabled(true);
  if (close_after_run_) {
    close_after_run_ = false;
    close();
    return;
  }

  if (outcome.result.cancelled) {
    say(QStringLiteral("中止しました。"));
    return;
  }
  if (!outcome.error.empty()) {
    say(qs(outcome.error), true);
    return;
  }
  say(QStringLiteral("完了：%1").arg(qs(outcome.dir)));
  if (auto* w = qobject_cast<BacktestWindow*>(hub.show_window(QStringLiteral("kensho_out_frm")))) {
    w->show_result(outcome.result, title, qs(outcome.dir));
  }
}

}  // namespace lp::gui

LP_REGISTER_WINDOW("kensho_frm", [] { return new lp::gui::BacktestDialog; });
