// A small market for the ledger tests: the reference 1001 and a few stocks trading every
// weekday of 2023 and 2024, one of them split 1:2 on 2023-06-01, in a documents folder laid out
// as lumenpick-cli finds it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "ledger/ledger.h"
#include "support/fixtures.h"

namespace lp::test {

// Every weekday of the year but Jan 1-3 and Dec 31.
inline std::vector<std::string> weekdays(int year) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  std::vector<std::string> out;
  for (int m = 1; m <= 12; ++m) {
    for (int d = 1; d <= kDays[m - 1] + (m == 2 && leap); ++d) {
      const int date = year * 10000 + m * 100 + d;
      const int weekday = (ledger::day_number(date) % 7 + 10) % 7;  // 1970-01-01: Thursday
      if (weekday < 5 && !(m == 1 && d <= 3) && !(m == 12 && d == 31)) {
        out.push_back(std::to_string(date));
      }
    }
  }
  return out;
}

struct LedgerMarket {
  TempDir dir;
  std::string app = dir.str() + "/nordhaven/lumenpick/";
  std::string db = app + "kabuka_db/";
  std::string user = app + "user/";
  // 1301 trades at 100 (2023) and 110 (2024) but not on 2024-01-05; 6758 at 1000 before its
  // 1:2 split and 520 after; 7203 at 2000.
  LedgerMarket() {
    std::filesystem::create_directories(user);
    for (int year : {2023, 2024}) {
      std::vector<Day> ref, a, b, c;
      for (const std::string& d : weekdays(year)) {
        const double r = year == 2023 ? 2000 : 2200;
        ref.push_back({d, r, r, r, r, 1000});
        if (d != "20240105") {
          const double p = year == 2023 ? 100 : 110;
          a.push_back({d, p, p, p, p, 1000});
        }
        const double s = d < std::string("20230601") ? 1000 : 520;
        b.push_back({d, s, s, s, s, 1000});
        c.push_back({d, 2000, 2000, 2000, 2000, 1000});
      }
      write_series_file(db, year, "1001", "基準", ref);
      write_series_file(db, year, "1301", "極洋", a);
      write_series_file(db, year, "6758", "ソニー", b);
      write_series_file(db, year, "7203", "トヨタ", c);
    }
    write_correction_file(db, 2023, "6758", {{"20230601", 1, 2}});
  }
  SeriesSource source() const { return SeriesSource(db, "1001"); }
  ledger::LedgerStore store(int today = 20241227) const {
    return ledger::LedgerStore(source(), user, [today] { return today; });
  }
  std::string ledger_file(int n) const { return ledger::ledger_path(user, n); }
};

}  // namespace lp::test
