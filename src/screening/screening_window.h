// The screening window "meigarasel2": criteria, parameters, market boxes and the run. The run
// itself lives in ScreeningSession; this window only mirrors its controls and shows progress.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "screening/screening_session.h"

class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QCheckBox;
class QRadioButton;
class QPushButton;
class QGroupBox;

namespace lp::screening {
class RankingPicker;
}

namespace lp::gui {

class ScreeningWindow : public QWidget, public lp::screening::ScreeningUi {
  Q_OBJECT
 public:
  explicit ScreeningWindow(QWidget* parent = nullptr);
  ~ScreeningWindow() override;

  lp::screening::ScreeningSession& session() { return *session_; }

  // Widgets -> control set, and back.
  void pull_controls();
  void push_controls();
  void set_controls_state(const QString& state);

  // The description text of criterion number i + 1 (num1_lb(i)); empty when there is none.
  static QString description(int i);

  // ScreeningUi
  void message(const std::string& text, lp::screening::TextColor color) override;
  void date_label(const std::string& text) override;
  void result_label(int n, const std::string& text) override;
  void clear_result_labels() override;
  void set_option_visible(int n, bool visible) override;
  void select_option(int n) override;
  void controls_changed() override;
  void set_controls_enabled(bool enabled) override;
  void show_results() override;
  void close_window() override;
  void yield() override;
  std::string selected_ranking() const override;
  void busy(bool on) override;

  // The question asked before a saved screen is deleted (a yes/no box; tests answer it).
  void set_confirm(std::function<bool(const QString&)> confirm) { confirm_ = std::move(confirm); }
  // The saved screen chosen or typed in 「保存条件」.
  QString screen_name() const;

 public slots:
  void start_run();
  // 「検証」: the backtest dialog for the current settings.
  void start_backtest();
  void preset_ma_gap_run();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void build();
  QWidget* build_page(int page);
  QWidget* build_row(int n);
  // The parts every row shares: tick box and number first, count label and 「▽」 last.
  QLabel* begin_row(QWidget* row, QHBoxLayout* h, int n);
  QRadioButton* end_row(QWidget* row, QHBoxLayout* h, int n);
  void show_page(int i);
  void market_clicked(int i);
  void show_description(int i);
  QWidget* build_formula_row(int n);
  // The 「指標」 page (min-max boxes, the 業種 list, the formula they mean).
  void build_indicator_page(QGroupBox* box);
  void update_indicator_formula();
  void sector_list_changed();
  void sector_list_from_text();
  // Checks row n's formulas as typed; an error goes to msg1_lb in red.
  void check_formula_box(int n);
  void refresh_screens(const QString& select = {});
  void load_screen();
  void save_screen();
  void delete_screen();
  void watch_clicked();
  // The 対象 box into the session; false (message shown) when it names no usable universe.
  bool apply_universe();

  std::unique_ptr<lp::screening::ScreeningSession> session_;
  QLabel* msg_ = nullptr;
  QLabel* date_ = nullptr;
  static constexpr int kPages = 7;
  QGroupBox* pages_[kPages] = {};
  QListWidget* sectors_ = nullptr;  // gyoushu_lst
  QLabel* indicator_formula_ = nullptr;    // shihyou_shiki_lb
  QLabel* indicator_result_ = nullptr;     // result1_lb_46
  bool syncing_sectors_ = false;
  QCheckBox* markets_[7] = {};
  QRadioButton* option1_[46] = {};
  QLabel* result_[46] = {};
  QComboBox* screens_ = nullptr;
  QCheckBox* watch_box_ = nullptr;
  QLineEdit* universe_ = nullptr;
  QWidget* screen_buttons_[3] = {};
  std::function<bool(const QString&)> confirm_;
  bool formula_error_shown_ = false;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* kensho_ = nullptr;
  QWidget* description_ = nullptr;
  lp::screening::RankingPicker* ranking_ = nullptr;
  bool market_guard_ = false;
  bool syncing_ = false;
};

}  // namespace lp::gui
