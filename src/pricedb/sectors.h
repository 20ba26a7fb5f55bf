// Industry sectors (業種): the 33 and 17 industry classes each day's listed-issue master carries,
// kept per stock and era in "sectors.csv" under the database folder (CP932, CR LF): one line per
// stock and era (before and after the market restructuring of 2022-04-04, as the names are
// kept), from the newest master of that era that knew the stock.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lp::sectors {

// One of the 33 industries of the exchange: code ("3650") and name ("電気機器").
struct Industry {
  const char* code;
  const char* name;
  const char* s17;  // the 17-industry class it belongs to ("9")
};
// The 33 industries in code order, then "9999" その他 (ETFs, REITs and the like).
const std::vector<Industry>& industries33();
// The 17 classes' names by code ("1" 食品 ... "17" 不動産, "99" その他); "" when unknown.
std::string_view name17(std::string_view code);
// The 33-industry name of a code; "" when unknown.
std::string_view name33(std::string_view code);

// Reads one --sector word: a 33-industry code ("3650") or name ("電気機器", full or half width
// as typed, blanks ignored). The code, or "" when it names none.
std::string code33_of(std::string_view word);
// A comma-separated list of such words (「、」 also separates); false with `error` naming the
// word that is no industry. `codes` sorted, without duplicates.
bool parse_sector_list(std::string_view text, std::vector<std::string>& codes, std::string& error);

struct Sector {
  int date = 0;  // the master's day (yyyymmdd)
  std::string s17, s17_name, s33, s33_name, segment;
};

inline constexpr int kSegmentReformDay = 20220404;

// One master's sectors by database code.
using MasterSectors = std::unordered_map<std::string, Sector>;

class SectorTable {
 public:
  // The table of the database (empty when it has no sectors.csv); read again only when the
  // file has changed, as the results table is.
  static std::shared_ptr<const SectorTable> shared(const std::string& db_folder);
  static std::shared_ptr<SectorTable> load(const std::string& db_folder);
  // The stock's sector on `day`: its line of that day's era, else of the other era; null when
  // no master named it.
  const Sector* of(std::string_view code, int day) const;
  bool empty() const { return by_code_.empty(); }
  // Keeps a master's lines: per stock and era, the newest master wins.
  void merge(const MasterSectors& master, int date);
  std::string file_bytes() const;
  // Reads the file's bytes; false when a line is not one.
  bool parse(std::string_view bytes);

 private:
  struct Eras {
    Sector before, after;  // date 0: none
  };
  std::unordered_map<std::string, Eras> by_code_;
};

std::string sectors_file_path(const std::string& db_folder);
// Merges the masters fetched into the database's file (read, merged, replaced whole). False
// with `error` (Japanese) when it cannot be written.
bool store_sectors(const std::string& db_folder, const std::vector<std::pair<int, MasterSectors>>& masters,
                   std::string& error);

}  // namespace lp::sectors
