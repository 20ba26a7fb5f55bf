#include "watch/hit_valuation.h"

#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/fundamentals.h"
#include "pricedb/sectors.h"
#include "watch/watch_history.h"

namespace lp::watch {

HitValuation::HitValuation(const SeriesSource& src, const std::string& date)
    : src_(src), day_(static_cast<int>(parse_integer(date))) {
  if (fins::database_has_fins(src.db_folder)) {
    book_ = std::make_unique<fins::FiguresBook>(src_, date);
    captions_ = {"予想PER", "PBR", "予想利回り", "時価総額(億円)"};
  }
  sectors_ = sectors::SectorTable::shared(src.db_folder);
  if (sectors_->empty()) {
    sectors_.reset();
  } else {
    captions_.push_back("業種");
  }
}

HitValuation::~HitValuation() = default;

std::vector<std::string> HitValuation::cells(const Hit& h) {
  std::vector<std::string> out;
  const std::string code = trim_blanks(h.code);
  if (book_) {
    const fins::Figures* f = book_->figures(code);
    const double close = parse_number(h.close);
    const auto value = [&](fins::Metric m) {
      return f && close > 0 ? fins::metric_value(*f, m, close) : std::nullopt;
    };
    out.push_back(fins::per_text(value(fins::Metric::per)));
    out.push_back(fins::yield_text(value(fins::Metric::pbr)));
    out.push_back(fins::yield_text(value(fins::Metric::yield)));
    out.push_back(fins::mcap_text(value(fins::Metric::mcap)));
  }
  if (sectors_) {
    const sectors::Sector* s = sectors_->of(code, day_);
    out.push_back(!s ? "-" : !s->s33_name.empty() ? s->s33_name : std::string(sectors::name33(s->s33)));
  }
  return out;
}

}  // namespace lp::watch
