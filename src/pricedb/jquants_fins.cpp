#include "pricedb/jquants_fins.h"

#include <simdjson.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_json.h"

namespace lp::jquants {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

// The text a value is stored as; false for a type that has no place in a summary.
bool value_text(element v, std::string& out) {
  out.clear();
  switch (v.type()) {
    case element_type::NULL_VALUE:
      return true;
    case element_type::INT64:
      out = std::to_string(v.get_int64().value());
      return true;
    case element_type::UINT64:
      out = std::to_string(v.get_uint64().value());
      return true;
    case element_type::DOUBLE:
      out = format_decimal(v.get_double().value());
      return true;
    case element_type::STRING:
      out.assign(v.get_string().value());
      return true;
    default:
      return false;
  }
}

// Figures no company can report: stored as not disclosed, so no ratio is built on them.
// Returns the columns dropped ("EPS=1e+07 ..."), or "".
std::string drop_implausible(fins::Disclosure& d) {
  using namespace fins;
  std::string dropped;
  const auto drop = [&](int col) {
    if (!d.disclosed(col)) return;
    dropped += (dropped.empty() ? "" : " ") + std::string(column_name(col)) + "=" + d[col];
    d.set(col, "");
  };
  for (int col : {EPS, BPS, DivAnn, FEPS, FDivAnn, NxFEPS, NxFDivAnn, DEPS, DivUnit, FDivUnit,
                  NxFDivUnit}) {
    if (d.disclosed(col) && std::abs(d.value(col)) >= 1e7) drop(col);
  }
  for (int col : {DivAnn, FDivAnn, NxFDivAnn, DivUnit, FDivUnit, NxFDivUnit}) {
    if (d.disclosed(col) && d.value(col) < 0) drop(col);
  }
  for (int col : {ShOutFY, TrShFY}) {
    if (d.disclosed(col) && (d.value(col) > 1e11 || d.value(col) < 0)) drop(col);
  }
  if (d.disclosed(ShOutFY) && d.disclosed(TrShFY) && d.value(ShOutFY) < d.value(TrShFY)) {
    drop(ShOutFY);
    drop(TrShFY);
  }
  return dropped;
}

}  // namespace

bool parse_fins_page(std::string_view json, std::string_view expect_date,
                     std::vector<fins::Disclosure>& out, std::string& next_key, int& skipped,
                     std::string& error, std::vector<std::string>* warnings) {
  thread_local simdjson::dom::parser parser;
  simdjson::dom::array data;
  if (!open_page(parser, json, data, next_key, error)) return false;
  const std::string expect = expect_date.empty() ? std::string() : normalize_date(expect_date);
  std::vector<fins::Disclosure> page;
  page.reserve(data.size());
  int skip = 0;
  std::size_t i = 0;
  std::string text;
  for (element item : data) {
    ++i;
    object rec;
    if (item.get(rec)) {
      error = "record " + std::to_string(i) + " is not an object";
      return false;
    }
    fins::Disclosure disc;
    for (int c = 0; c < fins::kColumnCount; ++c) {
      element v;
      if (rec[fins::column_name(c)].get(v)) continue;  // absent: not disclosed
      if (!value_text(v, text)) {
        error = "record " + std::to_string(i) + ": " + std::string(fins::column_name(c)) +
                " is neither a number, a text nor null";
        return false;
      }
      if (c == fins::Code) {
        text = map_code(text);
        if (text.empty()) break;
      }
      disc.set(c, text);
    }
    if (disc[fins::Code].empty()) {
      ++skip;
      continue;
    }
    if (disc.date <= 0 || (!expect.empty() && disc[fins::DiscDate] != expect)) {
      error = "record " + std::to_string(i) + " has DiscDate other than " +
              (expect.empty() ? std::string("a valid date") : expect);
      return false;
    }
    if (const std::string dropped = drop_implausible(disc); !dropped.empty() && warnings) {
      warnings->push_back("警告: " + disc[fins::Code] + " の決算データ (" + disc[fins::DiscDate] +
                          ") のありえない値は使いません: " + dropped);
    }
    page.push_back(std::move(disc));
  }
  if (out.size() + page.size() > kMaxFinsRecords) {
    error = "more than " + std::to_string(kMaxFinsRecords) + " records in one answer";
    return false;
  }
  for (auto& p : page) out.push_back(std::move(p));
  skipped += skip;
  return true;
}

std::vector<std::string> database_days(const std::string& db_folder, const std::string& from,
                                       const std::string& to) {
  std::vector<std::string> days;
  for (int year : years_present(db_folder)) {
    if (year < parse_integer(from.substr(0, 4)) || year > parse_integer(to.substr(0, 4))) continue;
    for (const std::string& f : day_files_of_year(db_folder, year)) {
      const std::string d = std::filesystem::path(f).stem().string();
      if (normalize_date(d) == d && d >= from && d <= to) days.push_back(d);
    }
  }
  std::sort(days.begin(), days.end());
  days.erase(std::unique(days.begin(), days.end()), days.end());
  return days;
}

}  // namespace lp::jquants
