// The portfolio window "portforio": ten holdings files, valued at the latest prices, paged ten
// holdings at a time, and handed to the chart window one by one.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "ledger/ledger.h"
#include "ledger/pages.h"
#include "portfolio/portfolio_model.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace lp::gui {

class PortfolioWindow : public QWidget {
  Q_OBJECT

 public:
  explicit PortfolioWindow(QWidget* parent = nullptr);
  ~PortfolioWindow() override;

  // False while an operation runs and before the first view is built.
  bool is_ready() const { return ready_; }
  // The holding the grid selection points at (0-based over the whole file), or -1.
  int selected_index() const { return selected_; }
  int current_page() const { return page_; }
  const portfolio::Book* book() const { return book_.get(); }

  // Reads the settings and builds the first view (also run once after construction).
  void open_portfolio();

  // Asks before a holding is deleted; true to go ahead. A question box with 「はい」「いいえ」
  // unless replaced (tests answer it themselves).
  std::function<bool(const QString& question)> confirm;
  // The .xlsx file a page is exported to; empty to cancel. A save dialog unless replaced.
  std::function<QString(const QString& suggested)> export_path;

  // The ledger of the file shown (「取引」「損益」「成績」), null before the settings are read.
  const ledger::LedgerStore* ledger() const { return ledger_.get(); }
  // Re-reads the ledger and fills the three pages (「成績」 over its period as set).
  void refresh_ledger();

 private:
  void build_ui();
  bool begin(const char* status);
  void end();
  void show_status(const QString& text, bool error);
  // Shows a refused command's message, and the file's current rows when they changed.
  void show_refusal(const portfolio::Outcome& outcome,
                    const std::vector<portfolio::Holding>& before);
  void show_outcome(const portfolio::Outcome& outcome);
  void clear_main_message();

  void load_file(int file_no);
  void refill_pages();
  void show_page(int page);
  void select_row(int row);
  void set_commands_enabled(bool on);

  void on_file_changed(int item);
  void on_page_chosen(int item);
  void on_add();
  void on_correct();
  void on_delete();
  void on_sort(int column);
  void on_step(int direction);
  void on_take_over();

  portfolio::Entries entries() const;
  void show_in_chart(int index);

  // The ledger pages.
  QWidget* build_trades_page();
  QWidget* build_pnl_page();
  QWidget* build_perf_page();
  void ledger_status(const QString& text, bool error);
  ledger::Entry ledger_entry() const;
  void select_trade(int row);
  void on_ledger_add();
  void on_ledger_change();
  void on_ledger_delete();
  void on_ledger_from_portfolio();
  void on_ledger_from_chart();
  void on_ledger_export();
  void fill_pnl();
  void fill_perf();
  // The chart's code, day and price (a selected open, high or low, else the close); false when
  // the chart shows no day.
  bool chart_day(QString& code, QString& date, QString& price) const;

  std::unique_ptr<portfolio::Book> book_;
  bool ready_ = false;
  bool settings_ok_ = false;
  int page_ = 0;
  int selected_ = -1;
  bool filling_ = false;  // the combos are being refilled: their signals mean nothing

  QComboBox* fileno_cmb_ = nullptr;
  QComboBox* page_cmb_ = nullptr;
  QPushButton* regist_ = nullptr;
  QPushButton* change_ = nullptr;
  QPushButton* delete_ = nullptr;
  QPushButton* input_ = nullptr;
  QPushButton* close_ = nullptr;
  QPushButton* next_ = nullptr;
  QPushButton* back_ = nullptr;
  std::array<QPushButton*, 2> step_{};  // bk_nx_cmd(0) "△", bk_nx_cmd(1) "▽"
  QTableWidget* grid_ = nullptr;
  QLineEdit* code_ = nullptr;
  QLineEdit* date_ = nullptr;
  QLineEdit* shares_ = nullptr;
  QLineEdit* price_ = nullptr;
  QLabel* alert_ = nullptr;
  std::array<QLabel*, 4> totals_{};

  QTabWidget* tabs_ = nullptr;
  std::unique_ptr<ledger::LedgerStore> ledger_;
  std::vector<ledger::Transaction> trades_;
  int trade_selected_ = -1;
  QTableWidget* trades_grid_ = nullptr;
  QLineEdit* l_date_ = nullptr;
  QComboBox* l_kind_ = nullptr;
  QLineEdit* l_code_ = nullptr;
  QLineEdit* l_shares_ = nullptr;
  QLineEdit* l_price_ = nullptr;
  QLineEdit* l_amount_ = nullptr;
  QLineEdit* l_fee_ = nullptr;
  QLineEdit* l_tax_ = nullptr;
  QComboBox* l_account_ = nullptr;
  QLabel* l_alert_ = nullptr;
  QComboBox* pnl_year_ = nullptr;
  QComboBox* pnl_account_ = nullptr;
  QTableWidget* pnl_holdings_ = nullptr;
  QTableWidget* pnl_year_grid_ = nullptr;
  QTableWidget* pnl_nisa_ = nullptr;
  QTableWidget* pnl_dividends_ = nullptr;
  QLineEdit* perf_from_ = nullptr;
  QLineEdit* perf_to_ = nullptr;
  QComboBox* perf_account_ = nullptr;
  QLabel* perf_result_ = nullptr;
  QWidget* perf_chart_ = nullptr;
  std::vector<ledger::Table> last_tables_;  // what 「出力」 writes
  ledger::Performance perf_;
};

}  // namespace lp::gui
