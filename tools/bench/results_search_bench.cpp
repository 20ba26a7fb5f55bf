// The results window's sort of a whole market's worth of results by close, and the stock
// search over the latest day file: with the table already read, and including the first read.
#include <memory>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "common/numbers.h"
#include "common/settings.h"
#include "pricedb/formats.h"
#include "results/results_model.h"
#include "search/search_model.h"

namespace {

using lp::bench::Case;
using lp::bench::Setup;

// A query of the kind users type: mixed kana forms and kanji.
constexpr const char* kQuery = "さくらﾃﾞﾝｷ工業";

lp::AppFolders folders_of(const Setup& setup) {
  lp::AppFolders f;
  f.db_folder = setup.db_folder;
  f.reference_code = "1001";
  return f;
}

constexpr std::size_t kSortedResults = 4000;

// Every stock of the latest day as a result line, in day-file order, repeated from the start
// up to 4000 lines (the day holds a few less stocks than codes).
lp::ResultTable results_of_latest_day(const Setup& setup) {
  lp::ResultTable t;
  std::string date;
  const int year = std::stoi(setup.today.substr(0, 4));
  lp::DayFile day;
  if (lp::read_latest_date(setup.db_folder, "1001", year, year - 2, date)) {
    lp::read_day_file(lp::day_file_path(setup.db_folder, date), day, true);
  }
  t.header = {"0",    date,   "銘柄",   "-",        "始値",       "高値",
              "安値", "終値", "出来高", "前日引値", "前日出来高", "ポインタ"};
  int row = 0;
  for (const lp::PriceRecord& r : day.rows) {
    const std::string prev = lp::format_decimal(lp::parse_number(r.open));
    t.rows.push_back({r.code, r.market, r.name, "-", r.open, r.high, r.low, r.close, r.volume, prev,
                      r.volume, std::to_string(++row)});
  }
  for (std::size_t k = 0; !day.rows.empty() && t.rows.size() < kSortedResults; ++k) {
    lp::ResultFields again = t.rows[k];
    t.rows.push_back(std::move(again));
  }
  t.header[0] = std::to_string(t.rows.size());
  return t;
}

void add_results_search_cases(const Setup& setup, std::vector<Case>& cases) {
  auto table = std::make_shared<lp::ResultTable>();
  Case sort{"results: sort 4000 results by close (exchange sort, double click on 終値)", "<= 0.2 s",
            [setup, table] { *table = results_of_latest_day(setup); },
            [table] {
              lp::ResultTable t = *table;
              lp::exchange_sort(t, 3, true);
              return static_cast<long long>(t.count());
            }};
  sort.item = "result";
  cases.push_back(std::move(sort));

  auto search = std::make_shared<lp::StockSearch>();
  const lp::AppFolders folders = folders_of(setup);
  Case warm{"search: rank the latest day's names (table already read)", "<= 0.005 s",
            [setup, search, folders] {
              std::vector<lp::SearchHit> hits;
              search->search(folders, setup.today, kQuery, hits);
            },
            [setup, search, folders] {
              std::vector<lp::SearchHit> hits;
              search->search(folders, setup.today, kQuery, hits);
              return static_cast<long long>(search->table().size());
            }};
  warm.item = "stock";
  cases.push_back(std::move(warm));

  Case first{"search: first search of an opening (reads the day file)", "<= 0.03 s", [] {},
             [setup, folders] {
               lp::StockSearch fresh;
               std::vector<lp::SearchHit> hits;
               fresh.search(folders, setup.today, kQuery, hits);
               return static_cast<long long>(fresh.table().size());
             }};
  first.item = "stock";
  cases.push_back(std::move(first));
}

LP_BENCH(add_results_search_cases);

}  // namespace
