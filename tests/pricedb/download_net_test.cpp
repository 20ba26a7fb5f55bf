// Whole downloads through the libcurl client against real loopback servers that are slow,
// lie about lengths, send too much, or leave nothing to fetch.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/csv.h"
#include "common/http_curl.h"
#include "pricedb/download.h"
#include "support/address_limit.h"
#include "support/fixtures.h"
#include "support/loopback_server.h"

namespace lp {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;

const std::string kPrefix = "/html/kabuka_db/2013/";
const std::string kCorrections = "2013,1,x\r\n1301,a,0\r\n";
const std::string kBlock1000 =
    "1000,1,x,x,x,x\r\n1301,desc,fresh,x,20130107,1\r\n20130107,205,215,200,210,2100\r\n";
const std::string kStaleBlock1000 =
    "1000,1,x,x,x,x\r\n1301,desc,stale,x,20120104,1\r\n20120104,1,1,1,1,1\r\n";

// A pid that certainly runs no more: a child that has exited and been reaped.
long dead_pid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

// The price server of one year: the home page, the corrections and block 1000; `special`
// answers one more file its own way; everything else is a 404 page. Both are given before the
// server's thread starts, which reads them.
struct YearServer {
  YearServer() = default;
  YearServer(std::string path, std::function<void(LoopbackServer::Connection&)> serve)
      : special_path(std::move(path)), special(std::move(serve)) {}
  std::string special_path;
  std::function<void(LoopbackServer::Connection&)> special;
  LoopbackServer server{[this](LoopbackServer::Connection& c) {
    const std::string t = c.target();
    if (t == "/") {
      c.send(LoopbackServer::response(200, "<h1>lumenpick-price-server</h1>"));
    } else if (t == kPrefix + "data_mhg/2013.csv") {
      c.send(LoopbackServer::response(200, kCorrections));
    } else if (t == kPrefix + "data_mg/1000.csv") {
      c.send(LoopbackServer::response(200, kBlock1000));
    } else if (special && t == kPrefix + special_path) {
      special(c);
    } else {
      c.send(LoopbackServer::response(404, "<html>404</html>"));
    }
  }};
};

struct YearRun {
  test::TempDir dir;
  std::string db = dir.str() + "/db/";
  std::string year = db + "2013/";
  std::map<std::string, std::string> failures;  // file name -> reason
  DownloadOutcome outcome;
  double seconds = 0;

  void download(const YearServer& s, int timeout_s = kDefaultFileTimeoutS) {
    DownloadRequest request;
    request.kind = DownloadKind::chosen_year;
    request.host = DownloadHost::local;
    request.chosen_entry = "2013年";
    request.today = "20131231";
    request.install_folder = dir.str();
    request.base_override = s.server.url("/html/kabuka_db/");
    request.file_timeout_s = timeout_s;
    DownloadHooks hooks;
    hooks.read_settings = [this] {
      AppFolders f;
      f.app_folder = dir.str() + "/";
      f.db_folder = db;
      return f;
    };
    hooks.file_failed = [this](const FileRequest& f, const std::string& reason) {
      failures[f.dest] = reason;
    };
    const auto t0 = std::chrono::steady_clock::now();
    outcome = run_download(request, curl_http_get, hooks);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  // Every file left under the year folder that is not a database file.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> out;
    for (const auto& [rel, bytes] : test::files_under(year)) {
      const std::string name = fs::path(rel).filename().string();
      if (is_temp_file_name(name) || rel.find(".tmp") != std::string::npos ||
          rel.rfind("data_", 0) != 0 || rel.find("g/") != std::string::npos) {
        out.push_back(rel);
      }
    }
    return out;
  }
};

TEST(DownloadOverHttp, StaleTemporaryFilesOfAKilledDownloadAreNeverUnpacked) {
  YearServer s;
  YearRun r;
  // What a download killed during its writes leaves in the staging folders.
  test::write_bytes(r.year + "data_mg/1000.csv.tmp4242_3", kStaleBlock1000);
  test::write_bytes(r.year + "data_mg/.1000.csv." + std::to_string(dead_pid()) + "_0.lptmp",
                    kStaleBlock1000);
  r.download(s);
  EXPECT_EQ(r.outcome.fetched, 2);
  EXPECT_NE(test::read_bytes(r.year + "data_m/1301.csv").find("fresh"), std::string::npos);
  EXPECT_EQ(r.leftovers(), std::vector<std::string>{});
}

TEST(DownloadOverHttp, AFileThatMisbehavesFailsAloneAndTheRestArrives) {
  const std::string packed_3000 =
      "3000,1,x,x,x,x\r\n3301,desc,n,x,20130107,1\r\n20130107,1,2,3,4,5\r\n";
  struct Case {
    const char* name;
    std::function<void(LoopbackServer::Connection&)> serve;
    std::string reason_part;
  };
  const std::vector<Case> cases = {
      {"one byte every 300 ms never ends",
       [&](auto& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
         c.trickle(std::string(100000, '9'), 1, 300);
       },
       "timed out after 1 s"},
      {"negative length",
       [&](auto& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: -1\r\nConnection: close\r\n\r\n" +
                packed_3000);
       },
       "malformed"},
      {"twenty-digit length",
       [&](auto& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\nConnection: "
                "close\r\n\r\n" +
                packed_3000);
       },
       "larger than 64 MB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    YearServer s("data_mg/3000.csv", c.serve);
    YearRun r;
    r.download(s, 1);
    EXPECT_LT(r.seconds, 15);
    EXPECT_EQ(r.outcome.fetched, 2);
    EXPECT_EQ(r.outcome.failed, 20);
    EXPECT_NE(r.failures["data_mg/3000.csv"].find(c.reason_part), std::string::npos)
        << r.failures["data_mg/3000.csv"];
    EXPECT_NE(test::read_bytes(r.year + "data_m/1301.csv").find("fresh"), std::string::npos);
    EXPECT_FALSE(fs::exists(r.year + "data_m/3301.csv"));
    EXPECT_EQ(r.leftovers(), std::vector<std::string>{});
  }
}

TEST(DownloadOverHttp, AnOversizedBodyIsCutOffWithoutBeingHeldInMemory) {
  // 65 MB without a length: only counting the bytes as they stream in can stop it.
  YearServer s("data_mg/3000.csv", [](LoopbackServer::Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    const std::string chunk(1 << 20, '7');
    for (int i = 0; i < 65 && c.send(chunk); ++i) {
    }
  });
  YearRun r;
  auto run_and_check = [&] {
    r.download(s);
    if (r.outcome.fetched != 2 || !r.failures.count("data_mg/3000.csv") ||
        r.failures["data_mg/3000.csv"].find("larger than 64 MB") == std::string::npos) {
      ::_exit(3);
    }
  };
  if (test::kAddressLimitWorks) {
    // A client holding the body would need 64 MB and more before it could refuse it.
    EXPECT_TRUE(test::runs_within(40u << 20, run_and_check));
    EXPECT_NE(test::read_bytes(r.year + "data_m/1301.csv").find("fresh"), std::string::npos);
    EXPECT_EQ(r.leftovers(), std::vector<std::string>{});
  } else {
    run_and_check();
  }
}

TEST(DownloadOverHttp, AYearThatReceivedNothingIsNotRegistered) {
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "year present before" : "new year");
    LoopbackServer server([](LoopbackServer::Connection& c) {
      c.send(c.target() == "/" ? LoopbackServer::response(200, "lumenpick-price-server")
                               : LoopbackServer::response(503, "<html>busy</html>"));
    });
    YearRun r;
    if (existed) test::write_bytes(r.year + "data_m/1001.csv", "1001,x\r\n");
    DownloadRequest request;
    request.kind = DownloadKind::chosen_year;
    request.host = DownloadHost::local;
    request.chosen_entry = "2013年";
    request.today = "20131231";
    request.install_folder = r.dir.str();
    request.base_override = server.url("/html/kabuka_db/");
    DownloadHooks hooks;
    hooks.read_settings = [&] {
      AppFolders f;
      f.app_folder = r.dir.str() + "/";
      f.db_folder = r.db;
      return f;
    };
    const DownloadOutcome out = run_download(request, curl_http_get, hooks);
    EXPECT_TRUE(out.connected);
    EXPECT_EQ(out.fetched, 0);
    EXPECT_EQ(fs::exists(r.year), existed);
    if (existed) {
      EXPECT_TRUE(fs::exists(r.year + "data_m/1001.csv"));
    }
  }
}

}  // namespace
}  // namespace lp
