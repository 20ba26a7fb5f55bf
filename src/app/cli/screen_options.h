// The screen options shared by the commands that run a screen (screen, screen-save, backtest).
#pragma once

#include <string>

#include "app/cli/cli.h"
#include "screening/saved_screens.h"
#include "screening/screening_session.h"

namespace lp::cli {

// The screening window's state from the options, in the order the window would see them:
// built-in values, then the preferences file or a saved screen (--init FILE or --screen NAME),
// then --criteria, --set, --markets and the formula rows (--formula, --show). Loads the
// session. False and a message on a bad option or a word left over. The stocks are limited to
// --universe (ptf1 or codes; "all" lifts it), else to the saved screen's universe; `marks`,
// when given, receives the saved screen's marks with that universe.
bool build_state(Context& ctx, lp::screening::ScreeningSession& session, std::string& error,
                 lp::screening::ScreenMarks* marks = nullptr);

// Eight digits forming a plausible yyyymmdd date.
bool valid_yyyymmdd(const std::string& text);

}  // namespace lp::cli
