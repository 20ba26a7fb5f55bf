#include "pricedb/jquants_json.h"

#include <simdjson.h>

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace lp::jquants {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

bool leap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// A number, a numeric text or null (0 with `present` false). False for anything else.
bool number_field(const object& rec, std::string_view name, double& value, bool& present) {
  element v;
  value = 0;
  present = false;
  if (rec[name].get(v) || v.is_null()) return true;
  switch (v.type()) {
    case element_type::INT64:
      value = static_cast<double>(v.get_int64().value());
      break;
    case element_type::UINT64:
      value = static_cast<double>(v.get_uint64().value());
      break;
    case element_type::DOUBLE:
      value = v.get_double().value();
      break;
    case element_type::STRING: {
      const std::string text(v.get_string().value());
      if (text.empty()) return true;
      char* end = nullptr;
      value = std::strtod(text.c_str(), &end);
      if (end != text.c_str() + text.size()) return false;
      break;
    }
    default:
      return false;
  }
  if (!std::isfinite(value)) return false;
  present = true;
  return true;
}

bool text_field(const object& rec, std::string_view name, std::string& out) {
  std::string_view v;
  if (rec[name].get(v)) return false;
  out.assign(v);
  return true;
}

// Codes come from the server and become file names: only digits and upper-case letters.
bool plain_code(std::string_view code) {
  if (code.empty() || code.size() > 5) return false;
  for (char c : code) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) return false;
  }
  return true;
}

std::string record_place(std::size_t i) {
  return "record " + std::to_string(i + 1);
}

}  // namespace

bool open_page(simdjson::dom::parser& parser, std::string_view json, simdjson::dom::array& data,
               std::string& next_key, std::string& error) {
  element root;
  if (auto e = parser.parse(json.data(), json.size()).get(root)) {
    error = std::string("the answer is not valid JSON (") + simdjson::error_message(e) + ")";
    return false;
  }
  object top;
  if (root.get(top)) {
    error = "the answer is not a JSON object";
    return false;
  }
  element d;
  if (top["data"].get(d) || d.get(data)) {
    error = "the answer has no \"data\" list";
    return false;
  }
  next_key.clear();
  element key;
  if (!top["pagination_key"].get(key) && !key.is_null()) {
    std::string_view k;
    if (key.get(k) || k.size() > 4096) {
      error = "the answer's pagination_key is not a short text";
      return false;
    }
    next_key.assign(k);
  }
  return true;
}

bool is_trading_hol_div(std::string_view hol_div) {
  return hol_div == "1" || hol_div == "2";
}

std::string normalize_date(std::string_view text) {
  std::string digits;
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    digits = std::string(text.substr(0, 4)) + std::string(text.substr(5, 2)) +
             std::string(text.substr(8, 2));
  } else if (text.size() == 8) {
    digits.assign(text);
  } else {
    return {};
  }
  for (char c : digits) {
    if (c < '0' || c > '9') return {};
  }
  const int y = std::atoi(digits.substr(0, 4).c_str());
  const int m = std::atoi(digits.substr(4, 2).c_str());
  const int d = std::atoi(digits.substr(6, 2).c_str());
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1900 || m < 1 || m > 12 || d < 1) return {};
  if (d > kDays[m - 1] + (m == 2 && leap(y) ? 1 : 0)) return {};
  return digits;
}

bool parse_bars_page(std::string_view json, std::string_view expect_date, std::vector<Bar>& out,
                     std::string& next_key, std::string& error) {
  thread_local simdjson::dom::parser parser;
  simdjson::dom::array data;
  if (!open_page(parser, json, data, next_key, error)) return false;
  std::vector<Bar> page;
  page.reserve(data.size());
  std::size_t i = 0;
  for (element item : data) {
    object rec;
    if (item.get(rec)) {
      error = record_place(i) + " is not an object";
      return false;
    }
    Bar bar;
    std::string date;
    if (!text_field(rec, "Date", date) || normalize_date(date) != expect_date) {
      error = record_place(i) + " is dated " + (date.empty() ? "nothing" : date.substr(0, 12)) +
              ", not the day asked for (" + std::string(expect_date) + ")";
      return false;
    }
    if (!text_field(rec, "Code", bar.code) || !plain_code(bar.code)) {
      error = record_place(i) + " has no valid Code";
      return false;
    }
    bool has_o, has_h, has_l, has_c, has_v, has_f, has_ac;
    if (!number_field(rec, "O", bar.open, has_o) || !number_field(rec, "H", bar.high, has_h) ||
        !number_field(rec, "L", bar.low, has_l) || !number_field(rec, "C", bar.close, has_c) ||
        !number_field(rec, "Vo", bar.volume, has_v) ||
        !number_field(rec, "AdjFactor", bar.adj_factor, has_f) ||
        !number_field(rec, "AdjC", bar.adj_close, has_ac)) {
      error = record_place(i) + " (" + bar.code + ") has a price or volume that is not a number";
      return false;
    }
    if (!has_f) bar.adj_factor = 1;
    bar.traded = has_o && has_h && has_l && has_c && bar.close > 0;
    if (bar.adj_factor < kMinAdjFactor || bar.adj_factor > kMaxAdjFactor) {
      // No real split or reverse split comes near; such a factor would overflow the
      // correction ratio and turn every earlier price into nonsense.
      error = record_place(i) + " (" + bar.code + ") has an AdjFactor outside 1/1000..1000";
      return false;
    }
    if (bar.open < 0 || bar.high < 0 || bar.low < 0 || bar.close < 0 || bar.volume < 0) {
      error = record_place(i) + " (" + bar.code + ") has a negative price, volume or factor";
      return false;
    }
    if (!has_v) bar.volume = 0;
    page.push_back(std::move(bar));
    ++i;
  }
  out.insert(out.end(), std::make_move_iterator(page.begin()), std::make_move_iterator(page.end()));
  return true;
}

bool parse_master_page(std::string_view json, std::vector<Issue>& out, std::string& next_key,
                       std::string& error) {
  thread_local simdjson::dom::parser parser;
  simdjson::dom::array data;
  if (!open_page(parser, json, data, next_key, error)) return false;
  std::vector<Issue> page;
  std::size_t i = 0;
  for (element item : data) {
    object rec;
    Issue issue;
    if (item.get(rec) || !text_field(rec, "Code", issue.code) || !plain_code(issue.code)) {
      error = record_place(i) + " of the listed issues has no valid Code";
      return false;
    }
    // A missing name or segment is not fatal: the bars still count.
    text_field(rec, "CoName", issue.name);
    text_field(rec, "MktNm", issue.segment);
    text_field(rec, "S17", issue.s17);
    text_field(rec, "S17Nm", issue.s17_name);
    text_field(rec, "S33", issue.s33);
    text_field(rec, "S33Nm", issue.s33_name);
    page.push_back(std::move(issue));
    ++i;
  }
  out.insert(out.end(), page.begin(), page.end());
  return true;
}

bool parse_index_page(std::string_view json, std::vector<IndexDay>& out, std::string& next_key,
                      std::string& error) {
  thread_local simdjson::dom::parser parser;
  simdjson::dom::array data;
  if (!open_page(parser, json, data, next_key, error)) return false;
  std::vector<IndexDay> page;
  std::size_t i = 0;
  for (element item : data) {
    object rec;
    IndexDay day;
    std::string date;
    if (item.get(rec) || !text_field(rec, "Date", date) ||
        (day.date = normalize_date(date)).empty()) {
      error = record_place(i) + " of the index has no valid Date";
      return false;
    }
    bool o, h, l, c;
    if (!number_field(rec, "O", day.open, o) || !number_field(rec, "H", day.high, h) ||
        !number_field(rec, "L", day.low, l) || !number_field(rec, "C", day.close, c) || !c ||
        day.close <= 0) {
      error = record_place(i) + " of the index (" + day.date + ") has no valid prices";
      return false;
    }
    if (!o) day.open = day.close;
    if (!h) day.high = day.close;
    if (!l) day.low = day.close;
    page.push_back(std::move(day));
    ++i;
  }
  out.insert(out.end(), page.begin(), page.end());
  return true;
}

bool parse_calendar_page(std::string_view json, std::vector<CalendarDay>& out,
                         std::string& next_key, std::string& error) {
  thread_local simdjson::dom::parser parser;
  simdjson::dom::array data;
  if (!open_page(parser, json, data, next_key, error)) return false;
  std::vector<CalendarDay> page;
  std::size_t i = 0;
  for (element item : data) {
    object rec;
    CalendarDay day;
    std::string date;
    if (item.get(rec) || !text_field(rec, "Date", date) ||
        (day.date = normalize_date(date)).empty()) {
      error = record_place(i) + " of the calendar has no valid Date";
      return false;
    }
    element div;
    std::string_view text;
    if (rec["HolDiv"].get(div) || div.get(text)) {
      error = record_place(i) + " of the calendar (" + day.date + ") has no HolDiv";
      return false;
    }
    day.hol_div.assign(text.substr(0, 2));
    page.push_back(std::move(day));
    ++i;
  }
  out.insert(out.end(), page.begin(), page.end());
  return true;
}

std::string error_message_of(std::string_view body) {
  simdjson::dom::parser parser;
  element root;
  std::string_view message;
  if (parser.parse(body.data(), body.size()).get(root) || root["message"].get(message)) return {};
  std::string out;
  // Control characters (an ESC sequence would drive the user's terminal) become blanks.
  for (char c : message.substr(0, 300)) {
    const auto u = static_cast<unsigned char>(c);
    out += (u < 0x20 || u == 0x7f) ? ' ' : c;
  }
  return out;
}

bool plan_window_of(std::string_view message, std::string& from, std::string& to) {
  // "Your subscription covers the following dates: 2023-09-14 ~ 2025-09-11. ..."
  std::vector<std::string> dates;
  for (std::size_t i = 0; i + 10 <= message.size() && dates.size() < 2; ++i) {
    const std::string d = normalize_date(message.substr(i, 10));
    if (!d.empty() && (i == 0 || !std::isdigit(static_cast<unsigned char>(message[i - 1])))) {
      dates.push_back(d);
      i += 9;
    }
  }
  if (dates.size() != 2 || dates[0] > dates[1]) return false;
  from = dates[0];
  to = dates[1];
  return true;
}

}  // namespace lp::jquants
