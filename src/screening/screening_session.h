// The screening window's state and its run, free of widgets: the window and the command line
// drive the same session, so both produce the same files.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/settings.h"
#include "screening/controls.h"
#include "screening/criteria/criterion.h"

namespace lp::screening {

// What the session shows. The window implements every member; the command line few.
class ScreeningUi {
 public:
  virtual ~ScreeningUi() = default;
  virtual void message(const std::string& text, TextColor color) {}
  virtual void date_label(const std::string& text) {}  // hiduke1_lb
  virtual void result_label(int n, const std::string& text) {}
  // result1_lb(1..11), sakata1_lb(0) and gc1_lb(0) emptied.
  virtual void clear_result_labels() {}
  virtual void set_option_visible(int n, bool visible) {}
  // Option1(n) selected, every other unselected; -1 unselects all.
  virtual void select_option(int n) {}
  virtual void controls_changed() {}
  virtual void set_controls_enabled(bool enabled) {}
  // Open the results window and signal it to load "sel0_out.csv".
  virtual void show_results() {}
  virtual void close_window() {}
  virtual void yield() {}
  // The ranking chosen beside the ranking button Option1(21); empty means the button's own,
  // "前日比上率ﾄｯﾌﾟ25".
  virtual std::string selected_ranking() const { return {}; }
  // The busy marker, shown while the rankings' summary file is rebuilt.
  virtual void busy(bool on) {}
};

class ScreeningSession {
 public:
  ScreeningSession(Platform platform, ScreeningUi* ui);

  // Window load: settings, user folder, latest date, calendar, "init.txt", names. Sets the
  // ready flag. `apply_init` false keeps the built-in control values.
  void load(bool apply_init = true);

  // The run of "開始". False when it did not run (not ready) or ended early (no price data).
  bool run();
  // Option1(i) clicked. Option1(21) is the ranking button: it shows the ranking chosen in the
  // window (see show_ranking).
  void option_click(int i);
  // Ranks the market by `name` ("" = "前日比上率ﾄｯﾌﾟ25"), writes the ranking as the result
  // files and signals the results window. The ranking then counts as the shown result
  // (current criterion 21), so Option1 of the last criterion shows that criterion again.
  // False when the window is busy or nothing could be ranked (no price data).
  bool show_ranking(const std::string& name);
  // Makes the results of the current criterion the result files and signals the results
  // window; nothing when no criterion ran. False (with the red error, the results window left
  // alone) when a result file could not be written.
  bool write_result_files();

  // Runs as if the database ended at the close of `as_of` (yyyymmdd; empty: no limit), with
  // the loads answered from `store` when one is given. The screen, the rankings and the
  // backtest all go through this one source.
  void use_market(std::shared_ptr<const MarketStore> store, std::string as_of);
  const std::string& as_of() const { return as_of_; }
  // False: a run writes no intermediate or result files and opens no results window (the
  // backtest runs hundreds of screens and must not overwrite the user's last result).
  void set_write_files(bool on) { write_files_ = on; }
  // Limits the candidates to these stock codes, after the market boxes; nullopt: no limit.
  void set_universe(std::optional<std::vector<std::string>> codes) { universe_ = std::move(codes); }
  // The stocks that passed every criterion of the last run (the universe when none ran).
  const CandidateList& kept() const { return candidates_; }
  // Where the run's loads come from: folders, store and as-of day.
  SeriesSource source() const;

  // Close request: honoured at the end of the universe step and of a run.
  void request_close() { close_request_ = true; }
  bool close_requested() const { return close_request_; }
  bool running() const { return running_; }
  bool ready() const { return ready_; }

  ControlSet& controls() { return controls_; }
  const DayTable& day_table() const { return day_table_; }
  const CandidateList& candidates() const { return candidates_; }
  const AppFolders& folders() const { return folders_; }
  int current_criterion() const { return current_; }
  const std::string& latest_date() const { return latest_date_; }
  int trading_day_count() const { return trading_days_; }
  // How many times the day table was (re)built: a run on the same date reuses it.
  int day_table_builds() const { return table_builds_; }
  // Criteria that ran on the current day table: their 「▽」 may show their lists.
  const std::vector<int>& shown_options() const { return shown_; }
  // Criteria of the last run that ran: (n, "kept/before").
  const std::vector<std::pair<int, std::string>>& last_counts() const { return counts_; }
  const std::vector<std::string>& criterion_names() const { return names_; }

  std::string file_in_user_folder(const std::string& name) const;

 private:
  bool make_candidate_list();
  RunContext make_context();
  void say(const std::string& text, TextColor color);

  Platform platform_;
  ScreeningUi* ui_;
  ScreeningUi null_ui_;
  AppFolders folders_;
  ControlSet controls_;
  bool ready_ = false;
  bool close_request_ = false;
  bool running_ = false;
  int current_ = -1;
  std::string latest_date_;
  int trading_days_ = 0;
  DayTable day_table_;
  CandidateList candidates_;
  CandidateList output_;
  std::vector<std::string> names_;
  TradingCalendar calendar_;
  Series series_;
  int table_builds_ = 0;
  std::shared_ptr<const MarketStore> store_;
  std::string as_of_;
  bool write_files_ = true;
  std::optional<std::vector<std::string>> universe_;
  bool table_has_previous_ = false;  // F9/F10 of the day table filled
  std::vector<std::pair<int, std::string>> counts_;
  std::vector<int> shown_;
};

inline constexpr const char* kMsgResultWriteFailed = "エラー：結果ファイルを書き込めません。";
// Option1 buttons there are to hide when the day table is rebuilt: every criterion row.
inline constexpr int kLastOption = 50;

// The criterion-name list (indices 0..50).
std::vector<std::string> criterion_name_list();

}  // namespace lp::screening
