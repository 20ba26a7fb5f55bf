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
class QKeyEvent;
class QWheelEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace lp::chart {

class ChartWindow;

// One drawing pane Picture1(i): paints its part of the scene and the crosshair, and hands
// the mouse and the keys to the window: the wheel zooms, a drag pans, a double click returns
// to the period's span.
class ChartPane : public QWidget {
 public:
  ChartPane(ChartWindow* owner, int index);
  // The pane's share of the window as laid out originally (its height in twips / 10).
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  ChartWindow* owner_;
  int index_;
  bool dragging_ = false;
  bool drawing_ = false;  // Shift held when the button went down: a trend line
  double drag_x_ = 0;
  int drag_first_ = 1;
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

  // Mouse over pane `pane` at device (x, y) in a pane `width` x `height`: fills the read-out
  // grid and moves the crosshair.
  void mouse_over_pane(int pane, double x, double width);
  void crosshair_at(int pane, double x, double y, double width, double height);
  void hide_crosshair();

  // The view: zoom by `factor` (below 1 zooms in) around the bar at device x of a pane; pan
  // by bars (positive: towards older bars); back to the period's span; keys as on the panes
  // (← → pan, Home / End to the oldest / newest, + - zoom). True when the key was one of them.
  void zoom_at(int pane, double x, double width, double factor);
  void pan_bars(int bars);
  void show_first(int first);
  void reset_view();
  bool view_key(int key);

  // The crosshair: the bar under it (0 without one), its pane and the value at its height;
  // the read-out line a pane shows at its top.
  int crosshair_bar() const { return cross_bar_; }
  int crosshair_pane() const { return cross_pane_; }
  double crosshair_value() const { return cross_value_; }
  QString crosshair_text(int pane) const;
  // The text of the event mark under device (x, y) of pane `pane` ("" when none): what the
  // hover shows.
  QString event_text_at(int pane, double x, double y, double width, double height) const;
  // Trend lines: Shift and a drag on the price pane draws one from where the button went down
  // to where it comes up (kept in the user folder at once); a right click next to one deletes
  // it. Device coordinates of the price pane.
  void start_trend_line(double x, double y, double width, double height);
  void end_trend_line(double x, double y, double width, double height);
  bool delete_trend_line_at(double x, double y, double width, double height);
  const std::vector<TrendLine>& trend_lines() const { return trend_lines_; }
  // The window reloads the whole history held when a zoom reaches past the loaded days.
  bool whole_history() const { return whole_history_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

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
  void load_days(int day_count);
  void rebuild_scene();
  void update_panes();
  void update_history_buttons();
  void set_code_color(int palette);
  // 「決算」: the stock's results summaries known on the chart's day, newest first.
  void show_disclosures();

  AppFolders folders_;
  std::string portfolio_file_;
  bool disp_ready_ = false;
  bool started_ = false;
  std::unique_ptr<ChartScene> scene_;
  Bars days_;        // the loaded days, split-adjusted; the scene's bars are built from them
  Bars index_days_;  // the reference index's days over the same span (TOPIX)
  std::vector<ChartEvent> events_;  // the stock's 決算 and corrections
  std::vector<TrendLine> trend_lines_;
  bool drawing_line_ = false;
  TrendLine pending_line_;
  std::string loaded_code_, loaded_end_;
  bool whole_history_ = false;
  int cross_bar_ = 0, cross_pane_ = -1;
  double cross_value_ = 0;
  bool placed_ = false;  // sized to its screen once, when first shown
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
  // The added indicators: MACD, stochastics, RCI, 一目均衡表, Bollinger, volume average, TOPIX.
  QCheckBox* macd_chk_ = nullptr;
  QCheckBox* stoch_chk_ = nullptr;
  QCheckBox* rci_chk_ = nullptr;
  QCheckBox* ichimoku_chk_ = nullptr;
  QCheckBox* bb_chk_ = nullptr;
  QCheckBox* vma_chk_ = nullptr;
  QCheckBox* topix_chk_ = nullptr;
  IndicatorParams params_;
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
