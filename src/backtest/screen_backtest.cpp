#include "backtest/screen_backtest.h"

#include "common/numbers.h"

namespace lp::backtest {

namespace {

std::string trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

}  // namespace

bool any_criterion_ticked(screening::ControlSet& controls) {
  for (const screening::RunEntry& entry : screening::run_table()) {
    if (controls.enabled(entry.number)) return true;
  }
  return false;
}

ScreenFn session_screen(screening::ScreeningSession& session,
                        std::shared_ptr<const MarketStore> store) {
  session.set_write_files(false);
  return [&session, store](const std::string& day, std::vector<Pick>& picks, std::string& error) {
    session.use_market(store, day);
    if (!session.run()) {
      error = "the screen did not run";
      return false;
    }
    for (const screening::Candidate& c : session.kept().items) {
      const screening::DayRecord* row = session.day_table().row(parse_integer(c.row));
      picks.push_back({trimmed(c.code), row ? row->name() : std::string()});
    }
    return true;
  };
}

}  // namespace lp::backtest
