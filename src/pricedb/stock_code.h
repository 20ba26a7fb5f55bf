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

// A number that orders stock codes as their text does, for sorts that work on numeric keys.
// A four-digit code keeps its numeric value; a code with a letter gets a value between its
// all-digit neighbours in text order ("130A" lies between 1309 and 1310, "13A0" between 1399
// and 1400). -1 for text that is not a stock code.
constexpr double code_order_key(std::string_view code) {
  if (!is_stock_code(code)) return -1;
  std::size_t letter = 4;
  for (std::size_t i = 0; i < 4; ++i) {
    if (code[i] >= 'A' && letter == 4) letter = i;
  }
  double low = 0;  // the digits before the first letter, then nines
  for (std::size_t i = 0; i < 4; ++i) low = low * 10 + (i < letter ? code[i] - '0' : 9);
  if (letter == 4) return low;
  double rest = 0, span = 1;  // the characters from the letter on, read in base 36
  for (std::size_t i = letter; i < 4; ++i) {
    rest = rest * 36 + (code[i] <= '9' ? code[i] - '0' : code[i] - 'A' + 10);
    span *= 36;
  }
  return low + (rest + 1) / (span + 1);
}

}  // namespace lp
