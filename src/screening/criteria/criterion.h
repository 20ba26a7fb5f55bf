// What every screening criterion receives from the run, and the frame they all share:
// progress texts, the per-candidate loop (with or without a history load), the count label,
// the intermediate file and the copy-back. A criterion itself only reads its parameters,
// clamps and writes them back, and judges one stock.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform.h"
#include "pricedb/series.h"
#include "screening/controls.h"

namespace lp::screening {

constexpr int kDayTableCapacity = 6001;   // stock rows 1..6001
constexpr int kCandidateCapacity = 8001;  // candidate rows 1..8001

// One row of the day table: F1..F10 = code, market, name, open, high, low, close, volume,
// previous close, previous volume (f[0] is F1). Record 0 holds the date (F1) and count (F2).
struct DayRecord {
  std::array<std::string, 10> f;
  const std::string& code() const { return f[0]; }
  const std::string& market() const { return f[1]; }
  const std::string& name() const { return f[2]; }
  const std::string& close() const { return f[6]; }
  const std::string& prev_close() const { return f[8]; }
};

struct DayTable {
  std::vector<DayRecord> records;  // records[0] = header, records[r] = row r

  bool empty() const { return records.size() < 1; }
  // Header F1, "" before the first build.
  const std::string& date() const;
  // Rows held (header F2, bounded by the rows actually present).
  int count() const;
  // Row r (1-based), nullptr when r is not a row of the table.
  const DayRecord* row(long long r) const;
};

// A record of the candidate or output list: code, day-table row (decimal text), value text.
struct Candidate {
  std::string code, row, value;
};

// Record 0 of the stored list is (count, date, title); the count is items.size().
struct CandidateList {
  std::string date;   // date of the day table
  std::string title;  // title of the value column of the last criterion that ran
  std::vector<Candidate> items;
  int count() const { return static_cast<int>(items.size()); }
};

enum class TextColor { black, blue, red };

// How a criterion talks to the window (or to the command line, which ignores most of it).
// Every member may be empty.
struct RunEvents {
  std::function<void(const std::string& text, TextColor color)> message;  // msg1_lb
  std::function<void(int n, const std::string& text)> result_label;       // result1_lb(n), blue
  std::function<void(int n)> show_option;                                 // Option1(n) visible
  std::function<void()> controls_changed;  // parameters were written back into the controls
  YieldFn yield;                           // throttled by the window; after every candidate
};

// Everything a criterion routine may use. The calendar and series are the run's buffers,
// reused from one criterion and one stock to the next (no allocation per stock).
struct RunContext {
  SeriesSource source;      // database folder and reference code
  std::string today;        // end date of the criteria's history loads (yyyymmdd)
  std::string user_folder;  // native folder ending in "/", intermediate files go there
  bool adjust = true;       // split adjustment of the loads
  bool write_files = true;  // false: no intermediate files (runs that only want the list)
  const DayTable* day_table = nullptr;
  ControlSet* controls = nullptr;
  int trading_day_count = 0;                                  // trading days held in the database
  const std::vector<std::string>* criterion_names = nullptr;  // indices 0..50
  RunEvents events;
  TradingCalendar calendar;
  Series series;
  SeriesNumbers numbers;  // the numbers of a load, for the criteria that need no text
  // Set when an intermediate file could not be written: the run's results would be stale.
  bool write_failed = false;

  void message(const std::string& text, TextColor color = TextColor::blue) const;
  void result_label(int n, const std::string& text) const;
  void yield() const;
  // Entry n of the criterion-name list, "" when there is none.
  std::string criterion_name(int n) const;
};

// The uniform signature of every criterion routine: n is the run's current criterion number.
// Effect: candidates replaced by the stocks that passed (through `output`), the intermediate
// file of n written, result1_lb(n) and Option1(n) updated, the message line cleared.
using CriterionFn = void (*)(RunContext& ctx, CandidateList& candidates, CandidateList& output,
                             int n);

// The load buffers of a loop's workers: worker 0 uses the run's own (ctx.series and
// ctx.numbers), the others buffers of their own, so a one-worker run is exactly the old one.
class WorkerBuffers {
 public:
  // Sized for the workers a loop over `candidates` items will use; sets want_prices on all.
  WorkerBuffers(RunContext& ctx, int candidates, bool want_prices);
  Series& series(int w);
  SeriesNumbers& numbers(int w);

 private:
  struct Extra {
    Series series;
    SeriesNumbers numbers;
  };
  RunContext& ctx_;
  std::vector<Extra> extra_;
};

// --- The routines of the run table, in run order -----------------------------------------
void f_kabukasel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_yasune1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_yasune2sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
// Criteria 4 and 5 (each with its own controls).
void f_nehaba1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_nehaba3sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_zenjituhi1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_gcdcsel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_std_dev1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_rsi1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_semi1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_kairi3sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_kairi2sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);
void f_kairi1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);

struct RunEntry {
  int number;
  CriterionFn routine;
};
// The fixed run order: 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 18, 40, then the formula rows
// 41-45.
const std::vector<RunEntry>& run_table();

// --- The frame ------------------------------------------------------------------------
enum class Verdict { fail, pass, abort };

// Judges one candidate from its day-table row; `value` is the value text of a kept stock.
// The history tests run on worker threads and must not touch the run's events: an abort
// leaves its message for the user in `value`, and the frame shows it.
using RowTest = std::function<Verdict(const Candidate& c, std::string& value)>;
// Judges one candidate from the numbers of its loaded series (what the text reads as, with
// the header's code; day i's date is the run calendar's date i).
using NumbersTest =
    std::function<Verdict(const Candidate& c, const SeriesNumbers& s, std::string& value)>;

// "<criterion name>：処理中" (or "：処理中" alone for a number without a name).
std::string processing_text(const RunContext& ctx, int n);

// Frame step 1: clear the message line, yield, show `progress` in blue, show result1_lb(n)
// in blue, yield.
void begin_criterion(RunContext& ctx, int n, const std::string& progress);

// Frame step 3 without a history load. Fills `output` (items, date, title) from the
// candidates that pass; leaves `output` untouched when there are no candidates.
// Returns false when the test aborted (the criterion must then end at once).
bool filter_rows(RunContext& ctx, const CandidateList& candidates, CandidateList& output,
                 const std::string& title, const RowTest& test);

// Frame step 3 with a history load: builds the calendar once for `day_count` days ending
// today, loads each candidate (trimmed code) with split adjustment as set, drops a stock
// whose load fails, shows "k/m" in result1_lb(n) and yields after every candidate. The loads
// are handed over as numbers (taken straight from the in-memory market when the run has one):
// close and volume only, unless `prices` asks for open, high and low too.
bool filter_numbers(RunContext& ctx, const CandidateList& candidates, CandidateList& output, int n,
                    int day_count, const std::string& title, const NumbersTest& test,
                    bool prices = false);

// Frame steps 4-7: count label "kept/before", intermediate file of n, copy-back into the
// candidates, Option1(n) visible, message line cleared.
void finish_criterion(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n);

// --- Indicators shared by the criteria ----------------------------------------------------
// Simple average of the close over the traded days (volume > 0) of days start..start+period-1,
// cut at the series' last day record; 0 when no day of that window traded.
double moving_average(const Series& series, int start, int period);
// Close and volume of day i (1 = newest) read leniently; 0 for a day beyond the count.
double day_close(const Series& series, int i);
double day_volume(const Series& series, int i);
// Day records held: d6 of record 0, bounded by the records present.
int day_count_of(const Series& series);
// The same on the numbers of a load.
double moving_average(const SeriesNumbers& series, int start, int period);

// --- Parameter helpers ----------------------------------------------------------------
// The control's text with blanks trimmed, written back trimmed.
std::string trimmed_param(RunContext& ctx, std::string_view control);
// Writes a value back into a control as decimal text (shortest form for reals).
void write_back(RunContext& ctx, std::string_view control, double value);
void write_back_int(RunContext& ctx, std::string_view control, long long value);

// "sel" + n + ".csv" for the numbers that have an intermediate file (0..20, 40 and the formula
// rows 41..45), else "".
std::string intermediate_file_name(int n);

}  // namespace lp::screening
