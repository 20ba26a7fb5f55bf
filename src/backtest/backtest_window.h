// The backtest window: the summary table, the equity picture and the trades grid (sortable;
// a double click charts the stock up to its exit day with the entry price as reference).
#pragma once

#include <QWidget>
#include <optional>

#include "backtest/backtest.h"

class QLabel;
class QTableWidget;

namespace lp::gui {

// Paints the equity curves with the backtest's painter.
class EquityView : public QWidget {
 public:
  explicit EquityView(QWidget* parent = nullptr);
  void set_points(std::vector<lp::backtest::EquityPoint> points, QString title);
  // The account mode: the equity curves above, the drawdowns below.
  void set_account(const lp::backtest::AccountResult& result, QString title);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<lp::backtest::EquityPoint> points_;
  QString title_;
  std::optional<lp::backtest::AccountResult> account_;
};

class BacktestWindow : public QWidget {
  Q_OBJECT
 public:
  explicit BacktestWindow(QWidget* parent = nullptr);

  void show_result(const lp::backtest::Result& result, const QString& title, const QString& folder);
  // The account mode: the report, the monthly returns as a heat map, the equity and drawdown
  // curves and the trades with their exit reasons.
  void show_account(const lp::backtest::AccountResult& result,
                    const lp::backtest::AccountStats& stats, const QString& title,
                    const QString& folder);
  // Charts trade row `row` of the grid (as shown, after any sorting).
  void chart_trade(int row);

 private:
  // The reference code the trades are compared with, and its name as the database has it.
  struct Benchmark {
    std::string code;
    QString text;  // "1001 name", or the code alone when no name was found
  };
  Benchmark benchmark_of(const std::string& to) const;

  QLabel* caption_ = nullptr;
  QLabel* note_ = nullptr;  // benchmark, costs and taxes
  QTableWidget* summary_ = nullptr;
  QTableWidget* report_ = nullptr;   // the account mode's figures
  QTableWidget* monthly_ = nullptr;  // the account mode's months, coloured by return
  EquityView* equity_ = nullptr;
  QTableWidget* trades_ = nullptr;
};

}  // namespace lp::gui
