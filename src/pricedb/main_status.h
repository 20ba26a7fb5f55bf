// What the database operations (download, deletion) report to the main window, and the years
// the database spans: shared by the operations and the window that shows them.
#pragma once

#include <algorithm>
#include <string_view>

#include "common/numbers.h"

namespace lp {

inline constexpr int kOldestYear = 1983;
// read_latest_date scans down to this year from the main window.
inline constexpr int kLatestDateLowestYear = 1982;

// The current year: the first four characters of today's yyyymmdd (0 if unreadable).
inline int year_of(std::string_view yyyymmdd) {
  return static_cast<int>(
      parse_integer(yyyymmdd.substr(0, std::min<std::size_t>(4, yyyymmdd.size()))));
}

// The status texts of the main window.
inline constexpr const char* kStatusIdle = "idle";
inline constexpr const char* kStatusDownloadStart = "株価ダウンローﾄﾞ開始";
inline constexpr const char* kStatusDownloadDone = "株価ダウンローﾄﾞ完了";
inline constexpr const char* kStatusDeleteStart = "株価削除開始";
inline constexpr const char* kStatusDeleteDone = "株価削除完了";

}  // namespace lp
