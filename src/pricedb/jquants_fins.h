// Results summaries from J-Quants API V2 (/fins/summary): reading a page and the days a
// summaries-only sync covers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pricedb/fins_store.h"
#include "pricedb/jquants_sync.h"

namespace lp::jquants {

// One page of /fins/summary: each record becomes a Disclosure under the database's code.
// Values may come as numbers, numeric texts, "" or null (the last two: not disclosed). Records
// whose code has no database code (preferred shares) are skipped and counted in `skipped`.
// False with `error` when the page cannot be trusted (not the shape, a record that is not an
// object, a missing or invalid DiscDate, a DiscDate other than `expect_date` when one is given,
// a field of a type that is neither number, text nor null); `out` is then unchanged.
// A figure that cannot be right (a per-share figure of 10 million yen or more in magnitude,
// shares above 100 billion, outstanding shares below treasury shares, a negative dividend) is
// kept as not disclosed, with one line per record in `warnings`. More than kMaxFinsRecords
// records in `out` refuse the page.
inline constexpr std::size_t kMaxFinsRecords = 200000;
bool parse_fins_page(std::string_view json, std::string_view expect_date,
                     std::vector<fins::Disclosure>& out, std::string& next_key, int& skipped,
                     std::string& error, std::vector<std::string>* warnings = nullptr);

// The days a summaries-only sync asks for: the trading days the database holds (its day
// files) from `from` to `to` (yyyymmdd, both included), oldest first.
std::vector<std::string> database_days(const std::string& db_folder, const std::string& from,
                                       const std::string& to);

}  // namespace lp::jquants
