// Formula rows 41-45 of the screening window as steps of the run's AND-chain: each ticked row
// keeps the candidates whose formula holds, with its own count label, intermediate file and
// "▽" button, exactly as a criterion does.
#pragma once

#include <string>

#include "screening/controls.h"
#include "screening/criteria/criterion.h"
#include "screening/formula/formula.h"

namespace lp::screening {

inline constexpr int kFirstFormulaRow = 41;
inline constexpr int kLastFormulaRow = 45;

inline bool is_formula_row(int n) {
  return n >= kFirstFormulaRow && n <= kLastFormulaRow;
}

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

// Judges one stock's loaded series: true when the formula holds; `value` becomes the
// 「表示」 formula's value ("-" without one or when it cannot be computed).
bool judge_traded_days(const CompiledRow& row, const lp::formula::TradedDays& days,
                       std::string& value);
bool judge_formula_row(const CompiledRow& row, const Series& series,
                       lp::formula::TradedDays& scratch, std::string& value);

// The routine of rows 41-45 in the run table.
void f_shikisel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);

}  // namespace lp::screening
