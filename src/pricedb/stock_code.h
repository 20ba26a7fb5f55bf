// What counts as a stock code: four characters, digits and upper-case letters, the first a
// digit 1-9 ("7203", "130A", "285A"). Codes are ordered as text, so "1301" < "130A" < "1311";
// for four-digit codes that is the numeric order.
#pragma once

#include <string_view>

namespace lp {

constexpr bool is_stock_code(std::string_view code) {
  if (code.size() != 4 || code[0] < '1' || code[0] > '9') return false;
  for (char c : code) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) return false;
  }
  return true;
}

// A code holding a letter (listed since 2024): numeric rules such as "code > 1003" treat it
// as an ordinary stock.
constexpr bool is_alphanumeric_stock_code(std::string_view code) {
  if (!is_stock_code(code)) return false;
  for (char c : code) {
    if (c >= 'A' && c <= 'Z') return true;
  }
  return false;
}

}  // namespace lp
