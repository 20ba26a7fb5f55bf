// Tokens of the formula language. Text typed by a Japanese IME (full-width letters, digits,
// symbols and blanks) reads as its half-width form; positions stay those of the typed text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "screening/formula/formula.h"

namespace lp::formula {

enum class Tok {
  number,
  name,
  lparen,
  rparen,
  lbracket,
  rbracket,
  comma,
  plus,
  minus,
  star,
  slash,
  lt,
  le,
  gt,
  ge,
  eq,
  ne,
  and_,
  or_,
  not_,
  end,
};

struct Token {
  Tok kind = Tok::end;
  int pos = 0;       // 1-based character position in the typed text
  std::string text;  // as typed (half-width), names in upper case
  double value = 0;  // of a number
};

// False and `error` set on a character that belongs to no token or a text beyond the length
// limit. The last token is always Tok::end, positioned one past the text.
bool tokenize(std::string_view utf8, std::vector<Token>& out, FormulaError& error);

// The half-width form of one typed character (itself when it has none).
char32_t half_width(char32_t c);

}  // namespace lp::formula
