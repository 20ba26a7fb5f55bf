// The libcurl client against real loopback servers that behave and misbehave.
#include "common/http_curl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "support/fixtures.h"
#include "support/http_cases.h"
#include "support/loopback_server.h"

namespace lp {
namespace {

using test::LoopbackServer;

using Case = test::HttpCase;

const std::string kBig(3000, 'x');

TEST(CurlHttpGet, AnswersAndMisbehaviours) {
  const std::vector<Case> cases = {
      {"plain 200",
       [](auto& c) { c.send(LoopbackServer::response(200, "hello", "X-Custom-Thing: Va lue \r\n")); },
       nullptr, 200, "hello", ""},
      {"404 is an answer, not a transfer error",
       [](auto& c) { c.send(LoopbackServer::response(404, "no such file")); }, nullptr, 404,
       "no such file", ""},
      {"body over the cap with an honest length",
       [](auto& c) { c.send(LoopbackServer::response(200, kBig)); },
       [](HttpRequest& r) { r.max_body_bytes = 1000; }, -1, "", "larger than 1000 bytes"},
      {"body over the cap without a length",
       [](auto& c) { c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + kBig); },
       [](HttpRequest& r) { r.max_body_bytes = 1000; }, -1, "", "larger than 1000 bytes"},
      {"body exactly at the cap",
       [](auto& c) { c.send(LoopbackServer::response(200, std::string(1000, 'y'))); },
       [](HttpRequest& r) { r.max_body_bytes = 1000; }, 200, std::string(1000, 'y'), ""},
      {"malformed content-length",
       [](auto& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\nConnection: close\r\n\r\nhello");
       },
       nullptr, -1, "", "malformed"},
      {"body shorter than its length",
       [](auto& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nhello");
       },
       nullptr, -1, "", "malformed or incomplete"},
      {"garbage instead of HTTP", [](auto& c) { c.send("SSH-2.0-OpenSSH\r\n\r\n"); }, nullptr,
       -1, "", "malformed"},
      {"nothing at all", [](auto&) {}, nullptr, -1, "", "malformed"},
      {"trickle beyond the total cap",
       [](auto& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
         c.trickle(std::string(100000, 'z'), 2000, 100);
       },
       [](HttpRequest& r) {
         r.total_timeout_s = 1;
         r.low_speed_bytes_per_s = 0;
       },
       -1, "", "timed out after 1 s"},
      {"under the minimum rate",
       [](auto& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
         c.trickle(std::string(100000, 'z'), 1, 200);
       },
       [](HttpRequest& r) {
         r.low_speed_bytes_per_s = 1000;
         r.low_speed_window_s = 1;
       },
       -1, "", "slower than 1000 bytes/s for 1 s"},
      {"cancelled mid-transfer",
       [](auto& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
         c.trickle(std::string(100000, 'z'), 100, 50);
       },
       [](HttpRequest& r) {
         auto polls = std::make_shared<int>(0);
         r.cancelled = [polls] { return ++*polls > 3; };
       },
       -1, "", "cancelled"},
  };
  test::expect_http_cases(curl_http_get, cases, [](const Case& tc, const HttpResponse& r) {
    if (std::string(tc.name) == "plain 200") {
      EXPECT_EQ(r.header("x-custom-thing"), "Va lue");
      EXPECT_EQ(r.header("content-length"), "5");
    }
  });
}

TEST(CurlHttpGet, StreamsIntoTheBodyFileAndRemovesItOnFailure) {
  test::TempDir dir;
  const std::string good(200000, 'g');
  LoopbackServer server([&](LoopbackServer::Connection& c) {
    if (c.target() == "/good") {
      c.send(LoopbackServer::response(200, good));
    } else {
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\nConnection: close\r\n\r\n" + good);
    }
  });
  HttpRequest req;
  req.url = server.url("/good");
  req.body_file = dir.file("body.part");
  HttpResponse r = curl_http_get(req);
  EXPECT_TRUE(r.ok()) << r.error;
  EXPECT_TRUE(r.body.empty());
  EXPECT_EQ(test::read_bytes(req.body_file), good);

  req.url = server.url("/short");
  r = curl_http_get(req);
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(std::filesystem::exists(req.body_file));

  req.body_file = dir.file("missing-folder/body.part");
  req.url = server.url("/good");
  r = curl_http_get(req);
  EXPECT_NE(r.error.find("could not create"), std::string::npos) << r.error;
}

TEST(CurlHttpGet, SendsHeadersAndKeepsThemFromOtherServers) {
  LoopbackServer other([](LoopbackServer::Connection& c) {
    c.send(LoopbackServer::response(200, "elsewhere"));
  });
  LoopbackServer server([&](LoopbackServer::Connection& c) {
    if (c.target() == "/same") {
      c.send(LoopbackServer::response(302, "", "Location: /final\r\n"));
    } else if (c.target() == "/away") {
      c.send(LoopbackServer::response(302, "", "Location: " + other.url("/x") + "\r\n"));
    } else if (c.target() == "/ftp") {
      c.send(LoopbackServer::response(302, "", "Location: file:///etc/passwd\r\n"));
    } else {
      c.send(LoopbackServer::response(200, "final"));
    }
  });
  HttpRequest req;
  req.headers = {{"x-api-key", "SECRET"}};
  req.url = server.url("/same");
  HttpResponse r = curl_http_get(req);
  EXPECT_EQ(r.body, "final");
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_NE(server.requests()[1].find("x-api-key: SECRET"), std::string::npos);

  req.url = server.url("/away");
  r = curl_http_get(req);
  EXPECT_EQ(r.body, "elsewhere");
  ASSERT_EQ(other.requests().size(), 1u);
  EXPECT_EQ(other.requests()[0].find("SECRET"), std::string::npos);

  req.url = server.url("/ftp");
  r = curl_http_get(req);
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find("not http"), std::string::npos) << r.error;
}

TEST(CurlHttpGet, ReportsUnreachableAndUnsupportedAddresses) {
  int closed_port;
  {
    LoopbackServer gone([](auto&) {});
    closed_port = gone.port();
  }
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"http://127.0.0.1:" + std::to_string(closed_port) + "/", "could not connect to 127.0.0.1"},
      {"ftp://127.0.0.1/file", "not an http:// or https:// address"},
      {"header", "line break"},  // a header that would smuggle in a second one
      {"file:///etc/passwd", "not an http:// or https:// address"},
  };
  for (const auto& [url, part] : cases) {
    HttpRequest req;
    req.url = url;
    if (url == "header") {
      req.url = "http://127.0.0.1:" + std::to_string(closed_port) + "/";
      req.headers = {{"x-api-key", "KEY\r\nX-Other: 1"}};
    }
    const HttpResponse r = curl_http_get(req);
    EXPECT_NE(r.error.find(part), std::string::npos) << url << ": " << r.error;
    EXPECT_EQ(r.status, 0) << url;
  }
}

}  // namespace
}  // namespace lp
