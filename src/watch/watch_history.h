// The hit history of a watched screen: "user/watch/<name>.csv" (CP932, CR LF), one block per
// trading date in date order, a line holding the date alone and then one line
// "code,name,close,value" per stock that passed the screen as of that day's close.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lp {
class MarketStore;
}

namespace lp::watch {

struct Hit {
  std::string code, name, close, value;  // value: the 表示 formula's, "-" without one
  bool operator==(const Hit&) const = default;
};

struct Block {
  std::string date;  // yyyymmdd
  std::vector<Hit> hits;
  bool operator==(const Block&) const = default;
};

// The 表示 value as people read it: two decimals ("12.30", "-0.50"); `grouped` adds thousands
// separators (the window and the report, never a CSV file). Text that is no number ("-") stays.
std::string shown_value(std::string_view value, bool grouped);
// A price as people read it: thousands separators and up to two decimals ("1,234.5").
std::string shown_price(std::string_view price);

// The folder of the histories below the user folder (ending in "/").
std::string watch_folder(const std::string& user_folder);
std::string history_path(const std::string& user_folder, std::string_view screen);

// The blocks of a history text (UTF-8), sorted by date, one per date (a repeated date keeps
// its first block). Lines before the first date line and lines whose first field is no stock
// code are skipped, each with a line in `warnings` when given.
std::vector<Block> parse_history(std::string_view text,
                                 std::vector<std::string>* warnings = nullptr);
// The file text (UTF-8) of blocks sorted by date. A name or value never carries the separator:
// "," becomes "，" and line breaks and double quotes are dropped.
std::string history_text(const std::vector<Block>& blocks);

// Reads a history file; an absent file is an empty history. With `newest` (the database's newest
// trading date) a block dated after it is left out, with a warning: it cannot be a day that ran.
std::vector<Block> read_history(const std::string& user_folder, std::string_view screen,
                                std::string_view newest = {},
                                std::vector<std::string>* warnings = nullptr);
// Adds the blocks whose dates the file does not hold yet (a date is never written twice),
// under the file's lock, the whole file written anew and renamed over the old one. `blocks`
// keeps only those it wrote: a run that finds a day already written by another run at the same
// time does not report (or notify) it again. False and a message when the lock or the write
// failed (the old file is then untouched).
bool append_blocks(const std::string& user_folder, std::string_view screen,
                   std::vector<Block>& blocks, std::string& error);

// The block of `date`, or nullptr. `previous_block` gives the block before it in the history.
const Block* find_block(const std::vector<Block>& blocks, std::string_view date);
const Block* previous_block(const std::vector<Block>& blocks, std::string_view date);

// A day against the day before: 新規 (hits today, not yesterday), 除外 (hits yesterday, not
// today, with yesterday's name and close) and 継続 (both), each in the order of its block.
// Without a previous block there is nothing to compare with: every hit counts as 継続.
struct Changes {
  std::vector<Hit> entered, dropped, continuing;
};
Changes compare_blocks(const Block* previous, const Block& today);

// Whether `code` traded on `date` (a row with a volume above zero in the day's file).
using TradedOn = std::function<bool(const std::string& date, const std::string& code)>;
// The trades of the database's day files, each read once; from `store` when given. A day
// without a file counts every stock as traded: nothing is known against it.
TradedOn day_file_trades(const std::string& db_folder,
                         std::shared_ptr<const MarketStore> store = nullptr);

// The changes of the block of `date` in `history` (nullptr-free: the block must be there).
// A stock that did not trade on a day is not judged by that day: it is not 除外 on it, and
// later it is compared with its status on its last day that counts (traded, or a hit). Without
// `traded` every stock counts as traded on every day, which is compare_blocks against the
// block before. Without a block before, every hit is 継続.
Changes compare_day(const std::vector<Block>& history, std::string_view date,
                    const TradedOn& traded);

}  // namespace lp::watch
