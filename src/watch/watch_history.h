// The hit history of a watched screen: "user/watch/<name>.csv" (CP932, CR LF), one block per
// trading date in date order, a line holding the date alone and then one line
// "code,name,close,value" per stock that passed the screen as of that day's close.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// The folder of the histories below the user folder (ending in "/").
std::string watch_folder(const std::string& user_folder);
std::string history_path(const std::string& user_folder, std::string_view screen);

// The blocks of a history text (UTF-8), sorted by date, one per date (a repeated date keeps
// its first block). Lines before the first date line and lines without a code are skipped.
std::vector<Block> parse_history(std::string_view text);
// The file text (UTF-8) of blocks sorted by date. A name or value never carries the separator:
// "," becomes "，" and line breaks and double quotes are dropped.
std::string history_text(const std::vector<Block>& blocks);

// Reads a history file; an absent file is an empty history.
std::vector<Block> read_history(const std::string& user_folder, std::string_view screen);
// Adds the blocks whose dates the file does not hold yet (a date is never written twice),
// under the file's lock, the whole file written anew and renamed over the old one. `added`
// counts the blocks written. False and a message when the lock or the write failed (the old
// file is then untouched).
bool append_blocks(const std::string& user_folder, std::string_view screen,
                   const std::vector<Block>& blocks, int& added, std::string& error);

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

}  // namespace lp::watch
