// The one lenient number reader, rounding and decimal text of the system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lp {

// Leading blanks skipped, the longest numeric prefix taken (sign, digits, point, exponent),
// empty or non-numeric text reads as 0.
double parse_number(std::string_view text);
// parse_number rounded half to even and saturated to the int64 range.
std::int64_t parse_integer(std::string_view text);

// Round half to even (24.5 -> 24, 25.5 -> 26, -2.5 -> -2), saturated to the int64 range;
// NaN gives 0.
std::int64_t round_half_even(double value);
// The same into 32 and 16 bits, saturated.
std::int32_t round_half_even_i32(double value);
std::int16_t round_half_even_i16(double value);

// Shortest decimal text with at most 15 significant digits, a point as decimal mark, no
// exponent for ordinary magnitudes, no trailing zeros: 33.3333333333333, -1.4142135623731, 123.
std::string format_decimal(double value);

// Display patterns of the grids: "#,##0", "#,###,###,##0.##", "#,###,###,##0.#0", "#######0",
// "0.00" and the like. '0' is a forced digit, '#' an optional one, ',' asks for thousands
// grouping; the number of digit places after the point sets the rounding (half away from
// zero, as a display does).
std::string format_pattern(double value, std::string_view pattern);

// Integer as decimal text.
std::string to_text(std::int64_t value);

}  // namespace lp
