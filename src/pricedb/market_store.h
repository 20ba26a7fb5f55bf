// The whole price database in memory: every series file, day file and correction file read
// once, so that hundreds of screens over past days (the backtest) do not read the same files
// hundreds of times. A SeriesSource that carries a store answers the loaders from it, byte for
// byte what the files would have given.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pricedb/formats.h"

namespace lp {

namespace fins {
class FinsTable;
}

// The numbers an index reads from the day lines besides their dates.
enum class IndexedNumbers : std::uint8_t {
  kNone,         // a text load cuts the lines and reads no value
  kCloseVolume,  // what most criteria read
  kAll,          // open, high and low too, in the same pass
};

// One series file as held: its bytes and where each day line starts. A day's six fields are
// read from its line on demand with the same field reader as the file loaders, so the text
// handed out is the file's own.
struct StoredYear {
  int year = 0;
  std::string bytes;
  std::vector<std::uint32_t> day_starts;  // file order (oldest first)
  std::vector<std::int32_t> dates;        // the day lines' dates as numbers
  // Plain files only: the six field lengths of every day line, so a day is cut out without
  // searching for its commas.
  std::vector<std::array<std::uint8_t, 6>> lengths;
  bool ascending = true;  // dates whole and strictly rising: a date can be found by halving
  // Every day line is six bare fields joined by single commas (no quotes, no blanks), so a
  // day can be split at its commas without the general field reader.
  bool plain = true;
  // Every day's four prices are plain integers ("123", no sign, point or leading zero): with
  // no split to apply, the adjustment leaves them as they are.
  bool prices_plain = true;
  // Every date is eight digits, so equal dates are equal texts.
  bool dates_plain = true;
  // Close and volume of day line i (file order) at 2 * i, each as the lenient reader reads the
  // field. Kept only for a year whose days can be laid out from numbers alone (see numeric()).
  // Open, high and low are not read at the load: most criteria never read them, and in such a
  // year they are plain integers that can be read straight from the line (see price()).
  std::vector<double> close_volume;
  // Open, high and low of day line i at 3 * i, in a numeric() year: read by the indexing when
  // it was asked for them (a loader's scratch year), else built from the lines on first use
  // (safe from several threads), for the loads that read them day after day. Null only for a
  // scratch year indexed without them.
  const double* open_high_low() const;
  IndexedNumbers indexed = IndexedNumbers::kCloseVolume;
  std::vector<double> indexed_prices;  // what open_high_low() gives when all were indexed
  // Dates rising, bare fields, plain prices and dates: a load's numbers can be taken from
  // the numbers without the text.
  bool numeric() const { return ascending && plain && prices_plain && dates_plain; }
  std::size_t size() const { return day_starts.size(); }

 private:
  struct LazyPrices {
    std::once_flag built;
    std::vector<double> values;
  };
  // Shared so that the year stays movable; set up by the indexing of a numeric() year.
  std::shared_ptr<LazyPrices> lazy_prices_;
  friend void finish_year_index(StoredYear& out);

 public:
  // Field f (1 to 3: open, high, low) of day line i as a number, in a numeric() year only:
  // the field is bare digits there, so its value is the one the lenient reader gives.
  double price(std::size_t i, std::size_t f) const {
    const char* p = bytes.data() + day_starts[i];
    const auto& len = lengths[i];
    for (std::size_t k = 0; k < f; ++k) p += len[k] + 1u;
    std::uint64_t v = 0;
    for (const char* e = p + len[f]; p < e; ++p) v = v * 10 + static_cast<unsigned>(*p - '0');
    return static_cast<double>(v);
  }
  // Open, high and low of day line i in a numeric() year, read in one walk along the line.
  void open_high_low_at(std::size_t i, double (&v)[3]) const;
  // The six fields of day line i (file order), exactly as the field reader reads them.
  std::array<std::string_view, 6> day(std::size_t i) const;
};

struct StoredStock {
  std::vector<StoredYear> years;                       // newest year first
  std::map<int, std::vector<Correction>> corrections;  // by year, each oldest first
  const StoredYear* year(int y) const;
};

class MarketStore {
 public:
  // Reads every year folder of `db_folder` once. `progress(done, total)` is called per year
  // folder part read. False (and a message in `error`) when a file is too large to index.
  static std::shared_ptr<MarketStore> load(const std::string& db_folder,
                                           const std::string& reference_code, std::string& error,
                                           const std::function<void(int, int)>& progress = {});

  const std::string& db_folder() const { return db_folder_; }
  const std::string& reference_code() const { return reference_code_; }
  const StoredStock* stock(std::string_view code) const;
  // Every code held, in code order.
  std::vector<std::string> codes() const;
  // The day file of `date` as read_day_file would give it; false when there is none.
  bool day_file(std::string_view date, DayFile& out, bool decode_names = true) const;
  bool has_day_file(std::string_view date) const;
  // Every trading date of the reference code, oldest first.
  const std::vector<std::string>& trading_dates() const { return trading_dates_; }
  // Bytes held (file texts plus indexes), for the memory figure.
  std::size_t memory_bytes() const;
  std::size_t file_count() const { return files_; }
  std::size_t file_bytes() const { return file_bytes_; }
  // The results summaries of every stock, read once on first use (a backtest on prices alone
  // never reads them). Never null.
  std::shared_ptr<const fins::FinsTable> fins() const;

 private:
  std::string db_folder_;
  std::string reference_code_;
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, StoredStock, Hash, std::equal_to<>> stocks_;
  // The usual four-digit codes found without hashing: index code - 1000.
  std::vector<const StoredStock*> by_number_;
  // Stock and segment names decoded once: the same few thousand recur in every day file.
  mutable std::mutex names_mutex_;
  mutable std::unordered_map<std::string, std::string, Hash, std::equal_to<>> decoded_;
  std::map<std::string, std::string, std::less<>> day_files_;  // date -> bytes
  std::vector<std::string> trading_dates_;
  std::size_t files_ = 0;
  std::size_t file_bytes_ = 0;
  mutable std::once_flag fins_once_;
  mutable std::shared_ptr<const fins::FinsTable> fins_;
};

// Indexes the bytes of a series file already held in `out.bytes`.
void index_stored_year(StoredYear& out);
// The same for a file whose every day line is of the plain kind (six bare fields), keeping
// the arrays' room for the next file: a loader's scratch year. False, and the index not to be
// used, for a file of any other shape. Only the `newest` last lines are indexed (day line 0 is
// then the oldest of them); the older ones are only checked to leave the field reader's days
// on the lines, whatever they hold. `numbers`: the values read as the lines are cut (with
// none, close_volume stays empty).
bool index_plain_year(StoredYear& out, std::size_t newest = SIZE_MAX,
                      IndexedNumbers numbers = IndexedNumbers::kCloseVolume);
// The last step of index_stored_year (drops what a year of another shape cannot use).
void finish_year_index(StoredYear& out);

}  // namespace lp
