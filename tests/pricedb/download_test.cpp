#include "pricedb/download.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/loopback_server.h"

namespace lp {
namespace {

namespace fs = std::filesystem;
using test::read_bytes;
using test::TempDir;
using test::write_bytes;

// A server that answers from a table and remembers what was asked, in order.
struct FakeServer {
  std::map<std::string, std::optional<std::string>> answers;
  std::vector<std::string> requested;
  HttpClient get() {
    return test::client_from([this](const std::string& url) -> std::optional<std::string> {
      requested.push_back(url);
      auto it = answers.find(url);
      return it == answers.end() ? std::nullopt : it->second;
    });
  }
};

std::vector<std::string> urls_of(const std::vector<FileRequest>& plan) {
  std::vector<std::string> out;
  for (const auto& f : plan) out.push_back(f.url);
  return out;
}

TEST(DownloadPlan, AddressSequencesOfBothCommands) {
  const std::string b = "http://h/kabuka_db/";
  auto blocks = [&](std::vector<std::string> urls, const std::string& y) {
    for (int k = 1; k <= 9; ++k)
      urls.push_back(b + y + "/data_mg/" + std::to_string(k) + "000.csv");
    return urls;
  };
  // Update in March: corrections, months 01-03, then the nine blocks.
  const std::vector<std::string> update_march =
      blocks({b + "2013/data_mhg/2013.csv", b + "2013/data_dg/201301.csv",
              b + "2013/data_dg/201302.csv", b + "2013/data_dg/201303.csv"},
             "2013");
  EXPECT_EQ(urls_of(download_plan(DownloadKind::update, b, 2013, "20130315")), update_march);
  // Chosen year 2010: corrections, the blocks, then all twelve months.
  std::vector<std::string> chosen_2010 = blocks({b + "2010/data_mhg/2010.csv"}, "2010");
  for (const char* mm : {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"}) {
    chosen_2010.push_back(b + "2010/data_dg/2010" + mm + ".csv");
  }
  EXPECT_EQ(urls_of(download_plan(DownloadKind::chosen_year, b, 2010, "20130315")), chosen_2010);
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
  const std::vector<std::pair<std::string, int>> chosen = {
      {"2010年", 2010}, {"1983年", 1983}, {"", 2013}, {"1982年", 2013}, {"2014年", 2013}};
  for (const auto& [entry, expected] : chosen) {
    EXPECT_EQ(download_year(DownloadKind::chosen_year, entry, "20130315"), expected) << entry;
  }
  EXPECT_EQ(download_year(DownloadKind::update, "2010年", "20130315"), 2013);
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
        download_one_file(server.get(), file_request("u"), dest.string(), dir.file("data.html"),
                          message);
    EXPECT_EQ(rc, c.ok ? 0 : -1);
    EXPECT_EQ(message, c.ok ? "" : "エラー：ダウンロードできませんでした。");
    EXPECT_EQ(read_bytes(dest), c.ok ? *c.body : std::string("previous\r\n"));
    // The scratch file holds the last answer, good or bad.
    EXPECT_EQ(read_bytes(dir.path() / "data.html"), c.body.value_or(""));
  }
}

TEST(CheckInternet, TheMarkerWordDecides) {
  const std::vector<std::pair<std::optional<std::string>, bool>> pages = {
      {std::string("<html><title>Example Domain</title></html>"), true},
      {std::string("<p>Exam,ple Domain</p>"), true},  // the fields are joined
      {std::string("<html>captive portal</html>"), false},
      {std::nullopt, false},
  };
  for (const auto& [page, connected] : pages) {
    SCOPED_TRACE(page.value_or("no answer"));
    TempDir dir;
    FakeServer server;
    server.answers[kPublicProbeUrl] = page;
    const ConnectionProbe probe = connection_probe(DownloadHost::maker, "http://x/");
    std::string reason;
    EXPECT_EQ(check_internet(server.get(), probe, dir.file("data.html"), {},
                             kDefaultFileTimeoutS, &reason),
              connected);
    // A failed check says why: the transfer's error or the missing word.
    EXPECT_EQ(reason.empty(), connected) << reason;
  }
}

TEST(ScratchFile, FallsBackToTheProductFolder) {
  TempDir dir;
  EXPECT_EQ(scratch_file_path(dir.str(), "/p/"), dir.str() + "/data.html");
  EXPECT_EQ(scratch_file_path(dir.file("missing"), "/p/"), "/p/data.html");
}

}  // namespace
}  // namespace lp
