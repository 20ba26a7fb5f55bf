// The HTTP service handed to the core. The core never opens a connection itself: the CLI and
// the bench pass the libcurl client, the desktop program may pass Qt Network, tests pass a
// real client against a loopback server (or, for pure logic, a function of their own).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace lp {

struct HttpRequest {
  std::string url;
  // Extra request headers, e.g. {"x-api-key", KEY}. Never logged.
  std::vector<std::pair<std::string, std::string>> headers;
  int connect_timeout_s = 30;
  // A cap on the whole transfer, however steadily the bytes trickle in.
  int total_timeout_s = 120;
  // The transfer gives up when it stays under this many bytes a second for this long.
  long low_speed_bytes_per_s = 1024;
  int low_speed_window_s = 30;
  // A body larger than this fails the request (nothing real comes near it).
  std::uint64_t max_body_bytes = 64ull * 1024 * 1024;
  // When set, the body is streamed into this file (created or truncated) instead of being
  // held in memory; the caller renames it into place once the request succeeded.
  std::string body_file;
  // Polled during the transfer; returning true abandons it.
  std::function<bool()> cancelled;
};

struct HttpResponse {
  int status = 0;  // the HTTP status; 0 when no answer arrived
  std::string body;  // empty when streamed to body_file
  // Response headers, names in lower case.
  std::vector<std::pair<std::string, std::string>> headers;
  // Empty when the transfer completed (whatever its status); otherwise what went wrong, in
  // words a user can act on ("timed out after 120 s", "body larger than 64 MB", ...).
  std::string error;

  bool ok() const { return error.empty() && status >= 200 && status < 300; }
  // The first value of a header (name in lower case), or empty.
  std::string header(const std::string& lower_name) const {
    for (const auto& [name, value] : headers) {
      if (name == lower_name) return value;
    }
    return {};
  }
};

using HttpClient = std::function<HttpResponse(const HttpRequest&)>;

}  // namespace lp
