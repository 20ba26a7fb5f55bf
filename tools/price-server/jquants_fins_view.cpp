#include "price-server/jquants_fins_view.h"

#include <filesystem>

#include "common/csv.h"
#include "pricedb/fins_store.h"

namespace lp::tools {

namespace {

std::string iso(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(0, 4) + "-" + yyyymmdd.substr(4, 2) + "-" + yyyymmdd.substr(6, 2);
}

// One disclosure as a V2 record. The service sends most figures as texts, some as numbers,
// a missing one as "" or null: the mix varies with the column and the record so a client
// must read all four.
std::string record_of(const lp::fins::Disclosure& d) {
  using namespace lp::fins;
  std::string rec = "{";
  std::size_t mix = static_cast<std::size_t>(d.date) + d[DiscNo].size();
  for (int c = 0; c < kColumnCount; ++c) {
    if (c) rec += ',';
    rec += '"';
    rec += column_name(c);
    rec += "\":";
    std::string v = d[c];
    if (c == Code) v += "0";
    if (is_date_column(c)) v = iso(v);
    const std::size_t k = mix + static_cast<std::size_t>(c) * 7;
    if (is_value_column(c) && d.disclosed(c) && k % 3 == 0) {
      rec += v;  // a bare JSON number
    } else if (is_value_column(c) && v.empty() && k % 2 == 0) {
      rec += "null";
    } else {
      rec += '"' + v + '"';  // stored text holds no quote or backslash
    }
  }
  return rec + "}";
}

}  // namespace

void JQuantsFinsView::load(const std::string& db_folder) {
  by_date_.clear();
  by_code_.clear();
  count_ = 0;
  std::vector<lp::fins::Disclosure> list;
  for (const auto& p : list_files(lp::fins::fins_folder(db_folder))) {
    if (p.extension() != ".csv" || !lp::fins::read_fins_file(p.string(), list)) continue;
    for (const lp::fins::Disclosure& d : list) {
      std::string rec = record_of(d);
      by_code_[d[lp::fins::Code]].push_back(rec);
      by_date_[d.date].push_back(std::move(rec));
      ++count_;
    }
  }
}

std::vector<std::string> JQuantsFinsView::by_date(int date) const {
  auto it = by_date_.find(date);
  return it == by_date_.end() ? std::vector<std::string>() : it->second;
}

std::vector<std::string> JQuantsFinsView::by_code(const std::string& code) const {
  auto it = by_code_.find(code.size() == 5 && code.back() == '0' ? code.substr(0, 4) : code);
  return it == by_code_.end() ? std::vector<std::string>() : it->second;
}

}  // namespace lp::tools
