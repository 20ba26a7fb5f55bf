// The backtest of a screening session's settings: the session's own run, as of each signal
// day, on the in-memory market.
#pragma once

#include <memory>
#include <string>

#include "backtest/backtest.h"
#include "screening/screening_session.h"

namespace lp::backtest {

// True when at least one criterion of the run order is ticked.
bool any_criterion_ticked(screening::ControlSet& controls);

// A screen function over `session` (already loaded, controls set): each call runs it as of the
// day on `store`, writing no files. The session is left as of the last day.
ScreenFn session_screen(screening::ScreeningSession& session,
                        std::shared_ptr<const MarketStore> store);

}  // namespace lp::backtest
