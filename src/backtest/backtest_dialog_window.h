// 「検証」 of the screening window: the period (trading dates of the database), the hold and
// the step between signal days, a progress bar with a cancel button. It backtests the
// screening window's current settings and opens the backtest window with the result.
#pragma once

#include <QWidget>

#include "backtest/screen_backtest.h"

class QComboBox;
class QSpinBox;
class QProgressBar;
class QPushButton;
class QLabel;
class QLineEdit;
class QCheckBox;
class QGroupBox;

namespace lp::gui {

class BacktestDialog : public QWidget {
  Q_OBJECT
 public:
  explicit BacktestDialog(QWidget* parent = nullptr);

  // Fills the period lists from the database (also done whenever the dialog is shown).
  void refresh_dates();
  bool running() const { return running_; }
  // The account settings in the boxes, and the boxes set from settings (a saved screen's).
  lp::backtest::AccountSettings settings() const;
  void set_settings(const lp::backtest::AccountSettings& s);

 public slots:
  void start();
  void cancel() { cancel_requested_ = true; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void say(const QString& text, bool error = false);

  QComboBox* from_ = nullptr;
  QComboBox* to_ = nullptr;
  QSpinBox* hold_ = nullptr;
  QSpinBox* every_ = nullptr;
  QGroupBox* account_ = nullptr;  // checkable: the account mode
  QLineEdit* capital_ = nullptr;
  QLineEdit* positions_ = nullptr;
  QLineEdit* rank_ = nullptr;
  QCheckBox* rank_asc_ = nullptr;
  QLineEdit* stop_ = nullptr;
  QLineEdit* target_ = nullptr;
  QLineEdit* trail_ = nullptr;
  QLineEdit* exit_ = nullptr;
  QLineEdit* turnover_ = nullptr;
  QLineEdit* commission_ = nullptr;
  QLineEdit* slippage_ = nullptr;
  std::string settings_screen_;  // the saved screen whose settings the boxes show
  QProgressBar* bar_ = nullptr;
  QPushButton* run_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* close_ = nullptr;
  QLabel* msg_ = nullptr;
  bool running_ = false;
  bool cancel_requested_ = false;
  bool close_after_run_ = false;  // closed while running: close once the run has stopped
};

}  // namespace lp::gui
