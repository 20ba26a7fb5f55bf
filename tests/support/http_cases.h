// One table form for testing an HTTP client against loopback servers that behave and misbehave,
// shared by the libcurl client's tests and the desktop program's Qt Network client's tests, so
// both clients are held to the same expectations.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "common/http.h"
#include "support/loopback_server.h"

namespace lp::test {

struct HttpCase {
  const char* name;
  std::function<void(LoopbackServer::Connection&)> serve;
  std::function<void(HttpRequest&)> adjust;  // caps for this case
  int status;                                // expected status when no error (-1: don't care)
  std::string body;                          // expected body when no error
  std::string error_part;                    // "" = success expected
};

// Runs every case against a fresh server; `more` checks what a case needs beyond the table.
inline void expect_http_cases(
    const HttpClient& client, const std::vector<HttpCase>& cases,
    const std::function<void(const HttpCase&, const HttpResponse&)>& more = {}) {
  for (const HttpCase& tc : cases) {
    SCOPED_TRACE(tc.name);
    LoopbackServer server(tc.serve);
    HttpRequest req;
    req.url = server.url("/file.csv");
    if (tc.adjust) tc.adjust(req);
    const auto t0 = std::chrono::steady_clock::now();
    const HttpResponse r = client(req);
    // Every cap of a case is far below this: a client that ignores one hangs past it.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    if (tc.error_part.empty()) {
      EXPECT_EQ(r.error, "");
      if (tc.status >= 0) {
        EXPECT_EQ(r.status, tc.status);
      }
      EXPECT_EQ(r.body, tc.body);
    } else {
      EXPECT_NE(r.error.find(tc.error_part), std::string::npos) << r.error;
      EXPECT_FALSE(r.ok());
    }
    if (more) more(tc, r);
  }
}

}  // namespace lp::test
