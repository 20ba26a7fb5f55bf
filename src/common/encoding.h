// CP932 (Windows Shift_JIS) <-> UTF-8 and code-point helpers.
#pragma once

#include <string>
#include <string_view>

namespace lp {

// Undecodable bytes become U+FFFD; decoding never stops early and never hangs.
// Pure ASCII input is returned as is without calling iconv.
std::string cp932_to_utf8(std::string_view bytes);
// Characters CP932 cannot hold become "?".
std::string utf8_to_cp932(std::string_view utf8);

// Reads a whole CP932 text file as UTF-8. False when it cannot be read.
bool read_cp932_file(const std::string& path, std::string& utf8_out);

// Code points of UTF-8 text (invalid bytes count as one each).
std::u32string to_u32(std::string_view utf8);
std::string to_utf8(std::u32string_view text);
std::string to_utf8(char32_t c);
std::size_t cp_count(std::string_view utf8);
// The first n code points.
std::string cp_left(std::string_view utf8, std::size_t n);
// From code point `start` (0-based), at most n code points (npos: to the end).
std::string cp_mid(std::string_view utf8, std::size_t start, std::size_t n = std::string::npos);
// The last n code points.
std::string cp_right(std::string_view utf8, std::size_t n);

// Removes the company marker "(株)": at the very start the first three characters are
// dropped; found anywhere later the last three characters are dropped (the marker is taken to
// end the name); not found, the name is unchanged.
std::string clean_company_marker(std::string_view name);

// Text from outside (a server's message, a name from a file, a line of an imported file) made
// safe to print on a terminal or show in a window: control characters (C0 but tab and, with
// `keep_line_breaks`, LF; DEL; C1, whose U+009B starts a terminal sequence) and the bidi
// overrides that reorder what follows are dropped; invalid UTF-8 bytes become U+FFFD.
std::string printable_text(std::string_view utf8, bool keep_line_breaks = false);

// `s` without the blanks, tabs and line ends around it (fields, typed values, header lines).
inline std::string_view trim_view(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}
inline std::string trim_blanks(std::string_view s) {
  return std::string(trim_view(s));
}

}  // namespace lp
