// The HTTP service of the desktop program: Qt Network, waiting with the event loop running so
// the windows repaint, the busy indicator turns and a close request is seen during a transfer.
#pragma once

#include "common/http.h"

namespace lp::gui {

// An HttpClient on its own network access manager (created now, on the calling thread). It
// honours the caps of the request as the libcurl client does: connect and total time, the
// minimum rate, the body size (checked as bytes arrive, so an oversized body is never held),
// streaming to body_file, and the cancel poll. Error texts match the libcurl client's.
HttpClient qt_http_get();

}  // namespace lp::gui
