// The daily report's small charts, drawn by the chart's own painter (QtGui only, so the
// headless command line draws them too).
#pragma once

#include <memory>
#include <string>

#include "pricedb/market_store.h"
#include "common/settings.h"
#include "watch/watch_report.h"

namespace lp::watch {

inline constexpr int kReportChartDays = 120;
inline constexpr int kReportChartWidth = 640;
inline constexpr int kReportChartHeight = 360;

// Candles and the two moving averages of the chart's preferences ("init.txt"), the last 120
// trading days up to the date, as PNG bytes. Loads from `store` when one is given. Needs a
// QGuiApplication (see ensure_gui_application).
ChartPicture report_chart_picture(const AppFolders& folders,
                                  std::shared_ptr<const MarketStore> store = nullptr);

// Makes an offscreen QGuiApplication when the process has none (the command line), so fonts
// can be used without a display.
void ensure_gui_application();

}  // namespace lp::watch
