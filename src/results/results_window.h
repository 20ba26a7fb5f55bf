// The screening results window "meigarasel_out_frm": pages of 25 results, sorting, stepping,
// copying and handing the chosen stock to the chart.
#pragma once

#include <QTimer>
#include <QWidget>

#include "results/results_model.h"
#include "results/results_valuation.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace lp::gui {

class ResultsWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ResultsWindow(QWidget* parent = nullptr);

  // Reads "sel0_out.csv" and shows page 0: what the "start" signal on startflag_lb asks for.
  void load_results();
  const ResultTable& table() const { return table_; }
  // The company-results columns of the table as loaded (present: the columns are shown).
  const ValuationTable& valuation() const { return valuation_; }
  bool ready() const { return ready_; }
  // 「出力」: the list as sorted now, to .xlsx or .csv (UTF-8 with BOM, or CP932). The
  // outcome is shown in msg1_lb; false when the file could not be written.
  bool export_to(const QString& path, bool cp932);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void check_start_flag();
  void fill_page(int p);
  int page_list_value() const;
  void set_page_list(int p);
  void on_page_chosen();
  void on_next_back(int delta);
  void on_cell_changed(int row, int column);
  void on_step(bool forward);
  void on_sort();
  void copy_selection();
  void choose_export_file();
  // Selects grid rows from..to (any order) across every movable column.
  void select_rows(int from, int to);
  // Resets the chart's reference line and writes the code into its code box.
  void send_to_chart(const std::string& code);
  void wait_for_chart();
  void set_chart_enabled(bool enabled);
  void show_valuation_columns(bool shown, bool sectors);

  QTableWidget* grid_ = nullptr;
  QLabel* hiduke1_lb_ = nullptr;
  QLabel* kensuu_lb_ = nullptr;  // the number of results
  QComboBox* page1_cmb_ = nullptr;
  QPushButton* next1_cmd_ = nullptr;
  QPushButton* back1_cmd_ = nullptr;
  QPushButton* bk_nx_cmd_[2] = {nullptr, nullptr};
  QPushButton* export_cmd_ = nullptr;
  QLabel* msg1_lb_ = nullptr;
  QLabel* startflag_lb_ = nullptr;
  // The flag label has no change signal; the hand-over is noticed by looking at it often.
  QTimer flag_timer_;

  ResultTable table_;
  ResultSorter sorter_;
  ValuationTable valuation_;
  int page_ = 0;
  bool ready_ = true;
  int row_anchor_ = -1;  // the row a press on the number column started at
};

}  // namespace lp::gui
