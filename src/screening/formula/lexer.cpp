#include "screening/formula/lexer.h"

#include <charconv>
#include <cmath>

#include "common/encoding.h"

namespace lp::formula {

namespace {

bool is_digit(char32_t c) {
  return c >= '0' && c <= '9';
}
bool is_letter(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool is_blank(char32_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

char32_t half_width(char32_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFEE0;  // full-width ASCII block
  switch (c) {
    case 0x3000:  // ideographic space
      return ' ';
    case 0x2212:  // minus sign
    case 0x2015:  // horizontal bar, what some IMEs give for "-"
      return '-';
    case 0x00D7:
      return '*';
    case 0x00F7:
      return '/';
    default:
      return c;
  }
}

bool tokenize(std::string_view utf8, std::vector<Token>& out, FormulaError& error) {
  out.clear();
  const std::u32string typed = to_u32(utf8);
  const int n = static_cast<int>(typed.size());
  if (n > kMaxLength) {
    error = {kMaxLength + 1, "式が長すぎます（" + std::to_string(kMaxLength) + "文字まで）"};
    return false;
  }
  std::u32string s(typed);
  for (char32_t& c : s) c = half_width(c);

  auto peek = [&](int i) -> char32_t { return i < n ? s[static_cast<std::size_t>(i)] : 0; };
  int i = 0;
  while (i < n) {
    const char32_t c = peek(i);
    if (is_blank(c)) {
      ++i;
      continue;
    }
    Token t;
    t.pos = i + 1;
    if (is_digit(c) || (c == '.' && is_digit(peek(i + 1)))) {
      std::string digits;
      bool point = false;
      while (i < n && (is_digit(peek(i)) || (peek(i) == '.' && !point))) {
        if (peek(i) == '.') point = true;
        digits += static_cast<char>(peek(i));
        ++i;
      }
      if (peek(i) == '.') {
        error = {i + 1, "数値に小数点が2つあります"};
        return false;
      }
      if (is_letter(peek(i))) {
        error = {i + 1, "数値の後に '" + to_utf8(typed[static_cast<std::size_t>(i)]) +
                            "' は続けられません"};
        return false;
      }
      double v = 0;
      const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (r.ec != std::errc() || !std::isfinite(v)) {
        error = {t.pos, "数値が大きすぎます"};
        return false;
      }
      t.kind = Tok::number;
      t.text = digits;
      t.value = v;
      out.push_back(std::move(t));
      continue;
    }
    if (is_letter(c)) {
      std::string name;
      while (i < n && (is_letter(peek(i)) || is_digit(peek(i)))) {
        char32_t l = peek(i);
        if (l >= 'a' && l <= 'z') l = l - 'a' + 'A';
        name += static_cast<char>(l);
        ++i;
      }
      t.text = name;
      if (name == "AND") {
        t.kind = Tok::and_;
      } else if (name == "OR") {
        t.kind = Tok::or_;
      } else if (name == "NOT") {
        t.kind = Tok::not_;
      } else {
        t.kind = Tok::name;
      }
      out.push_back(std::move(t));
      continue;
    }
    auto one = [&](Tok k, int len) {
      t.kind = k;
      for (int j = 0; j < len; ++j) t.text += static_cast<char>(peek(i + j));
      i += len;
      out.push_back(t);
    };
    const char32_t d = peek(i + 1);
    switch (c) {
      case '(':
        one(Tok::lparen, 1);
        continue;
      case ')':
        one(Tok::rparen, 1);
        continue;
      case '[':
        one(Tok::lbracket, 1);
        continue;
      case ']':
        one(Tok::rbracket, 1);
        continue;
      case ',':
        one(Tok::comma, 1);
        continue;
      case '+':
        one(Tok::plus, 1);
        continue;
      case '-':
        one(Tok::minus, 1);
        continue;
      case '*':
        one(Tok::star, 1);
        continue;
      case '/':
        one(Tok::slash, 1);
        continue;
      case '=':
        one(Tok::eq, 1);
        continue;
      case '<':
        if (d == '=') {
          one(Tok::le, 2);
        } else if (d == '>') {
          one(Tok::ne, 2);
        } else {
          one(Tok::lt, 1);
        }
        continue;
      case '>':
        if (d == '=') {
          one(Tok::ge, 2);
        } else {
          one(Tok::gt, 1);
        }
        continue;
      case '!':
        one(Tok::not_, 1);
        continue;
      case '&':
        if (d == '&') {
          one(Tok::and_, 2);
          continue;
        }
        error = {t.pos, "'&' は '&&' と書きます"};
        return false;
      case '|':
        if (d == '|') {
          one(Tok::or_, 2);
          continue;
        }
        error = {t.pos, "'|' は '||' と書きます"};
        return false;
      default:
        break;
    }
    const char32_t shown = typed[static_cast<std::size_t>(i)];
    if (shown < 0x20 || shown == 0x7F || (shown >= 0x80 && shown < 0xA0)) {
      error = {t.pos, "制御文字は使えません"};
    } else {
      error = {t.pos, "'" + to_utf8(shown) + "' は使えない文字です"};
    }
    return false;
  }
  Token end;
  end.kind = Tok::end;
  end.pos = n + 1;
  out.push_back(end);
  return true;
}

}  // namespace lp::formula
