#include "pricedb/unpack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;
using test::read_bytes;
using test::TempDir;
using test::write_bytes;

// Every file under the year's three database folders, with its bytes.
std::map<std::string, std::string> database_files(const fs::path& year) {
  std::map<std::string, std::string> out;
  for (const char* sub : {"data_d", "data_m", "data_mh"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(year / sub, ec)) {
      out[std::string(sub) + "/" + e.path().filename().string()] = read_bytes(e.path());
    }
  }
  return out;
}

struct Year {
  TempDir dir;
  fs::path year = dir.path() / "2013";
  Year() {
    for (const char* sub : {"data_d", "data_m", "data_mh"}) fs::create_directories(year / sub);
  }
  void stage(const std::string& rel, const std::string& bytes) { write_bytes(year / rel, bytes); }
  std::string folder() const { return year.string() + "/"; }
};

const std::string kCorrections =
    "2013,2,x\r\n"
    "1301,a,1\r\n"
    "20130401,1,10\r\n"
    "7203,b,0\r\n";
const std::string kDays =
    "201301,2,x,x,x,x,x,x\r\n"
    "20130104,2,x,x,x,x,x,x\r\n"
    "1001,\x93\x8c\x8f\xd8\x82\x50\x95\x94,\x83\x65\x83\x58\x83\x67,100,110,90,105,1000\r\n"
    "1301,\x93\x8c\x8f\xd8\x82\x50\x95\x94,\x83\x65\x83\x58\x83\x67,200,210,190,205,2000\r\n"
    "20130107,1,x,x,x,x,x,x\r\n"
    "1001,\x93\x8c\x8f\xd8\x82\x50\x95\x94,\x83\x65\x83\x58\x83\x67,105,111,101,110,1500\r\n";
const std::string kSeries =
    "1000,1,x,x,x,x\r\n"
    "1301,desc,name,x,20130107,2\r\n"
    "20130104,200,210,190,205,2000\r\n"
    "20130107,205,215,200,210,2100\r\n";

TEST(UnpackYear, WritesEveryBlockInOrderWithItsProgressTextsAndReruns) {
  Year y;
  y.stage("data_mhg/2013.csv", kCorrections);
  y.stage("data_dg/201301.csv", kDays);
  y.stage("data_mg/1000.csv", kSeries);
  std::vector<std::string> texts;
  UnpackHooks hooks;
  hooks.message = [&](const std::string& t) { texts.push_back(t); };
  unpack_year(y.folder(), hooks);
  EXPECT_EQ(texts,
            (std::vector<std::string>{
                "2013年の補正情報を株価データベースに登録しています。", "分割情報の処理完了",
                "2013年01月の日毎株価を株価データベースに登録しています。", "日毎株価の処理完了",
                "銘柄コード1000～1999の2013年の時系列株価を株価データベースに登録しています。",
                "unpack処理終了"}));

  const std::map<std::string, std::string> expected = {
      {"data_mh/1301.csv", "1301,a,1\r\n20130401,1,10\r\n"},
      // A correction block without lines is still a file: its header alone.
      {"data_mh/7203.csv", "7203,b,0\r\n"},
      {"data_d/20130104.csv",
       kDays.substr(kDays.find("20130104"), kDays.find("20130107,1") - kDays.find("20130104"))},
      {"data_d/20130107.csv", kDays.substr(kDays.find("20130107,1"))},
      // Code 1301 gets its file even though nothing of it existed before.
      {"data_m/1301.csv", kSeries.substr(kSeries.find("1301,"))},
  };
  EXPECT_EQ(database_files(y.year), expected);

  // A re-run rewrites every file whole (a file spoiled meanwhile is not merged) and gives the
  // same bytes, with no temporary file left beside them.
  write_bytes(y.year / "data_m/1301.csv", "garbage\r\n");
  unpack_year(y.folder());
  EXPECT_EQ(database_files(y.year), expected);
}

TEST(UnpackYear, EdgeCasesOfThePackedFiles) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> staged;
    std::map<std::string, std::string> expected;  // database files afterwards
  };
  const std::vector<Case> cases = {
      {"zero blocks write nothing", {{"data_dg/201301.csv", "201301,0,x,x,x,x,x,x\r\n"}}, {}},
      {"quotes and blanks go, bare LF becomes CR LF",
       {{"data_mhg/2013.csv", "2013,1,x\n\"1301\", \"a,b\" ,1\n20130401 ,1,10\n"}},
       {{"data_mh/1301.csv", "1301,a,b,1\r\n20130401,1,10\r\n"}}},
      {"lines are taken by field count, not by line end",
       {{"data_mhg/2013.csv", "2013,1,x\r\n1301,a,2\r\n20130401,1\r\n10,20130402,2,1\r\n"}},
       {{"data_mh/1301.csv", "1301,a,2\r\n20130401,1,10\r\n20130402,2,1\r\n"}}},
      {"a later monthly file replaces the same day",
       {{"data_dg/201301.csv",
         "201301,1,x,x,x,x,x,x\r\n20130131,1,x,x,x,x,x,x\r\n1001,m,n,1,1,1,1,1\r\n"},
        {"data_dg/201302.csv",
         "201302,1,x,x,x,x,x,x\r\n20130131,1,x,x,x,x,x,x\r\n1001,m,n,2,2,2,2,2\r\n"}},
       {{"data_d/20130131.csv", "20130131,1,x,x,x,x,x,x\r\n1001,m,n,2,2,2,2,2\r\n"}}},
      {"a half-rounded count reads as its even neighbour",
       {{"data_mhg/2013.csv", "2013,1,x\r\n1301,a,2.5\r\n20130401,1,10\r\n20130402,1,2\r\n"}},
       {{"data_mh/1301.csv", "1301,a,2.5\r\n20130401,1,10\r\n20130402,1,2\r\n"}}},
      // Every field is there, only the file's last line end is not: the block is whole.
      {"a complete last block without its final line end",
       {{"data_mhg/2013.csv", "2013,2,x\r\n1001,a,0\r\n1301,b,1\r\n20130401,1,10"}},
       {{"data_mh/1001.csv", "1001,a,0\r\n"},
        {"data_mh/1301.csv", "1301,b,1\r\n20130401,1,10\r\n"}}},
      // A broken transfer: the last block runs into the end of the file and is not written.
      {"a block cut short by the end of the file",
       {{"data_mhg/2013.csv", "2013,2,x\r\n1001,a,0\r\n1301,b,2\r\n20130401,1,10\r\n2013"}},
       {{"data_mh/1001.csv", "1001,a,0\r\n"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Year y;
    for (const auto& [rel, bytes] : c.staged) y.stage(rel, bytes);
    unpack_year(y.folder());
    EXPECT_EQ(database_files(y.year), c.expected);
  }
}

TEST(UnpackYear, ReadsOnlyTheNamesThePackedFilesAreSavedUnder) {
  Year y;
  const std::string stale_days = "201301,1,x,x,x,x,x,x\r\n20130107,0,stale,x,x,x,x,x\r\n";
  y.stage("data_dg/201301.csv", kDays);
  // Leftovers of a killed download and strangers: each would overwrite 20130107.csv.
  for (const char* name : {"201301.csv.tmp4242_7", ".201301.csv.4242_8.lptmp", "201301.csv~",
                           "201213.csv", "201201.csv", "2013013.csv"}) {
    y.stage(std::string("data_dg/") + name, stale_days);
  }
  y.stage("data_mhg/2012.csv", "2012,1,x\r\n1301,stale,0\r\n");
  y.stage("data_mg/1000.csv.tmp1_1", kSeries);
  y.stage("data_mg/10000.csv", kSeries);
  const UnpackStats stats = unpack_year(y.folder());
  EXPECT_EQ(stats.packed_files, 1);
  EXPECT_EQ(database_files(y.year),
            (std::map<std::string, std::string>{
                {"data_d/20130104.csv", read_bytes(y.year / "data_d/20130104.csv")},
                {"data_d/20130107.csv", read_bytes(y.year / "data_d/20130107.csv")}}));
  EXPECT_EQ(read_bytes(y.year / "data_d/20130107.csv").find("stale"), std::string::npos);
}

TEST(UnpackYear, TheQuitRequestStopsAfterTheCurrentPackedFile) {
  Year y;
  y.stage("data_dg/201301.csv", kDays);
  y.stage("data_dg/201302.csv", "201302,1,x,x,x,x,x,x\r\n20130201,0,x,x,x,x,x,x\r\n");
  y.stage("data_mg/1000.csv", kSeries);
  int closes = 0;
  UnpackHooks hooks;
  hooks.quit_requested = [] { return true; };
  hooks.close_main = [&] { ++closes; };
  const UnpackStats stats = unpack_year(y.folder(), hooks);
  EXPECT_TRUE(stats.stopped);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(stats.packed_files, 1);
  EXPECT_TRUE(fs::exists(y.year / "data_d/20130107.csv"));
  EXPECT_FALSE(fs::exists(y.year / "data_d/20130201.csv"));
  EXPECT_FALSE(fs::exists(y.year / "data_m/1301.csv"));
}

}  // namespace
}  // namespace lp
