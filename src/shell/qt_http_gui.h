// The HTTP GET of the desktop program: Qt Network, waiting with the event loop running so the
// windows repaint, the busy indicator turns and a close request is seen during a transfer.
#pragma once

#include "pricedb/download.h"

namespace lp::gui {

// A GET on its own network access manager (created now, on the calling thread). The body of a
// successful answer, nothing on a network error, an HTTP error status or a 60 s stall.
HttpGet qt_http_get();

}  // namespace lp::gui
