#include "pricedb/download.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/csv.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::write_bytes;

std::string bytes_of(const fs::path& p) {
  std::string out;
  read_file_bytes(p, out);
  return out;
}

// A server that answers from a table and remembers what was asked, in order.
struct FakeServer {
  std::map<std::string, std::optional<std::string>> answers;
  std::vector<std::string> requested;
  HttpGet get() {
    return [this](const std::string& url) -> std::optional<std::string> {
      requested.push_back(url);
      auto it = answers.find(url);
      return it == answers.end() ? std::nullopt : it->second;
    };
  }
};

std::vector<std::string> urls_of(const std::vector<FileRequest>& plan) {
  std::vector<std::string> out;
  for (const auto& f : plan) out.push_back(f.url);
  return out;
}

TEST(DownloadPlan, AddressSequencesOfBothCommands) {
  const std::string b = "http://h/kabuka_db/";
  struct Case {
    const char* name;
    DownloadKind kind;
    int year;
    std::string today;
    std::vector<std::string> expected;
  };
  std::vector<std::string> update_march = {
      b + "2013/data_mhg/2013.csv", b + "2013/data_dg/201301.csv", b + "2013/data_dg/201302.csv",
      b + "2013/data_dg/201303.csv"};
  for (int k = 1; k <= 9; ++k) {
    update_march.push_back(b + "2013/data_mg/" + std::to_string(k) + "000.csv");
  }
  std::vector<std::string> chosen_2010 = {b + "2010/data_mhg/2010.csv"};
  for (int k = 1; k <= 9; ++k) {
    chosen_2010.push_back(b + "2010/data_mg/" + std::to_string(k) + "000.csv");
  }
  for (const char* mm : {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"}) {
    chosen_2010.push_back(b + "2010/data_dg/2010" + mm + ".csv");
  }
  const std::vector<Case> cases = {
      {"update in March: corrections, months 01-03, blocks 1-9", DownloadKind::update, 2013,
       "20130315", update_march},
      {"chosen 2010: corrections, blocks, twelve months", DownloadKind::chosen_year, 2010,
       "20130315", chosen_2010},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(urls_of(download_plan(c.kind, b, c.year, c.today)), c.expected);
  }
}

TEST(DownloadPlan, ProgressTextsAndDestinations) {
  const auto update = download_plan(DownloadKind::update, "B/", 2013, "20131002");
  const auto chosen = download_plan(DownloadKind::chosen_year, "B/", 2010, "20131002");
  struct Case {
    const FileRequest& file;
    std::string dest;
    std::string progress;
    bool quit_check;
  };
  const std::vector<Case> cases = {
      {update[0], "data_mhg/2013.csv", "2013年の補正情報のダウンロードしています。", false},
      // Month 9 is "09" in the address and the file name, "9" in the text.
      {update[9], "data_dg/201309.csv", "2013年9月の日毎株価をダウンロードしています。", true},
      {update[11], "data_mg/1000.csv",
       "銘柄コード1000～1999の2013年の時系列株価をダウンロードしています。", true},
      {chosen[0], "data_mhg/2010.csv", "2010年の補正情報をダウンローﾄﾞしています。：", false},
      {chosen[9], "data_mg/9000.csv",
       "銘柄コード9000～9999の2010年の時系列株価のダウンロードしています。", true},
      {chosen[18], "data_dg/201009.csv", "2010年9月の日毎株価のダウンロードしています。", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dest);
    EXPECT_EQ(c.file.dest, c.dest);
    EXPECT_EQ(c.file.progress, c.progress);
    EXPECT_EQ(c.file.quit_check, c.quit_check);
  }
  EXPECT_EQ(update[9].url, "B/2013/data_dg/201309.csv");
}

TEST(DownloadYear, ChosenEntriesOutsideTheListFallBackToThisYear) {
  struct Case {
    DownloadKind kind;
    std::string entry;
    int expected;
  };
  const std::vector<Case> cases = {
      {DownloadKind::chosen_year, "2010年", 2010}, {DownloadKind::chosen_year, "1983年", 1983},
      {DownloadKind::chosen_year, "", 2013},       {DownloadKind::chosen_year, "1982年", 2013},
      {DownloadKind::chosen_year, "2014年", 2013}, {DownloadKind::update, "2010年", 2013},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(download_year(c.kind, c.entry, "20130315"), c.expected);
  }
}

TEST(DownloadOneFile, OnlyARealAnswerReplacesTheFile) {
  struct Case {
    const char* name;
    std::optional<std::string> body;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"packed file", std::string("2013,1,x\r\n1301,a,0\r\n"), true},
      {"error page", std::string("<html><body>404</body></html>"), false},
      {"upper-case error page", std::string("<HTML>\r\n"), false},
      {"error page after a blank", std::string("  <!DOCTYPE x><html>,1"), false},
      {"empty body", std::string(), false},
      {"empty first field", std::string(",1,2\r\n"), false},
      {"failed request", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path dest = dir.path() / "data_mhg/2013.csv";
    write_bytes(dest, "previous\r\n");
    FakeServer server;
    server.answers["u"] = c.body;
    std::string message = "stale";
    const int rc =
        download_one_file(server.get(), "u", dest.string(), dir.file("data.html"), message);
    EXPECT_EQ(rc, c.ok ? 0 : -1);
    EXPECT_EQ(message, c.ok ? "" : "エラー：ダウンロードできませんでした。");
    EXPECT_EQ(bytes_of(dest), c.ok ? *c.body : std::string("previous\r\n"));
    // The scratch file holds the last answer, good or bad.
    EXPECT_EQ(bytes_of(dir.path() / "data.html"), c.body.value_or(""));
  }
}

TEST(CheckInternet, TheMarkerWordDecides) {
  struct Case {
    const char* name;
    std::optional<std::string> page;
    bool connected;
  };
  const std::vector<Case> cases = {
      {"marker present", std::string("<html><title>Example Domain</title></html>"), true},
      {"marker split by a comma still joins", std::string("<p>Exam,ple Domain</p>"), true},
      {"another page", std::string("<html>captive portal</html>"), false},
      {"no answer", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    FakeServer server;
    server.answers[kPublicProbeUrl] = c.page;
    const ConnectionProbe probe = connection_probe(DownloadHost::maker, "http://x/");
    EXPECT_EQ(check_internet(server.get(), probe, dir.file("data.html")), c.connected);
  }
}

TEST(ConnectionProbe, TheLocalHostIsCheckedOnItself) {
  const ConnectionProbe local =
      connection_probe(DownloadHost::local, "http://localhost:8080/html/kabuka_db/");
  EXPECT_EQ(local.url, "http://localhost:8080/");
  EXPECT_EQ(local.marker, kPriceServerMarker);
  AppFolders f;
  f.db_url = "http://maker/kabu/kabu2/kabuka_db";
  EXPECT_EQ(download_base(DownloadHost::local, f), kLocalHostBase);
  EXPECT_EQ(download_base(DownloadHost::lan, f), "http://maker/kabu/kabu2/kabuka_db/");
  EXPECT_EQ(connection_probe(DownloadHost::lan, f.db_url).url, kPublicProbeUrl);
}

TEST(ScratchFile, FallsBackToTheProductFolder) {
  TempDir dir;
  EXPECT_EQ(scratch_file_path(dir.str(), "/p/"), dir.str() + "/data.html");
  EXPECT_EQ(scratch_file_path(dir.file("missing"), "/p/"), "/p/data.html");
}

// A whole run against a fake server holding one small year.
struct RunFixture {
  TempDir docs;
  FakeServer server;
  std::vector<std::pair<std::string, MessageColor>> messages;
  std::vector<std::string> statuses;
  int refreshes = 0, closes = 0;
  int quit_after_requests = -1;  // quit once this many files were requested
  DownloadHooks hooks;
  DownloadRequest request;
  std::string db() const { return docs.str() + "/db/"; }

  RunFixture() {
    const std::string b = "http://localhost:8080/html/kabuka_db/";
    server.answers["http://localhost:8080/"] = std::string("<h1>lumenpick-price-server</h1>");
    server.answers[b + "2013/data_mhg/2013.csv"] = std::string("2013,1,x\r\n1301,a,0\r\n");
    server.answers[b + "2013/data_dg/201301.csv"] =
        std::string("201301,1,x,x,x,x,x,x\r\n20130104,1,x,x,x,x,x,x\r\n1001,m,n,1,1,1,1,1\r\n");
    server.answers[b + "2013/data_dg/201302.csv"] = std::string("<html>not yet</html>");
    server.answers[b + "2013/data_mg/1000.csv"] =
        std::string("1000,1,x,x,x,x\r\n1001,d,n,x,20130104,1\r\n20130104,1,1,1,1,1\r\n");
    request.kind = DownloadKind::update;
    request.host = DownloadHost::local;
    request.today = "20130215";
    request.install_folder = docs.str();
    hooks.message = [this](const std::string& t, MessageColor c) { messages.emplace_back(t, c); };
    hooks.status = [this](const std::string& s) { statuses.push_back(s); };
    hooks.read_settings = [this] {
      AppFolders f;
      f.db_folder = db();
      f.app_folder = docs.str() + "/";
      return f;
    };
    hooks.refresh = [this] {
      ++refreshes;
      return true;
    };
    hooks.quit_requested = [this] {
      return quit_after_requests >= 0 &&
             static_cast<int>(server.requested.size()) >= quit_after_requests;
    };
    hooks.close_main = [this] { ++closes; };
  }
  DownloadOutcome run() { return run_download(request, server.get(), hooks); }
};

TEST(RunDownload, FetchesUnpacksCleansUpAndCountsFailures) {
  RunFixture f;
  const DownloadOutcome out = f.run();
  EXPECT_TRUE(out.connected);
  EXPECT_EQ(out.year, 2013);
  // Corrections, month 1, block 1 arrive; month 2 is an error page, blocks 2-9 are missing.
  EXPECT_EQ(out.fetched, 3);
  EXPECT_EQ(out.failed, 9);
  EXPECT_EQ(f.statuses, (std::vector<std::string>{"株価ダウンローﾄﾞ開始", "株価ダウンローﾄﾞ完了"}));
  EXPECT_EQ(f.refreshes, 1);
  EXPECT_EQ(f.closes, 0);
  const fs::path y = f.db() + "2013";
  EXPECT_TRUE(fs::exists(y / "data_d/20130104.csv"));
  EXPECT_TRUE(fs::exists(y / "data_m/1001.csv"));
  EXPECT_TRUE(fs::exists(y / "data_mh/1301.csv"));
  for (const char* staging : {"data_dg", "data_mg", "data_mhg"}) {
    EXPECT_FALSE(fs::exists(y / staging)) << staging;
  }
  ASSERT_GE(f.messages.size(), 3u);
  EXPECT_EQ(f.messages.front().first, "更新を開始しています。");
  EXPECT_EQ(f.messages[1].first, "2013年の補正情報のダウンロードしています。");
  EXPECT_EQ(f.messages.back().first, "ダウンロードを完了しました。（取得 3 件・失敗 9 件）");
  EXPECT_EQ(f.messages.back().second, MessageColor::blue);
}

TEST(RunDownload, NoConnectionChangesNothing) {
  RunFixture f;
  f.server.answers.erase("http://localhost:8080/");
  const DownloadOutcome out = f.run();
  EXPECT_FALSE(out.connected);
  EXPECT_TRUE(f.statuses.empty());
  EXPECT_FALSE(fs::exists(f.db()));
  EXPECT_EQ(f.messages.back().first,
            "Warning：インターネットに接続されていません。ご確認ください。");
  EXPECT_EQ(f.server.requested.size(), 1u);
}

TEST(RunDownload, TheQuitRequestStopsAfterTheCurrentFile) {
  RunFixture f;
  // Probe, corrections, month 1: the quit comes while month 1 is fetched.
  f.quit_after_requests = 3;
  const DownloadOutcome out = f.run();
  EXPECT_TRUE(out.stopped);
  EXPECT_EQ(f.closes, 1);
  EXPECT_EQ(f.server.requested.size(), 3u);
  EXPECT_EQ(f.refreshes, 0);
  // What arrived stays staged for the next download of the year.
  EXPECT_TRUE(fs::exists(f.db() + "2013/data_dg/201301.csv"));
}

TEST(RunDownload, NothingArrivedIsNotReportedAsSuccess) {
  RunFixture f;
  for (auto& [url, body] : f.server.answers) {
    if (url != "http://localhost:8080/") body = std::nullopt;
  }
  f.hooks.refresh = [] { return false; };
  const DownloadOutcome out = f.run();
  EXPECT_EQ(out.fetched, 0);
  EXPECT_EQ(f.messages.back().second, MessageColor::red);
  EXPECT_EQ(f.messages.back().first,
            "エラー：ダウンロードできたファイルはありません。（取得 0 件・失敗 12 件）");
  const auto it = std::find(
      f.messages.begin(), f.messages.end(),
      std::make_pair(std::string("株価データがありません。ご確認ください。"), MessageColor::red));
  EXPECT_NE(it, f.messages.end());
}

}  // namespace
}  // namespace lp
