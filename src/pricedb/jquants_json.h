// Reading the J-Quants API V2 answers: one page of {"data":[...], "pagination_key":"..."}.
// Nothing from the server is trusted: a page that is not that shape, a field of the wrong type
// or a date other than the one asked for fails the whole page with a message saying what was
// wrong, so the caller commits nothing from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace simdjson::dom {
class parser;
class array;
}  // namespace simdjson::dom

namespace lp::jquants {

// Pulls out the "data" array and the pagination key of one answer: the shape every endpoint
// shares. False with `error` when the answer is not of that shape.
bool open_page(simdjson::dom::parser& parser, std::string_view json, simdjson::dom::array& data,
               std::string& next_key, std::string& error);

// One issue's daily bar. Prices and volumes are null for a listed issue that did not trade.
struct Bar {
  std::string code;  // as sent: five characters, "72030", "130A0"
  bool traded = false;
  double open = 0, high = 0, low = 0, close = 0, volume = 0;
  double adj_factor = 1;
  double adj_close = 0;  // 0 when null
};

struct Issue {
  std::string code;     // five characters
  std::string name;     // CoName, UTF-8
  std::string segment;  // MktNm, UTF-8
  // The 17- and 33-industry classes (S17, S17Nm, S33, S33Nm): codes as sent ("9", "3650").
  std::string s17, s17_name, s33, s33_name;
};

struct CalendarDay {
  std::string date;     // yyyymmdd
  std::string hol_div;  // "1" trading day, "2" half-day session, "0"/"3" closed
};

// One day of an index (TOPIX).
struct IndexDay {
  std::string date;  // yyyymmdd
  double open = 0, high = 0, low = 0, close = 0;
};

// The AdjFactor range a bar may carry (a 1000-for-1 split to a 1-for-1000 consolidation).
inline constexpr double kMinAdjFactor = 1.0 / 1000;
inline constexpr double kMaxAdjFactor = 1000;

// True for the HolDiv values on which the exchange trades.
bool is_trading_hol_div(std::string_view hol_div);

// "2025-06-13" or "20250613" -> "20250613"; empty when it is not a valid calendar date.
std::string normalize_date(std::string_view text);

// Each parser appends the page's records to `out` and sets `next_key` (empty when the page is
// the last). False with `error` set when the page cannot be trusted; `out` is then unchanged.
bool parse_bars_page(std::string_view json, std::string_view expect_date, std::vector<Bar>& out,
                     std::string& next_key, std::string& error);
bool parse_master_page(std::string_view json, std::vector<Issue>& out, std::string& next_key,
                       std::string& error);
bool parse_index_page(std::string_view json, std::vector<IndexDay>& out, std::string& next_key,
                      std::string& error);
bool parse_calendar_page(std::string_view json, std::vector<CalendarDay>& out,
                         std::string& next_key, std::string& error);

// The "message" of an error answer, cut to a printable line (empty when there is none).
std::string error_message_of(std::string_view body);
// The dates a plan serves, as a 400 answer names them ("... covers the following dates:
// 2023-09-14 ~ 2025-09-11 ..."): false when the message names no such pair.
bool plan_window_of(std::string_view message, std::string& from, std::string& to);

}  // namespace lp::jquants
