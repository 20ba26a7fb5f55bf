#include "backtest/backtest_dialog_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

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
  // 0 (「なし」): no hold exit, in the account mode only.
  hold_->setRange(0, 250);
  hold_->setValue(20);
  hold_->setSuffix(QStringLiteral(" 日"));
  hold_->setSpecialValueText(QStringLiteral("なし"));
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

  // The account mode: capital, places, rank, exits and costs.
  account_ = new QGroupBox(QStringLiteral("口座で検証（資金・保有数・損切・手数料）"), this);
  account_->setObjectName(QStringLiteral("kensho_account_chk"));
  account_->setCheckable(true);
  account_->setChecked(false);
  auto* account_form = new QFormLayout(account_);
  auto box = [this](const char* name, const char* placeholder) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    e->setPlaceholderText(QString::fromUtf8(placeholder));
    return e;
  };
  capital_ = box("kensho_capital_txt", "3000000");
  capital_->setText(QStringLiteral("3000000"));
  positions_ = box("kensho_positions_txt", "10");
  positions_->setText(QStringLiteral("10"));
  rank_ = box("kensho_rank_txt", "C / REF(C,20)（空欄：コード順）");
  rank_asc_ = new QCheckBox(QStringLiteral("小さい順"), this);
  rank_asc_->setObjectName(QStringLiteral("kensho_rank_asc_chk"));
  auto* rank_row = new QHBoxLayout;
  rank_row->addWidget(rank_, 1);
  rank_row->addWidget(rank_asc_);
  stop_ = box("kensho_stop_txt", "8（空欄：なし）");
  target_ = box("kensho_target_txt", "20（空欄：なし）");
  trail_ = box("kensho_trail_txt", "10（空欄：なし）");
  exit_ = box("kensho_exit_txt", "C < MA(C,25)（空欄：なし）");
  turnover_ = box("kensho_turnover_txt", "100000000（空欄：なし）");
  commission_ = box("kensho_commission_txt", "0.1%,min=100,max=1000 または 500");
  slippage_ = box("kensho_slippage_txt", "0.05（空欄：なし）");
  account_form->addRow(QStringLiteral("資金（円）"), capital_);
  account_form->addRow(QStringLiteral("最大保有数"), positions_);
  account_form->addRow(QStringLiteral("順位式"), rank_row);
  account_form->addRow(QStringLiteral("損切 %"), stop_);
  account_form->addRow(QStringLiteral("利確 %"), target_);
  account_form->addRow(QStringLiteral("トレール %"), trail_);
  account_form->addRow(QStringLiteral("決済式"), exit_);
  account_form->addRow(QStringLiteral("最低売買代金（円）"), turnover_);
  account_form->addRow(QStringLiteral("手数料"), commission_);
  account_form->addRow(QStringLiteral("スリッページ %"), slippage_);
  root->addWidget(account_);

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

backtest::AccountSettings BacktestDialog::settings() const {
  backtest::AccountSettings s;
  s.account = account_->isChecked();
  auto t = [](const QLineEdit* e) { return e->text().trimmed().toStdString(); };
  s.capital = t(capital_);
  s.positions = t(positions_);
  s.rank = t(rank_);
  s.rank_asc = rank_asc_->isChecked();
  s.stop = t(stop_);
  s.target = t(target_);
  s.trail = t(trail_);
  s.exit = t(exit_);
  s.turnover = t(turnover_);
  s.commission = t(commission_);
  s.slippage = t(slippage_);
  s.hold = std::to_string(hold_->value());
  return s;
}

void BacktestDialog::set_settings(const backtest::AccountSettings& s) {
  account_->setChecked(s.account);
  capital_->setText(qs(s.capital));
  positions_->setText(qs(s.positions));
  rank_->setText(qs(s.rank));
  rank_asc_->setChecked(s.rank_asc);
  stop_->setText(qs(s.stop));
  target_->setText(qs(s.target));
  trail_->setText(qs(s.trail));
  exit_->setText(qs(s.exit));
  turnover_->setText(qs(s.turnover));
  commission_->setText(qs(s.commission));
  slippage_->setText(qs(s.slippage));
  if (!s.hold.empty()) hold_->setValue(std::atoi(s.hold.c_str()));
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
  if (running_) return;
  refresh_dates();
  // The settings kept with the saved screen chosen in the screening window, once per screen.
  if (ScreeningWindow* sw = screening_window()) {
    const std::string chosen = sw->screen_name().trimmed().toStdString();
    if (!chosen.empty() && chosen != settings_screen_) {
      screening::ScreenMarks marks;
      std::string error;
      if (screening::read_screen_marks(sw->session().folders().user_folder, chosen, marks,
                                       error) &&
          !marks.backtest.empty()) {
        set_settings(backtest::settings_from_marks(marks.backtest));
      }
      settings_screen_ = chosen;
    }
  }
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
  job.params.hold = std::max(1, hold_->value());
  job.params.every = every_->value();
  const backtest::AccountSettings settings = this->settings();
  if (settings.account) {
    backtest::AccountOptions options;
    std::string error;
    if (!backtest::account_options_of(settings, options, error)) {
      say(QStringLiteral("エラー：") + qs(error), true);
      return;
    }
    job.account = options;
  } else if (hold_->value() < 1) {
    say(QStringLiteral("エラー：保有日数「なし」は口座で検証するときだけ選べます。"), true);
    return;
  }
  if (saved_screen) {
    // The settings are kept with the saved screen, for the next run of the same screen.
    const std::string& user_folder = sw->session().folders().user_folder;
    screening::ScreenMarks marks;
    std::string error;
    if (screening::read_screen_marks(user_folder, job.screen_name, marks, error)) {
      marks.backtest = backtest::settings_marks(settings);
      screening::write_screen_marks(user_folder, job.screen_name, marks, error);
    }
    settings_screen_ = job.screen_name;
  }
  const QString title =
      job.account ? backtest::account_title(saved_screen ? job.screen_name : std::string(),
                                            job.params, job.account->params)
                  : backtest::equity_title(saved_screen ? job.screen_name : std::string(),
                                           job.params);
  job.account_picture = [title](const backtest::AccountResult& r) {
    return backtest::account_png(r, title).toStdString();
  };
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
  if (outcome.account_mode && outcome.stats.few_trades) {
    say(QStringLiteral("完了：%1　%2").arg(qs(outcome.dir), qs(backtest::kFewTradesWarning)), true);
  }
  if (auto* w = qobject_cast<BacktestWindow*>(hub.show_window(QStringLiteral("kensho_out_frm")))) {
    if (outcome.account_mode) {
      w->show_account(outcome.account, outcome.stats, title, qs(outcome.dir));
    } else {
      w->show_result(outcome.result, title, qs(outcome.dir));
    }
  }
}

}  // namespace lp::gui

LP_REGISTER_WINDOW("kensho_frm", [] { return new lp::gui::BacktestDialog; });
