#include "backtest/backtest_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QSplitter>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <cmath>

#include "backtest/equity_painter.h"
#include "common/numbers.h"
#include "common/settings.h"
#include "pricedb/series.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

// A number cell that sorts as a number.
QTableWidgetItem* number_item(double value, const std::string& text) {
  auto* item = new QTableWidgetItem;
  item->setData(Qt::DisplayRole, value);
  item->setData(Qt::UserRole, qs(text));  // the text as written in trades.csv
  item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return item;
}

// Rows coloured as the results window colours prices: red for a gain, blue for a loss,
// green for none.
QColor colour_of(double pct) {
  if (pct > 0) return QColor(255, 0, 0);
  if (pct < 0) return QColor(0, 0, 255);
  return QColor(0, 128, 0);
}

double round2(double v) {
  return static_cast<double>(round_half_even(v * 100)) / 100;
}

std::string pct_text(double v) {
  return format_decimal(round2(v));
}

// Splits one CSV line of the summary text.
QStringList fields_of(const std::string& line) {
  return qs(line).split(QLatin1Char(','));
}

}  // namespace

BacktestWindow::Benchmark BacktestWindow::benchmark_of(const std::string& to) const {
  const Platform& platform = WindowHub::instance().platform();
  const AppFolders folders = read_settei_sub(platform.documents_folder, platform.desktop_folder);
  Benchmark b;
  b.code = folders.reference_code;
  Series series;
  std::string name;
  if (load_series(SeriesSource::from(folders), to, 1, b.code, series, false) == 0 &&
      !series.empty()) {
    name = series[0].d3;
  }
  b.text = qs(b.code) + (name.empty() ? QString() : QStringLiteral(" ") + qs(name));
  return b;
}

EquityView::EquityView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("kensho_equity_pic"));
  setMinimumSize(600, 320);
}

void EquityView::set_points(std::vector<lp::backtest::EquityPoint> points, QString title) {
  points_ = std::move(points);
  title_ = std::move(title);
  account_.reset();
  update();
}

void EquityView::set_account(const lp::backtest::AccountResult& result, QString title) {
  points_.clear();
  title_ = std::move(title);
  account_ = result;
  update();
}

void EquityView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (account_) {
    lp::backtest::paint_account(p, QRectF(rect()), *account_, title_);
  } else {
    lp::backtest::paint_equity(p, QRectF(rect()), points_, title_);
  }
}

BacktestWindow::BacktestWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("kensho_out_frm"));
  setWindowTitle(QStringLiteral("検証結果 -  ルーメンピック -  NORDHAVEN  -"));
  auto* root = new QVBoxLayout(this);
  caption_ = new QLabel(this);
  caption_->setObjectName(QStringLiteral("kensho_caption_lb"));
  caption_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  root->addWidget(caption_);
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("kensho_note_lb"));
  note_->setWordWrap(true);
  root->addWidget(note_);
  summary_ = new QTableWidget(this);
  summary_->setObjectName(QStringLiteral("kensho_summary_grd"));
  summary_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  summary_->verticalHeader()->hide();
  summary_->setMaximumHeight(130);
  root->addWidget(summary_);
  // The account mode's report and monthly table side by side (hidden in the signal mode).
  auto* account_row = new QHBoxLayout;
  report_ = new QTableWidget(this);
  report_->setObjectName(QStringLiteral("kensho_report_grd"));
  report_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  report_->verticalHeader()->hide();
  report_->setMaximumHeight(340);
  report_->verticalHeader()->setDefaultSectionSize(report_->fontMetrics().height() + 6);
  monthly_ = new QTableWidget(this);
  monthly_->setObjectName(QStringLiteral("kensho_monthly_grd"));
  monthly_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  monthly_->verticalHeader()->hide();
  monthly_->setMaximumHeight(340);
  monthly_->verticalHeader()->setDefaultSectionSize(monthly_->fontMetrics().height() + 6);
  account_row->addWidget(report_, 2);
  account_row->addWidget(monthly_, 3);
  root->addLayout(account_row);
  report_->hide();
  monthly_->hide();
  auto* split = new QSplitter(Qt::Vertical, this);
  equity_ = new EquityView(split);
  trades_ = new QTableWidget(split);
  trades_->setObjectName(QStringLiteral("kensho_trades_grd"));
  trades_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  trades_->setSelectionBehavior(QAbstractItemView::SelectRows);
  trades_->verticalHeader()->hide();
  trades_->setSortingEnabled(true);
  split->addWidget(equity_);
  split->addWidget(trades_);
  // The trades are what one reads row by row: room for a dozen of them, the picture the rest.
  equity_->setMinimumHeight(240);
  trades_->setMinimumHeight(trades_->horizontalHeader()->sizeHint().height() +
                            12 * trades_->verticalHeader()->defaultSectionSize() + 4);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  root->addWidget(split, 1);
  connect(trades_, &QTableWidget::cellDoubleClicked, this,
          [this](int row, int) { chart_trade(row); });
  resize(1100, 900);
}

void BacktestWindow::show_result(const lp::backtest::Result& result, const QString& title,
                                 const QString& folder) {
  caption_->setText(title + QStringLiteral("    出力先：") + folder);
  summary_->show();
  report_->hide();
  monthly_->hide();
  const Benchmark bench = benchmark_of(result.params.to);
  note_->setText(
      QStringLiteral("基準：%1　基準騰落率%・平均超過%はこの銘柄の同じ期間の騰落率と比べます。"
                     "売買手数料・税金は含みません。")
          .arg(bench.text));

  const std::string text = lp::backtest::summary_text(result);
  std::vector<std::string> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t nl = text.find('\n', pos);
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  const QStringList head = fields_of(lines.front());
  summary_->clear();
  summary_->setColumnCount(static_cast<int>(head.size()));
  summary_->setHorizontalHeaderLabels(head);
  summary_->setRowCount(static_cast<int>(lines.size()) - 1);
  for (std::size_t r = 1; r < lines.size(); ++r) {
    const QStringList f = fields_of(lines[r]);
    for (int c = 0; c < f.size(); ++c) {
      auto* item = new QTableWidgetItem(f[c]);
      if (c > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      summary_->setItem(static_cast<int>(r) - 1, c, item);
    }
  }
  // The less obvious columns explain themselves where they are read.
  const QString tips[][2] = {
      {QStringLiteral("未約定"),
       QStringLiteral("シグナルは出たが、翌取引日に売買がなく（始値がなく）買えなかった件数")},
      {QStringLiteral("未決済"),
       QStringLiteral(
           "売却日がデータの最終日より後になるため、まだ売っていない件数（成績には含めません）")},
      {QStringLiteral("平均超過%"),
       QStringLiteral("取引ごとの騰落率%から同じ期間の基準（%1）の騰落率%を引いた値の平均")
           .arg(bench.text)},
  };
  for (int c = 0; c < summary_->columnCount(); ++c) {
    for (const auto& tip : tips) {
      if (summary_->horizontalHeaderItem(c)->text() == tip[0]) {
        summary_->horizontalHeaderItem(c)->setToolTip(tip[1]);
      }
    }
  }
  summary_->resizeColumnsToContents();

  equity_->set_points(result.equity, title);

  trades_->setSortingEnabled(false);
  trades_->clear();
  const QStringList cols = {
      QStringLiteral("シグナル日"), QStringLiteral("コード"),  QStringLiteral("銘柄"),
      QStringLiteral("買付日"),     QStringLiteral("買付値"),  QStringLiteral("売却日"),
      QStringLiteral("売却値"),     QStringLiteral("騰落率%"), QStringLiteral("基準騰落率%")};
  trades_->setColumnCount(static_cast<int>(cols.size()));
  trades_->setHorizontalHeaderLabels(cols);
  trades_->setRowCount(static_cast<int>(result.trades.size()));
  int r = 0;
  for (const lp::backtest::Trade& t : result.trades) {
    const double entry = static_cast<double>(round_half_even(t.entry_price * 100)) / 100;
    QTableWidgetItem* items[] = {
        new QTableWidgetItem(qs(t.signal_date)),
        new QTableWidgetItem(qs(t.code)),
        new QTableWidgetItem(qs(t.name)),
        new QTableWidgetItem(qs(t.entry_date)),
        number_item(entry, format_decimal(entry)),
        new QTableWidgetItem(qs(t.exit_date)),
        number_item(t.exit_price, format_decimal(t.exit_price)),
        number_item(round2(t.return_pct), pct_text(t.return_pct)),
        t.has_benchmark ? number_item(round2(t.benchmark_pct), pct_text(t.benchmark_pct))
                        : new QTableWidgetItem(QStringLiteral("-")),
    };
    const QColor colour = colour_of(t.return_pct);
    for (int c = 0; c < static_cast<int>(std::size(items)); ++c) {
      items[c]->setForeground(colour);
      trades_->setItem(r, c, items[c]);
    }
    ++r;
  }
  trades_->setSortingEnabled(true);
  trades_->resizeColumnsToContents();
}

void BacktestWindow::show_account(const lp::backtest::AccountResult& result,
                                  const lp::backtest::AccountStats& stats, const QString& title,
                                  const QString& folder) {
  caption_->setText(title + QStringLiteral("    出力先：") + folder);
  const Benchmark bench = benchmark_of(result.days.empty() ? std::string() : result.days.back().date);
  note_->setText(
      QStringLiteral("基準：%1（期間の初日の終値で資金全額を買ったとき）。翌日始値で買付、"
                     "100株単位、ストップ高での買付・ストップ安張り付きでの売却なし。%2")
          .arg(bench.text,
               stats.few_trades
                   ? QStringLiteral("<span style='color:red'>%1</span>")
                         .arg(qs(lp::backtest::kFewTradesWarning))
                   : QString()));
  summary_->hide();
  report_->show();
  monthly_->show();

  // The report: one figure a row.
  const std::string text = lp::backtest::report_text(result, stats);
  std::vector<std::pair<QString, QString>> rows;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t nl = text.find('\n', pos);
    const QString line = qs(text.substr(pos, nl - pos));
    const int gap = line.indexOf(QChar(0x3000));
    rows.emplace_back(gap < 0 ? line : line.left(gap), gap < 0 ? QString() : line.mid(gap + 1));
    pos = nl + 1;
  }
  report_->clear();
  report_->setColumnCount(2);
  report_->setHorizontalHeaderLabels({QStringLiteral("項目"), QStringLiteral("値")});
  report_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    auto* key = new QTableWidgetItem(rows[static_cast<std::size_t>(r)].first);
    auto* value = new QTableWidgetItem(rows[static_cast<std::size_t>(r)].second);
    if (rows[static_cast<std::size_t>(r)].second.isEmpty()) key->setForeground(QColor(255, 0, 0));
    report_->setItem(r, 0, key);
    report_->setItem(r, 1, value);
  }
  report_->resizeColumnsToContents();

  // The months: red for a gain and blue for a loss, deeper the further from 0.
  const std::vector<lp::backtest::MonthRow> months = lp::backtest::monthly_returns(result);
  double widest = 1;
  for (const auto& m : months) {
    for (const auto& v : m.months) {
      if (v) widest = std::max(widest, std::fabs(*v));
    }
  }
  QStringList head{QStringLiteral("年")};
  for (int m = 1; m <= 12; ++m) head << QString::number(m);
  head << QStringLiteral("年間");
  monthly_->clear();
  monthly_->setColumnCount(static_cast<int>(head.size()));
  monthly_->setHorizontalHeaderLabels(head);
  monthly_->setRowCount(static_cast<int>(months.size()));
  for (int r = 0; r < static_cast<int>(months.size()); ++r) {
    const auto& m = months[static_cast<std::size_t>(r)];
    monthly_->setItem(r, 0, new QTableWidgetItem(QString::number(m.year)));
    for (int c = 0; c < 13; ++c) {
      const std::optional<double>& v =
          c < 12 ? m.months[static_cast<std::size_t>(c)] : m.year_return;
      auto* item = new QTableWidgetItem(v ? QString::number(*v, 'f', 2) : QString());
      item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (v) {
        const double depth = std::min(1.0, std::fabs(*v) / widest);
        const int fade = static_cast<int>(255 - 150 * depth);
        item->setBackground(*v > 0 ? QColor(255, fade, fade)
                            : *v < 0 ? QColor(fade, fade, 255)
                                     : QColor(255, 255, 255));
      }
      monthly_->setItem(r, c + 1, item);
    }
  }
  monthly_->resizeColumnsToContents();

  equity_->set_account(result, title);

  trades_->setSortingEnabled(false);
  trades_->clear();
  const QStringList cols = {
      QStringLiteral("シグナル日"), QStringLiteral("コード"),  QStringLiteral("銘柄"),
      QStringLiteral("買付日"),     QStringLiteral("買付値"),  QStringLiteral("売却日"),
      QStringLiteral("売却値"),     QStringLiteral("株数"),    QStringLiteral("損益"),
      QStringLiteral("騰落率%"),    QStringLiteral("決済理由")};
  trades_->setColumnCount(static_cast<int>(cols.size()));
  trades_->setHorizontalHeaderLabels(cols);
  trades_->setRowCount(static_cast<int>(result.trades.size()));
  int r = 0;
  for (const lp::backtest::AccountTrade& t : result.trades) {
    const double entry = round2(t.entry_price), exit = round2(t.exit_price);
    QTableWidgetItem* items[] = {
        new QTableWidgetItem(qs(t.signal_date)),
        new QTableWidgetItem(qs(t.code)),
        new QTableWidgetItem(qs(t.name)),
        new QTableWidgetItem(qs(t.entry_date)),
        number_item(entry, format_decimal(entry)),
        new QTableWidgetItem(qs(t.exit_date)),
        number_item(exit, format_decimal(exit)),
        number_item(static_cast<double>(t.shares), std::to_string(t.shares)),
        number_item(std::round(t.profit), format_decimal(std::round(t.profit))),
        number_item(round2(t.return_pct), pct_text(t.return_pct)),
        new QTableWidgetItem(QString::fromLatin1(lp::backtest::exit_reason_name(t.reason))),
    };
    const QColor colour = colour_of(t.profit);
    for (int c = 0; c < static_cast<int>(std::size(items)); ++c) {
      items[c]->setForeground(colour);
      trades_->setItem(r, c, items[c]);
    }
    ++r;
  }
  trades_->setSortingEnabled(true);
  trades_->resizeColumnsToContents();
}

void BacktestWindow::chart_trade(int row) {
  if (row < 0 || row >= trades_->rowCount()) return;
  const QString code = trades_->item(row, 1)->text();
  const QString exit_day = trades_->item(row, 5)->text();
  const QString entry = trades_->item(row, 4)->data(Qt::UserRole).toString();
  WindowHub& hub = WindowHub::instance();
  QPointer<QWidget> chart = hub.show_window(QStringLiteral("graph"));
  if (!chart) return;
  if (!wait_for_chart_idle(chart)) return;
  if (auto* end = control<QLabel>(chart, "end_date_lb")) end->setText(exit_day);
  if (auto* refer = control<QLineEdit>(chart, "refer1_txt")) refer->setText(entry);
  if (auto* check = control<QCheckBox>(chart, "refer1_chk")) check->setChecked(true);
  if (auto* box = control<QLineEdit>(chart, "meigara_code_txt")) {
    // The same code again must still redraw (the end day and reference line changed).
    if (box->text() == code) box->setText(QString());
    box->setText(code);
  }
}

}  // namespace lp::gui

LP_REGISTER_WINDOW("kensho_out_frm", [] { return new lp::gui::BacktestWindow; });
