#include "common/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace lp {

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the longest numeric prefix of s (sign, digits, point, exponent), 0 if none.
std::size_t numeric_prefix(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && is_digit(s[i])) ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && is_digit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < n && is_digit(s[j])) {
      while (j < n && is_digit(s[j])) ++j;
      i = j;
    }
  }
  return i;
}

}  // namespace

double parse_number(std::string_view text) {
  std::size_t b = 0;
  while (b < text.size() && (text[b] == ' ' || text[b] == '\t')) ++b;
  text.remove_prefix(b);
  // Plain non-negative integers are by far the most common case: no conversion call.
  if (!text.empty() && is_digit(text[0])) {
    std::size_t i = 0;
    std::uint64_t v = 0;
    while (i < text.size() && i < 18 && is_digit(text[i])) v = v * 10 + (text[i++] - '0');
    if (i == text.size() || (text[i] != '.' && text[i] != 'e' && text[i] != 'E' &&
                             !is_digit(text[i]))) {
      return static_cast<double>(v);
    }
  }
  std::size_t len = numeric_prefix(text);
  if (len == 0) return 0.0;
  std::string_view num = text.substr(0, len);
  bool neg = false;
  if (num[0] == '+' || num[0] == '-') {
    neg = num[0] == '-';
    num.remove_prefix(1);
  }
  double v = 0.0;
  auto res = std::from_chars(num.data(), num.data() + num.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    v = std::strtod(std::string(num).c_str(), nullptr);
  } else if (res.ec != std::errc()) {
    return 0.0;
  }
  return neg ? -v : v;
}

std::int64_t parse_integer(std::string_view text) { return round_half_even(parse_number(text)); }

std::int64_t round_half_even(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exactly representable; anything at or beyond it saturates.
  constexpr double kLimit = 9223372036854775808.0;
  if (value >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (value < -kLimit) return std::numeric_limits<std::int64_t>::min();
  double r = std::nearbyint(value);  // the default rounding mode rounds halves to even
  if (r >= kLimit) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(r);
}

std::int32_t round_half_even_i32(double value) {
  std::int64_t v = round_half_even(value);
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

std::int16_t round_half_even_i16(double value) {
  std::int64_t v = round_half_even(value);
  if (v > std::numeric_limits<std::int16_t>::max()) return std::numeric_limits<std::int16_t>::max();
  if (v < std::numeric_limits<std::int16_t>::min()) return std::numeric_limits<std::int16_t>::min();
  return static_cast<std::int16_t>(v);
}

std::string format_decimal(double value) {
  if (std::isnan(value)) return "0";
  if (std::isinf(value)) return value > 0 ? "1E+308" : "-1E+308";
  if (value == 0.0) return "0";
  // Integers that fit exactly need no formatting work.
  if (std::fabs(value) < 1e15 && value == std::floor(value)) {
    return std::to_string(static_cast<long long>(value));
  }
  // d.dddddddddddddde±XX: 15 significant digits, rounded as printf's "%.14e" rounds them
  // (to_chars with a precision is defined as that printf), without printf's cost.
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  std::string_view s(buf, static_cast<std::size_t>(end.ptr - buf));
  bool neg = s[0] == '-';
  if (neg) s.remove_prefix(1);
  std::string digits;
  digits.push_back(s[0]);
  std::size_t epos = s.find('e');
  for (std::size_t i = 2; i < epos; ++i) digits.push_back(s[i]);
  int exp = std::atoi(std::string(s.substr(epos + 1)).c_str());
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out;
  if (neg) out.push_back('-');
  if (exp < -15 || exp >= 15) {
    // Magnitudes that prices never reach keep an exponent rather than 300 zeros.
    out.push_back(digits[0]);
    if (digits.size() > 1) {
      out.push_back('.');
      out.append(digits, 1);
    }
    char e[16];
    std::snprintf(e, sizeof e, "E%+03d", exp);
    out += e;
    return out;
  }
  if (exp < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exp - 1), '0');
    out += digits;
  } else {
    std::size_t int_len = static_cast<std::size_t>(exp) + 1;
    if (digits.size() <= int_len) {
      out += digits;
      out.append(int_len - digits.size(), '0');
    } else {
      out.append(digits, 0, int_len);
      out.push_back('.');
      out.append(digits, int_len);
    }
  }
  return out;
}

std::string format_pattern(double value, std::string_view pattern) {
  if (std::isnan(value) || std::isinf(value)) value = 0.0;
  std::size_t point = pattern.find('.');
  std::string_view int_pat = pattern.substr(0, point);
  std::string_view dec_pat =
      point == std::string_view::npos ? std::string_view() : pattern.substr(point + 1);
  bool grouping = int_pat.find(',') != std::string_view::npos;
  std::size_t min_int = 0;
  for (char c : int_pat) min_int += c == '0';
  std::string dec_places;
  for (char c : dec_pat) {
    if (c == '0' || c == '#') dec_places.push_back(c);
  }
  const int places = static_cast<int>(dec_places.size());

  // Round half away from zero at the displayed places, on the decimal text of the value.
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", places, std::fabs(value));
  double scaled = std::fabs(value) * std::pow(10.0, places);
  double frac = scaled - std::floor(scaled);
  if (std::fabs(frac - 0.5) < 1e-9 && scaled < 1e15) {
    // Exactly half on the binary value: printf would round to even; a display rounds up.
    std::snprintf(buf, sizeof buf, "%.*f", places,
                  (std::floor(scaled) + 1.0) / std::pow(10.0, places));
  }
  std::string_view text(buf);
  std::size_t dot = text.find('.');
  std::string int_digits(text.substr(0, dot));
  std::string dec_digits = dot == std::string_view::npos ? "" : std::string(text.substr(dot + 1));

  // Optional trailing decimal places ('#') drop their zeros; forced ones ('0') keep them.
  while (!dec_digits.empty() && dec_places[dec_digits.size() - 1] == '#' &&
         dec_digits.back() == '0') {
    dec_digits.pop_back();
  }
  // Integer part: leading zeros only as far as forced digits ask.
  std::size_t first = int_digits.find_first_not_of('0');
  int_digits = first == std::string::npos ? "" : int_digits.substr(first);
  if (int_digits.size() < min_int) int_digits.insert(0, min_int - int_digits.size(), '0');
  if (grouping && int_digits.size() > 3) {
    std::string grouped;
    std::size_t lead = int_digits.size() % 3;
    if (lead == 0) lead = 3;
    grouped.append(int_digits, 0, lead);
    for (std::size_t i = lead; i < int_digits.size(); i += 3) {
      grouped.push_back(',');
      grouped.append(int_digits, i, 3);
    }
    int_digits = grouped;
  }
  std::string out;
  bool all_zero = text.find_first_of("123456789") == std::string_view::npos;
  if (value < 0 && !all_zero) out.push_back('-');
  out += int_digits;
  if (point != std::string_view::npos) {
    out.push_back('.');
    out += dec_digits;
  }
  return out;
}

std::string to_text(std::int64_t value) { return std::to_string(value); }

}  // namespace lp
