// Finding a stock by name: the stock table of the latest trading day, the character
// normalisation that makes widths and kana forms compare equal, the score and the ranking.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/settings.h"

namespace lp {

// Full width, upper case, hiragana to katakana, character by character. Half-width katakana
// followed by its voiced or semi-voiced mark become the one full-width character (ｶﾞ -> ガ,
// ﾊﾟ -> パ), so every way of typing a name compares equal.
std::u32string normalise_for_search(std::u32string_view text);
std::u32string normalise_for_search(std::string_view utf8);

// Characters of `name` matched by `query`: each query character takes the first equal name
// character not yet taken. Both texts already normalised.
int match_score(std::u32string_view query, std::u32string_view name);

struct StockEntry {
  std::string code, market, name;  // as read (name untrimmed)
  std::u32string key;              // the trimmed name, normalised
};

// An entry with its search key made from the trimmed name.
StockEntry make_stock_entry(std::string code, std::string market, std::string name);

struct SearchHit {
  int score = 0;
  std::string code, name;
};

inline constexpr std::size_t kMaxSearchResults = 100;

// Ranks `entries` for a query: score descending, then |name length - query length|
// ascending, then file order; at most `limit` hits, never one with score 0.
std::vector<SearchHit> rank_stocks(const std::vector<StockEntry>& entries, std::string_view query,
                                   std::size_t limit = kMaxSearchResults);

// The name the chart gets for a pick: trimmed; a "(株)" after the first character cuts the
// last three characters, a leading "(株)" the first three; then the first five characters.
std::string chart_name(std::string_view name);

// Reads the stocks of a day file in file order, later duplicates of a code dropped.
// False when the file cannot be opened.
bool read_stock_table(const std::string& day_file, std::vector<StockEntry>& out);

// The search of one window opening: the stock table is read at the first search and kept
// until the window is opened again, even if a newer day arrives meanwhile.
class StockSearch {
 public:
  enum class Status { ok, no_day_file };

  // Marks the table as to be read (a new opening).
  void reopen();
  bool table_loaded() const { return loaded_; }
  const std::vector<StockEntry>& table() const { return table_; }
  // The day file the table came from ("" until read).
  const std::string& day_file() const { return day_file_; }

  // Reads the table if needed, from the latest day file of the current year or the two before
  // it (`today` is yyyymmdd), then ranks the query.
  Status search(const AppFolders& folders, const std::string& today, std::string_view query,
                std::vector<SearchHit>& out);
  // Whether the last search found more hits than it returned (kMaxSearchResults).
  bool last_cut() const { return cut_; }

 private:
  bool loaded_ = false;
  bool cut_ = false;
  std::vector<StockEntry> table_;
  std::string day_file_;
};

}  // namespace lp
