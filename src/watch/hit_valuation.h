// The valuation columns of the 監視結果 window and the daily report: each hit's
// 予想PER, PBR, 予想利回り and 時価総額(億円) at its close on the day, and its 業種, computed as
// the results grid computes them. Columns whose data the database lacks are not shown.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pricedb/series.h"

namespace lp::fins {
class FiguresBook;
}
namespace lp::sectors {
class SectorTable;
}

namespace lp::watch {

struct Hit;

class HitValuation {
 public:
  HitValuation(const SeriesSource& src, const std::string& date);
  ~HitValuation();
  // The captions of the columns shown ("予想PER", ..., "業種"); empty: none.
  const std::vector<std::string>& captions() const { return captions_; }
  // The cells of a hit under those captions ("-" where undefined).
  std::vector<std::string> cells(const Hit& h);

 private:
  SeriesSource src_;  // the book reads through it: kept here, not the caller's
  std::unique_ptr<fins::FiguresBook> book_;
  std::shared_ptr<const sectors::SectorTable> sectors_;
  int day_ = 0;
  std::vector<std::string> captions_;
};

}  // namespace lp::watch
