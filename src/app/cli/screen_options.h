// The screen options shared by the commands that run a screen (screen, backtest).
#pragma once

#include <string>

#include "app/cli/cli.h"
#include "screening/screening_session.h"

namespace lp::cli {

// Loads the session and applies --init FILE, --markets, --criteria and --set; returns an
// error text, empty when every option was understood.
std::string configure_screen(Context& ctx, lp::screening::ScreeningSession& session);

// Eight digits forming a plausible yyyymmdd date.
bool valid_yyyymmdd(const std::string& text);

}  // namespace lp::cli
