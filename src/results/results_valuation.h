// The company-results columns of the results grid and its export: 予想PER, PBR, 利回り and
// 時価総額(億円) of each result on the result file's day, at its close. Shown only when the
// database holds results summaries.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <unordered_map>

#include "pricedb/series.h"
#include "results/results_model.h"

namespace lp {

inline constexpr int kValuationColumns = 4;
using ValuationValues = std::array<std::optional<double>, kValuationColumns>;

struct ValuationTable {
  bool present = false;  // the database holds results summaries: the columns are shown
  std::unordered_map<std::string, ValuationValues> by_code;
  // Empty values for a code without figures.
  const ValuationValues& of(const std::string& code) const;
  // The 業種 column (the 33-industry name on the result file's day), shown when the
  // database holds the industries.
  bool sectors = false;
  std::unordered_map<std::string, std::string> sector_by_code;
  // "" for a code without one.
  const std::string& sector_of(const std::string& code) const;
  // Any column of this table is shown.
  bool shown() const { return present || sectors; }
};

inline constexpr const char* kSectorCaption = "業種";

// "予想PER", "PBR", "予想利回り", "時価総額(億円)".
const std::array<std::string, kValuationColumns>& valuation_captions();

// The figures of every result as of the table's date (header field 2) at its close (field 8).
ValuationTable compute_valuation(const ResultTable& table, const SeriesSource& src);

// The grid texts of a result ("-" where undefined).
std::array<std::string, kValuationColumns> valuation_cells(const ValuationTable& v,
                                                           const std::string& code);

// Sorts by the 業種 column: by industry code, results without one last.
void exchange_sort_sector(ResultTable& table, const ValuationTable& v, bool descending);

// Sorts by valuation column k (0..3) with the exchange sort; results without the figure go
// last whichever the direction, since a missing PER is neither cheap nor dear.
void exchange_sort_valuation(ResultTable& table, const ValuationTable& v, int k, bool descending);

}  // namespace lp
