// Valuing a full holdings file (200 holdings) the way the portfolio window opens one: read
// ptf0.csv, build the calendar once, load every holding's series and total the report.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "bench/bench.h"
#include "portfolio/portfolio_model.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"

namespace {

namespace fs = std::filesystem;
using lp::bench::Case;
using lp::bench::Setup;

struct PortfolioWork {
  std::string user_folder;
  std::unique_ptr<lp::portfolio::Book> book;
};

// Codes of the end date's year, spread evenly over the market.
std::vector<std::string> spread_codes(const Setup& setup, int count) {
  std::vector<std::string> all;
  std::error_code ec;
  const int year = std::stoi(setup.today.substr(0, 4));
  for (const auto& e :
       fs::directory_iterator(lp::year_folder(setup.db_folder, year) + "data_m", ec)) {
    all.push_back(e.path().stem().string());
  }
  std::sort(all.begin(), all.end());
  std::vector<std::string> picked;
  if (all.empty()) return picked;
  for (int i = 0; i < count; ++i) {
    picked.push_back(
        all[static_cast<std::size_t>(i) * all.size() / static_cast<std::size_t>(count)]);
  }
  return picked;
}

void add_portfolio_cases(const Setup& setup, std::vector<Case>& cases) {
  auto work = std::make_shared<PortfolioWork>();
  work->user_folder = (fs::path(setup.market_dir) / "portfolio-scratch").string() + "/";

  Case c{"portfolio: value 200 holdings (open ptf0.csv)", "<= 0.1 s",
         [setup, work] {
           std::error_code ec;
           fs::create_directories(work->user_folder, ec);
           std::vector<lp::portfolio::Holding> holdings;
           for (const std::string& code : spread_codes(setup, lp::portfolio::kMaxHoldings)) {
             holdings.push_back({code, "1000", "100", setup.today, "", ""});
           }
           lp::portfolio::save_holdings(lp::portfolio::holdings_path(work->user_folder, 0),
                                        holdings);
           lp::SeriesSource src;
           src.db_folder = setup.db_folder;
           src.reference_code = "1001";
           const std::string today = setup.today;
           work->book = std::make_unique<lp::portfolio::Book>(src, work->user_folder,
                                                              [today] { return today; });
         },
         [work] {
           work->book->open(0);
           long long priced = 0;
           for (const auto& row : work->book->report().rows) priced += row.priced;
           return priced;
         }};
  c.item = "priced holding";
  c.finish = [work] {
    std::error_code ec;
    fs::remove_all(work->user_folder, ec);
  };
  cases.push_back(std::move(c));
}

LP_BENCH(add_portfolio_cases);

}  // namespace
