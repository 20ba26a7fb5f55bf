// The chart window's state that needs no widgets: its preferences from "init.txt", the rules
// of the code and period boxes, the back/forward history of viewed codes and the stepping
// through the codes of the database year.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chart/chart_lines.h"
#include "common/platform.h"

namespace lp::chart {

// A combo box as the preferences see it: its list and its text.
struct ComboPrefs {
  std::vector<std::string> items;
  std::string text;
};

// The chart's boxes as "init.txt" leaves them. Check boxes not named in the file keep their
// value; the window starts from its own defaults (chart_defaults()).
struct ChartPrefs {
  bool candles = true, volume = true, ratio = false, alg1 = false, ma = true, rsi = false,
       bands = false;
  std::optional<std::string> code;  // "コード": the code to put in the code box
  ComboPrefs period, ma1, ma2, rsi_period, band_period, bar_unit;
  // The added indicators: which are drawn ("MACD表示,ON") and their parameters
  // ("MACD,12/26/9", "ストキャスティクス,9/3/3", "RCI,9/26", "一目均衡表,9/26/52",
  // "ボリンジャーバンド,20", "出来高MA,25").
  IndicatorSwitches indicators;
  IndicatorParams params;
};

// The parameters of one indicator as "a/b/c": false (and nothing changed) unless there are
// exactly `count` whole numbers from 1 to 5000.
bool parse_indicator_params(std::string_view text, int count, int* out);

// The lists and texts a chart shows without any preference line.
ChartPrefs chart_defaults();

// Applies one key/value pair; false when the key is not a chart key (it is then ignored).
bool apply_chart_pref(ChartPrefs& prefs, std::string_view key, std::string_view value);

// Reads the chart keys of an "init.txt" up to "EOF", yielding after each pair. False when the
// file cannot be opened (prefs unchanged).
bool read_chart_prefs(const std::string& path, ChartPrefs& prefs, const YieldFn& yield = {});

// The code box accepts four characters reading as a number above 1000 and below 10000.
bool is_valid_code_text(std::string_view text);

// The period box keeps to 1..5000: the text it must show instead, or nothing when it is fine.
std::optional<std::string> clamp_period_text(std::string_view text);
// The period a box or preference text stands for, within 1..5000 (the window and the command
// line read it the same way, so no text can overflow the day counts).
int period_days(std::string_view text);

// Back/forward history of the codes viewed, newest first, at most 100 entries each.
class CodeHistory {
 public:
  static constexpr std::size_t kLimit = 100;

  // After each successful load of `code`.
  void loaded(const std::string& code);
  // "BK": the code to show now, or nothing when there is no earlier code.
  std::optional<std::string> back();
  // "FW": the code to show now, or nothing when nothing lies ahead.
  std::optional<std::string> forward();

  bool can_back() const { return back_.size() >= 2; }
  bool can_forward() const { return !fwd_.empty(); }
  const std::deque<std::string>& back_codes() const { return back_; }
  const std::deque<std::string>& fwd_codes() const { return fwd_; }
  void clear() {
    back_.clear();
    fwd_.clear();
  }

 private:
  static void push_front(std::deque<std::string>& list, const std::string& code);
  std::deque<std::string> back_, fwd_;
};

// The year whose code files the stepping buttons walk: header field 5 of code 1301's series
// file, from the first readable of this year and the two before it. Nothing when none reads.
std::optional<int> stepping_year(const std::string& db_folder, std::string_view today);

// The codes of the year's time-series files, in file-name order (four-digit names only).
std::vector<std::string> code_files_of_year(const std::string& db_folder, int year);

enum class StepDirection { kDown, kUp };
// The next lower ("DW") or higher ("UP") code among `codes` (ascending), wrapping at either
// end. Empty when there are no codes.
std::string step_code(const std::vector<std::string>& codes, std::string_view current,
                      StepDirection direction);

}  // namespace lp::chart
