// A five-day market of January 2024 for the portfolio tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/csv.h"
#include "support/fixtures.h"

namespace lp::test {

inline const std::vector<std::string> kPortfolioDays = {"20240104", "20240105", "20240108",
                                                        "20240109", "20240110"};

// A stock's series file of 2024 from its closes, oldest first; 0 leaves the day out.
inline void write_stock(const std::string& db, const std::string& code, const std::string& name,
                        const std::vector<double>& closes) {
  std::vector<Day> days;
  for (std::size_t i = 0; i < closes.size(); ++i) {
    if (closes[i] > 0)
      days.push_back({kPortfolioDays[i], closes[i], closes[i], closes[i], closes[i], 500});
  }
  write_series_file(db, 2024, code, name, days);
}

// The reference code 1001 trading on all five days.
inline void write_reference(const std::string& db) {
  write_stock(db, "1001", "基準", {1, 1, 1, 1, 1});
}

// A database with the reference code and 1301 (極洋), and an empty user folder.
struct PortfolioMarket {
  TempDir dir;
  std::string db = dir.str() + "/db/";
  std::string user = dir.str() + "/user/";
  PortfolioMarket() {
    std::filesystem::create_directories(user);
    write_reference(db);
    write_stock(db, "1301", "極洋", {100, 100, 100, 100, 110});
  }
};

inline std::string file_bytes(const std::string& path) {
  std::string b;
  read_file_bytes(path, b);
  return b;
}

}  // namespace lp::test
