// Export of the result list: the .xlsx opened back (its sheet XML read out of the zip) holds
// numbers as numbers and dates as dates under a bold frozen caption row; the CSV carries a
// byte order mark (or is CP932); a failed write leaves the old file.
#include "results/results_export.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "common/encoding.h"
#include "support/fixtures.h"

namespace lp::test {
namespace {

ResultTable sample_table(const std::string& caption) {
  ResultTable t;
  t.header = {"2",    "20250613", "銘柄",   caption,    "始値",       "高値",
              "安値", "終値",     "出来高", "前日引値", "前日出来高", "ポインタ"};
  t.rows.push_back({"1301", "東証1部", "極洋, 水産", "20250602", "300", "302", "299", "301.5",
                    "330400", "300", "16700", "5"});
  t.rows.push_back(
      {"7203", "東証1部", "トヨタ", "-", "2800", "2810", "2790", "2800", "0", "2805", "1000", "9"});
  return t;
}

std::string unzip(const std::string& zip, const std::string& member) {
  std::string out;
  const std::string cmd = "unzip -p '" + zip + "' '" + member + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// The <c> element of a cell, e.g. "I3".
std::string cell(const std::string& sheet, const std::string& ref) {
  std::smatch m;
  const std::regex re("<c r=\"" + ref + "\"[^>]*?(/>|>.*?</c>)");
  return std::regex_search(sheet, m, re) ? m.str(0) : std::string();
}

TEST(ResultsExport, XlsxHoldsNumbersDatesAndAFrozenBoldCaption) {
  TempDir dir;
  const std::string path = dir.str() + "/out.xlsx";
  ExportOptions o;
  o.screen_name = "押し目";
  std::string error;
  // Replacing a file the user made private: the workbook is built beside it, never under a
  // guessable name in the shared temporary folder, and the result stays private.
  write_bytes(path, "old");
  ::chmod(path.c_str(), 0600);
  const std::string shared_tmp = dir.file("tmp");
  std::filesystem::create_directories(shared_tmp);
  const char* old_tmpdir = std::getenv("TMPDIR");
  const std::string kept_tmpdir = old_tmpdir ? old_tmpdir : "";
  ::setenv("TMPDIR", shared_tmp.c_str(), 1);
  const bool exported = export_results(sample_table("最安値日付"), path, o, error);
  if (old_tmpdir) {
    ::setenv("TMPDIR", kept_tmpdir.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  ASSERT_TRUE(exported) << error;
  EXPECT_TRUE(std::filesystem::is_empty(shared_tmp));
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  const std::string sheet = unzip(path, "xl/worksheets/sheet1.xml");
  const std::string strings = unzip(path, "xl/sharedStrings.xml");
  const std::string workbook = unzip(path, "xl/workbook.xml");
  const std::string styles = unzip(path, "xl/styles.xml");
  ASSERT_FALSE(sheet.empty());
  EXPECT_NE(workbook.find("<sheet name=\"20250613\""), std::string::npos);
  EXPECT_NE(strings.find("最新取引日 2025/06/13　条件 押し目"), std::string::npos);
  EXPECT_NE(sheet.find("state=\"frozen\""), std::string::npos);
  EXPECT_NE(sheet.find("ySplit=\"2\""), std::string::npos);
  EXPECT_NE(styles.find("<b/>"), std::string::npos);

  const struct {
    const char* ref;
    const char* has;
  } cells[] = {
      {"A3", "<v>1</v>"},                   // No as a number
      {"I3", "<v>301.5</v>"},               // close
      {"J3", "<v>330400</v>"},              // volume
      {"E3", "<v>45810</v>"},               // 2025-06-02 as an Excel date serial
      {"M3", "<v>0.6666666666666666</v>"},  // (round(1.5) = 2) * 100 / 300
      {"B3", "t=\"s\""},                    // the code stays text
      {"E4", "t=\"s\""},                    // "-" is no number
  };
  for (const auto& c : cells) {
    const std::string xml = cell(sheet, c.ref);
    EXPECT_NE(xml.find(c.has), std::string::npos) << c.ref << ": " << xml;
    if (std::string(c.has).rfind("<v>", 0) == 0) {
      EXPECT_EQ(xml.find("t=\"s\""), std::string::npos) << c.ref;
    }
  }
  EXPECT_EQ(cell(sheet, "M4"), "");  // no trade on the day: no ratio
}

TEST(ResultsExport, CsvWithBomOrCp932AndQuoting) {
  TempDir dir;
  std::string error;
  ExportOptions o;
  ASSERT_TRUE(export_format_for(dir.str() + "/r.CSV", false, o.format));
  ASSERT_TRUE(export_results(sample_table("最安値日付"), dir.str() + "/r.csv", o, error));
  const std::string utf8 = read_bytes(dir.str() + "/r.csv");
  EXPECT_EQ(utf8.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(utf8.find("\r\n1,1301,東証1部,\"極洋, 水産\",2025/06/02,300,302,299,301.5,330400,300,"
                      "16700,0.67\r\n"),
            std::string::npos)
      << utf8;

  ASSERT_TRUE(export_format_for("x.csv", true, o.format));
  ASSERT_TRUE(export_results(sample_table("RSI"), dir.str() + "/s.csv", o, error));
  const std::string sjis = read_bytes(dir.str() + "/s.csv");
  EXPECT_NE(sjis.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(cp932_to_utf8(sjis).rfind("No,ｺｰﾄﾞ,市場,銘柄,RSI,", 0), 0u);
  EXPECT_FALSE(export_format_for("x.txt", false, o.format));
}

TEST(ResultsExport, FailedWriteSaysSoAndLeavesWhatWasThere) {
  TempDir dir;
  // A folder where the file should go cannot be replaced, and a missing folder cannot be
  // written into; either way the user hears of it and nothing is half-written.
  std::filesystem::create_directories(dir.file("taken.xlsx/inside"));
  const std::string targets[] = {dir.file("taken.xlsx"), dir.file("missing/out.xlsx"),
                                 dir.file("taken.xlsx/inside")};
  for (const std::string& path : targets) {
    for (ExportFormat f : {ExportFormat::xlsx, ExportFormat::csv_utf8}) {
      ExportOptions o;
      o.format = f;
      std::string error;
      EXPECT_FALSE(export_results(sample_table("RSI"), path, o, error)) << path;
      EXPECT_EQ(error, "「" + path + "」に書き込めません。");
    }
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.xlsx/inside")));
  // No temporary file is left behind.
  std::size_t entries = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 2u);
}

}  // namespace
}  // namespace lp::test
