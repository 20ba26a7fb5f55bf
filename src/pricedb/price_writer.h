// Writing prices that arrive day by day (J-Quants) or stock by stock (CSV import) into the
// price database: day files, yearly series files, correction files and the market index
// under the reference code. Every file is replaced atomically, and a batch whose write fails
// part-way puts back every file it had already replaced, so the database is never left with
// half a day.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lp {

// The name and segment written under the reference code when the program builds the index.
inline constexpr const char* kEqualWeightIndexName = "市場平均(等加重・1000起点)";
inline constexpr const char* kIndexSegment = "指数";
inline constexpr double kIndexBase = 1000.0;
// The name when the reference code carries TOPIX itself (J-Quants plans from Light on).
inline constexpr const char* kTopixIndexName = "TOPIX";

// A day of an index taken as it is (TOPIX), instead of the equal-weighted one.
struct IndexBar {
  double open = 0, high = 0, low = 0, close = 0;
};

// A share split or similar change as a correction line: the factor by which every earlier
// price is multiplied (J-Quants' AdjFactor; 0.5 for a 1-for-2 split), written as a ratio of
// whole numbers so the files look like the server's: 1/n when the factor is the reciprocal of
// a whole number (0.5 -> 1,2), otherwise its decimal digits over a power of ten, reduced
// (3 -> 3,1; 1.5 -> 3,2; 0.9523 -> 9523,10000). At most nine decimals are kept. A factor
// outside kMinSplitFactor..kMaxSplitFactor (which check_bar refuses) gives 1/1.
struct CorrectionRatio {
  long long numerator = 1;
  long long denominator = 1;
};
CorrectionRatio correction_ratio(double factor);

// One stock's bar of one day. Segment and name are CP932 bytes; empty means "keep what the
// database already holds for this stock".
struct StockBar {
  std::string code;  // four characters
  std::string segment, name;
  double open = 0, high = 0, low = 0, close = 0;
  long long volume = 0;
  double adj_factor = 1;  // != 1 on the day a split takes effect
};

// Files replaced by one batch, with what they held before, so a failure can put them back.
class FileBatch {
 public:
  // `old` is the file's previous content, or nullopt when it did not exist.
  bool write(const std::string& path, std::string_view bytes, std::optional<std::string> old,
             std::string& error);
  void rollback();
  std::size_t size() const { return undo_.size(); }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> undo_;
};

// Raw series-file bytes with day lines merged in (same date: replaced; others kept in date
// order). `lines` are "date,open,high,low,close,volume" without a line end, dates ascending.
// `segment`/`name` (CP932) replace the header's fields 2 and 3 unless empty.
std::string merge_series_bytes(std::string_view existing, std::string_view code,
                               std::string_view segment, std::string_view name,
                               const std::vector<std::string>& lines);
// Header fields 2 and 3 (segment, name) of raw series-file bytes, CP932.
std::pair<std::string, std::string> series_identity(std::string_view existing);
// Raw correction-file bytes with a correction line merged in (same date replaced).
std::string merge_correction_bytes(std::string_view existing, std::string_view code, int year,
                                   std::string_view date, const CorrectionRatio& ratio);

// The equal-weighted market index: each day it moves by the average of the traded stocks'
// close-to-close ratios (a split's factor taken out), starting from 1000. Values are kept to
// two decimals, so a chain resumed from the files gives the same numbers as one run through.
class EqualWeightIndex {
 public:
  bool started() const { return started_; }
  double value() const { return value_; }
  // Continues from a stored day: its index value and its closes by code.
  void seed(double value, std::unordered_map<std::string, double> closes);
  // Adds one day and returns its value.
  double add_day(const std::vector<StockBar>& bars);

 private:
  bool started_ = false;
  double value_ = kIndexBase;
  std::unordered_map<std::string, double> closes_;
};

// One trading day as the writer takes it: the bars of the stocks that traded and, when the
// reference code carries TOPIX, that day's TOPIX bar.
struct DayBars {
  std::string date;  // yyyymmdd
  std::vector<StockBar> bars;
  std::optional<IndexBar> topix;
  // Splits taking effect on this day for stocks that did not trade it: (code, factor). They
  // still rescale the earlier prices, so they become correction lines like a bar's.
  std::vector<std::pair<std::string, double>> idle_splits;
};

// When the days queued with DayWriter::add_day are committed: at the end of a calendar year
// always, and before the batch would exceed any of these. A backfill commits a year's files
// once instead of once a day; the time bound keeps what a kill of a slow (paced) sync can
// lose to about a minute of fetching, and the byte bound keeps a sync below 300 MB (the bars
// queued plus the previous bytes of every file the batch replaces; about 200 MB measured).
struct BatchLimits {
  int max_days = 250;
  std::size_t max_bytes = std::size_t{160} << 20;
  double max_seconds = 60;
};

// The largest volume a bar may carry: far beyond any real day, and small enough that a day
// of thousands of such volumes still adds up without overflow.
inline constexpr long long kMaxVolume = 1'000'000'000'000'000LL;
// The range of split factors a bar may carry (1 share into 1000, or 1000 into 1).
inline constexpr double kMinSplitFactor = 1.0 / 1000;
inline constexpr double kMaxSplitFactor = 1000;
// Checks a bar's factor and volume; false with a message naming the stock and the day.
bool check_bar(std::string_view date, const StockBar& bar, std::string& error);

// Writes whole days, alone or in batches of one calendar year. Every series and correction
// file a batch touches is read and replaced once; the day files come next and the reference
// code's series last: a day counts as present once the reference series holds it, and readers
// ignore any day after the reference's newest, so a run cut short shows nothing of the batch
// it was writing and a rerun redoes that batch and nothing else. A batch that fails part-way
// puts back every file it had replaced. The year's folders stay open and files are named
// within them; what a batch replaced is kept in one buffer reused from batch to batch.
class DayWriter {
 public:
  DayWriter(std::string db_folder, std::string reference_code, BatchLimits limits = {});
  ~DayWriter();
  DayWriter(const DayWriter&) = delete;
  DayWriter& operator=(const DayWriter&) = delete;

  // True when the day is complete in the database (its day file exists and the reference
  // series holds its date).
  bool day_present(std::string_view date);
  // Writes one day (bars of the stocks that traded; the reference code's own bar, if any, is
  // left out in favour of the index). False with `error` and nothing changed on failure.
  // With `topix`, the reference code carries that bar under the name TOPIX.
  bool commit_day(std::string_view date, const std::vector<StockBar>& bars, std::string& error,
                  const IndexBar* topix = nullptr);
  // Writes days of one calendar year, dates strictly rising, as one whole (see above). The
  // bars' empty names and segments are filled in with the ones written.
  bool commit_days(std::vector<DayBars>& days, std::string& error);
  // Queues a day (dates rising); the days queued before it are committed first when it
  // starts another year or the batch is full. False with `error` when that commit failed:
  // the queue is then dropped and the database holds what it held before the batch.
  bool add_day(DayBars day, std::string& error);
  // Commits the days queued. A writer that goes away with days queued drops them.
  bool flush(std::string& error);
  std::size_t pending_days() const { return pending_.size(); }
  // Days committed by this writer so far.
  int days_committed() const { return committed_; }
  long bars_committed() const { return bars_committed_; }
  // The name (UTF-8) in the newest reference series file's header, "" when there is none.
  std::string stored_index_name();

 private:
  struct Folders {
    int series = -1, corrections = -1, days = -1;  // data_m, data_mh, data_d
    // Folders this writer created, deepest first: a failed first batch takes them away again.
    std::vector<std::string> created;
  };
  // A file the batch in progress replaced: its previous bytes sit at [at, at + size) of store_.
  struct Replaced {
    int dir;
    std::string name;
    std::size_t at, size;
    bool existed;
  };

  const Folders* ensure_year(int year, std::string& error);
  // After a failed batch: removes the year's folders this writer created that are empty.
  void drop_created_folders(int year);
  // Sets the index to continue after `prev` (a stored day, or "" for a fresh start).
  void seed_index(const std::string& prev);
  // The newest stored trading day before `date` (this year or the one before), or "".
  std::string stored_day_before(std::string_view date);
  const std::vector<std::string>& reference_dates(int year);
  // Reads `name` of `dir` onto the end of store_: 1 read (`old` views it until the next read),
  // 0 absent, -1 unreadable (errno says why).
  int read_old(int dir, const std::string& name, std::string_view& old);
  // Replaces `name` of `dir` by the pieces, remembering what it held (just read by read_old).
  bool replace(int dir, const std::string& name, int had, std::string_view old,
               std::initializer_list<std::string_view> pieces);
  // Extends a series file by day lines (`lines`: each ended by CR LF, dates rising from
  // `first` to `last`): header and body kept as they are apart from the dates and the count,
  // unless the file needs a full merge.
  bool append_series(int dir, std::string_view code, std::string_view segment,
                     std::string_view name, std::string_view lines, std::size_t count,
                     std::string_view first, std::string_view last, int had, std::string_view old);
  // Merges correction lines into `code`'s correction file (named by file_name_) and replaces
  // it, remembering what it held.
  bool write_corrections(int dir, const std::string& code, int year,
                         std::vector<std::pair<std::string_view, CorrectionRatio>>& corrections,
                         std::string_view& old, std::string& bytes);
  void rollback();
  double clock() const;

  std::string db_;
  std::string ref_;
  BatchLimits limits_;
  std::map<int, Folders> folders_;
  std::map<int, std::vector<std::string>> ref_dates_;  // ascending, per year
  EqualWeightIndex index_;
  std::string index_date_;  // the day the index state belongs to
  std::vector<Replaced> replaced_;
  std::string store_;
  std::size_t used_ = 0;
  std::string file_name_, scratch_, line_, header_;
  std::vector<DayBars> pending_;
  std::size_t pending_bytes_ = 0;
  double pending_since_ = 0;
  int committed_ = 0;
  long bars_committed_ = 0;
};

// Price text as the files hold it: shortest decimal, no exponent.
std::string price_text(double value);

}  // namespace lp
