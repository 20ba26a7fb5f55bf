// The HTTP service backed by libcurl: what the CLI, the bench and the core's downloads use.
#pragma once

#include "common/http.h"

namespace lp {

// Performs a GET honouring every cap of `request`: TLS certificates are verified, proxies
// come from the environment (http_proxy, https_proxy, no_proxy), redirects are followed up
// to five times within http/https (extra headers are dropped once a redirect leaves the
// original scheme, host and port, so a key never reaches another server). When the
// transfer fails (error non-empty) a partly written body_file is removed. Thread-safe.
HttpResponse curl_http_get(const HttpRequest& request);

}  // namespace lp
