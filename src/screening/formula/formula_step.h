// Formula rows 41-45 of the screening window as steps of the run's AND-chain: each ticked row
// keeps the candidates whose formula holds, with its own count label, intermediate file and
// "▽" button, exactly as a criterion does.
#pragma once

#include <array>
#include <string>

#include "screening/controls.h"
#include "screening/criteria/criterion.h"
#include "screening/formula/formula.h"

namespace lp::screening {

inline constexpr int kFirstFormulaRow = 41;
inline constexpr int kLastFormulaRow = 45;

// The 「指標」 page. Its filled min-max fields are one more formula step, row 46
// after the formula rows, run on the formula they mean (「PER >= 5 AND PER <= 15」), named 指標.
inline constexpr int kIndicatorRow = 46;

inline bool is_formula_row(int n) {
  return (n >= kFirstFormulaRow && n <= kLastFormulaRow) || n == kIndicatorRow;
}

struct IndicatorField {
  const char* caption;  // 「予想PER」
  const char* name;     // the formula name, "PER"
};
inline constexpr int kIndicatorFields = 9;
// 予想PER, 実績PER, PBR, 配当利回り, 時価総額(億円), ROE, 自己資本比率, 営業利益率, 最低購入金額.
const std::array<IndicatorField, kIndicatorFields>& indicator_fields();
// The page's boxes of field i (1-based): "shihyou_min_txt(i)", "shihyou_max_txt(i)"; and the
// 業種 choice, the 33-industry codes comma-separated: "gyoushu_txt".
std::string indicator_min_control(int i);
std::string indicator_max_control(int i);
inline constexpr const char* kSectorControl = "gyoushu_txt";
// The formula the filled fields mean, "" when none is filled; false with `error` for a field
// that is not a number.
bool indicator_formula(const ControlSet& controls, std::string& formula, std::string& error);
// Ticks row 46 when the page has a filled field, unticks it otherwise (what the run reads).
void sync_indicator_row(ControlSet& controls);

// Control names of row n: the name box, the formula box and the 「表示」 formula box.
std::string formula_name_control(int n);
std::string formula_text_control(int n);
std::string formula_show_control(int n);

// Title of the row's value column and progress text: its name, or "式n" without one.
std::string formula_row_title(const ControlSet& controls, int n);

// The row's formula and 「表示」 formula compiled; on an error, the message the window shows
// ("式41の12文字目: ')' がありません") and false. An empty formula of a ticked row is an error.
struct CompiledRow {
  lp::formula::Formula formula;
  lp::formula::Formula show;  // empty when the row has none
};
bool compile_formula_row(const ControlSet& controls, int n, CompiledRow& out, std::string& error);

// Checks every ticked formula row; the first error's message, or "" when all compile.
std::string check_formula_rows(const ControlSet& controls);

// What a run that reads company results says when the database holds none (a price-server or
// CSV user, or jquants-sync --no-fins): the CLI exits 2 on it.
inline constexpr const char* kNoFinsMessage =
    "決算データがありません: jquants-sync で取得してください";
// True when a ticked formula row (its formula or 「表示」 formula) reads company results.
bool rows_use_fins(const ControlSet& controls);
// kNoFinsMessage when a ticked row reads company results and the source's database holds no
// results summary at all; "" otherwise.
std::string check_fins_available(const ControlSet& controls, const SeriesSource& source);

// Judges one stock's loaded series: true when the formula holds; `value` becomes the
// 「表示」 formula's value ("-" without one or when it cannot be computed).
bool judge_traded_days(const CompiledRow& row, const lp::formula::TradedDays& days,
                       std::string& value);
bool judge_formula_row(const CompiledRow& row, const Series& series,
                       lp::formula::TradedDays& scratch, std::string& value);

// The routine of rows 41-45 in the run table.
void f_shikisel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);

}  // namespace lp::screening
