// The chart window "graph": one stock's panes, its grids, code stepping, history and links.
// Other windows drive it through its controls (meigara_code_txt, meigara_txt, refer1_chk,
// refer1_txt) and watch busy_flag_lb; the logic lives in the chart's model files.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "chart/chart_grids.h"
#include "chart/chart_model.h"
#include "chart/chart_state.h"
#include "common/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace lp::chart {

class ChartWindow;

// One drawing pane Picture1(i): paints its part of the scene and reports the mouse.
class ChartPane : public QWidget {
 public:
  ChartPane(ChartWindow* owner, int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  ChartWindow* owner_;
  int index_;
};

class ChartWindow : public QWidget {
 public:
  explicit ChartWindow(QWidget* parent = nullptr);
  ~ChartWindow() override;

  // The one drawing operation: load the code box's stock and redraw every pane and grid.
  void redraw_chart();

  bool disp_ready() const { return disp_ready_; }
  const ChartScene& scene() const { return *scene_; }
  const CodeHistory& history() const { return history_; }
  const std::string& portfolio_file() const { return portfolio_file_; }

  // How links and the maker's page are opened: (browser program or empty, address). The
  // default asks the desktop; tests replace it.
  using UrlOpener = std::function<void(const QString& program, const QString& url)>;
  void set_url_opener(UrlOpener opener) { open_url_ = std::move(opener); }

  // Mouse over pane `pane` at device x in a pane `width` wide: fills the read-out grid.
  void mouse_over_pane(int pane, double x, double width);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void build_controls();
  void start_up();
  void apply_prefs(const ChartPrefs& prefs);
  ChartOptions read_options() const;
  void lay_out_panes(const PaneLayout& layout);
  void fill_grids();
  void clear_grid_rows();
  void set_row(QTableWidget* grid, const std::vector<GridCell>& cells);
  void copy_selection(QTableWidget* grid);
  void reset_reference();
  void request_redraw();
  void on_code_changed();
  void on_period_changed();
  void on_step(StepDirection direction);
  void on_back();
  void on_forward();
  void on_link(int index);
  void on_search();
  void on_alg2();
  void update_history_buttons();
  void set_code_color(int palette);
  // 「決算」: the stock's results summaries known on the chart's day, newest first.
  void show_disclosures();

  AppFolders folders_;
  std::string portfolio_file_;
  bool disp_ready_ = false;
  bool started_ = false;
  std::unique_ptr<ChartScene> scene_;
  CodeHistory history_;
  UrlOpener open_url_;

  QLineEdit* code_txt_ = nullptr;
  QLineEdit* name_txt_ = nullptr;
  QPushButton* search_cmd_ = nullptr;
  QComboBox* kikan_cmb_ = nullptr;
  QComboBox* ashi_cmb_ = nullptr;
  QCheckBox* rousoku_chk_ = nullptr;
  QCheckBox* dekidaka_chk_ = nullptr;
  QCheckBox* hiritu_chk_ = nullptr;
  QCheckBox* ma_chk_ = nullptr;
  QComboBox* ma_cmb_[2] = {nullptr, nullptr};
  QCheckBox* rsi_chk_ = nullptr;
  QComboBox* rsi_cmb_ = nullptr;
  QCheckBox* bol_chk_ = nullptr;
  QComboBox* bol_cmb_ = nullptr;
  QCheckBox* ma_dif_chk_ = nullptr;
  QCheckBox* alg2_chk_ = nullptr;
  QCheckBox* refer_chk_ = nullptr;
  QLineEdit* refer_txt_ = nullptr;
  QCheckBox* wopen_chk_ = nullptr;
  QComboBox* link_cmb_ = nullptr;
  QPushButton* step_cmd_[4] = {nullptr, nullptr, nullptr, nullptr};  // DW, UP, FW, BK
  QTableWidget* grid1_ = nullptr;
  QTableWidget* grid2_ = nullptr;
  ChartPane* panes_[kPaneCount] = {};
  QLabel* msg_lb_ = nullptr;
  QLabel* busy_lb_ = nullptr;
  QLabel* end_date_lb_ = nullptr;
  QLabel* graph_mode_lb_ = nullptr;
  QLabel* graph_modecnt_lb_ = nullptr;
  QLabel* image1_ = nullptr;
  QListWidget* data_m_file_ = nullptr;
  QPushButton* kessan_cmd_ = nullptr;
  QLabel* kessan_lb_ = nullptr;  // 予想PER / PBR / 利回り of the stock on its newest day
  int shown_date_ = 0;           // the newest day drawn (yyyymmdd)
};

}  // namespace lp::chart
