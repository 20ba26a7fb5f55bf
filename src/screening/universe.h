// The candidate universe: the latest trading day's stocks, their previous-day values and the
// market filter.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "pricedb/series.h"
#include "screening/criteria/criterion.h"

namespace lp::screening {

// Reads one DayFile into the table: four-digit codes (1000..9999) only, names without "(株)",
// header F2 rewritten to the number kept. At most kDayTableCapacity rows are kept; further
// rows are read and dropped, so nothing is misaligned. False (table untouched) when the file
// cannot be read.
bool read_day_table(const std::string& path, DayTable& table);
// The same for the day file of `date` in the source (from its store when it has one).
bool read_day_table(const SeriesSource& source, const std::string& date, DayTable& table);
// The table of an already read day file (the rows are moved out of it).
void day_table_from_file(DayFile& file, DayTable& table);

// The newest trading date on or before the source's as-of day (reference code's dates).
bool latest_trading_date_as_of(const SeriesSource& source, std::string& date);
// Trading days held up to the source's as-of day: the distinct dates of the reference code
// on or before it. -1 when below 1, else 0.
int count_trading_days_as_of(const SeriesSource& source, int& count);

// Trading days held: the header counts of the reference code's series file of every year
// folder from 1983 through `current_year`. -1 when below 1, else 0.
int count_trading_days(const std::string& db_folder, const std::string& reference_code,
                       int current_year, int& count);

// Boxes shijyou_chk(0..5); "ａｌｌ" (6) only sets the others.
using MarketBoxes = std::array<bool, 6>;

// The box (0..4) whose segment names include `segment` (trimmed), or 5 ("その他").
int market_box_of(std::string_view segment);
// The segment names box 0..4 admits (for its tooltip); empty for the other boxes.
std::vector<std::string_view> market_box_segments(int box);

// Candidate list of the table's rows whose segment's box is ticked, in table order.
void filter_markets(const DayTable& table, const MarketBoxes& boxes, CandidateList& out);

// The 業種 choice (control gyoushu_txt: 33-industry names or codes, comma-separated)
// keeps the candidates of those industries on the day (yyyymmdd); nothing when it is empty.
void filter_sectors(const ControlSet& controls, const SeriesSource& source, const std::string& day,
                    CandidateList& list);
// The message when the choice names no industry, or names some and the database has no
// industries (a price-server or CSV user): "" when the run can go on.
std::string check_sector_choice(const ControlSet& controls, const SeriesSource& source);

// Fills F9/F10 (previous close and volume) of every row from a 5-day load ending on
// `end_date` with the given calendar. A stock without two loaded days gets "0" and "0".
// `progress(k, n)` is called after every stock.
void fill_previous_day(DayTable& table, const SeriesSource& source, const std::string& end_date,
                       const TradingCalendar& calendar, Series& buffer,
                       const std::function<void(int k, int n)>& progress);

}  // namespace lp::screening
