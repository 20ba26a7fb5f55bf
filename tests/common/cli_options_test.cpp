#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cli_options.h"

namespace lp::cli {
namespace {

using Words = std::vector<std::string>;

std::string describe(const std::vector<OptionRule>& rules) {
  std::string out;
  for (const OptionRule& s : rules) {
    if (!out.empty()) out += " ";
    out += s.name;
    out += s.kind == OptionKind::value ? "=V" : s.kind == OptionKind::optional_value ? "=[V]" : "";
  }
  return out;
}

TEST(CliOptions, UsageTextDeclaresEachOptionAndWhetherItTakesAValue) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"settings", ""},
      {"series CODE --end YYYYMMDD --days N [--no-adjust] [--calendar]",
       "--end=V --days=V --no-adjust --calendar"},
      {"delete-year YEAR --yes", "--yes"},
      {"download current|YEAR --host maker|lan|local [--base URL]", "--host=V --base=V"},
      {"results [--page N|all] [--sort COLUMN[,COLUMN...]]", "--page=V --sort=V"},
      {"screen [--init FILE] [--markets 0,1,2] [--set NAME=VALUE ...]",
       "--init=V --markets=V --set=V"},
      {"chart CODE --out|--png FILE.png [--width W --height H | --size WxH] [--alg1] "
       "[--ratio [REF]] [--no-volume]",
       "--out=V --png=V --width=V --height=V --size=V --alg1 --ratio=[V] --no-volume"},
      {"portfolio-add N CODE --date D --shares S --price P [--raw]",
       "--date=V --shares=V --price=V --raw"},
      {"tool [--level=N] [--verbose] [--name [X]] [--quiet]",
       "--level=V --verbose --name=[V] --quiet"},
      // A flag followed by a bracketed group stays a flag; "--x --y" are two flags.
      {"cmd --force [--dry-run] --a --b", "--force --dry-run --a --b"},
  };
  for (const auto& [usage, want] : cases) {
    EXPECT_EQ(describe(options_from_usage(usage)), want) << usage;
  }
}

TEST(CliOptions, CommandWordsAreCheckedAgainstTheUsage) {
  const auto rules = options_from_usage(
      "chart CODE --out FILE [--period N] [--alg1] [--ratio [REF]] [--set NAME=VALUE ...]");
  struct Case {
    Words words;
    Words args;         // normalised, when accepted
    std::string error;  // when refused
  };
  const std::vector<Case> cases = {
      {{"1301", "--out", "a.png"}, {"1301", "--out", "a.png"}, ""},
      {{"--out=a.png", "1301"}, {"--out", "a.png", "1301"}, ""},
      {{"1301", "--out", "a.png", "--period=30", "--alg1"},
       {"1301", "--out", "a.png", "--period", "30", "--alg1"}, ""},
      // "=" keeps everything after the first one, even another "=" or an empty value.
      {{"--set=pr_chk(8)=1", "--set", "x=2"}, {"--set", "pr_chk(8)=1", "--set", "x=2"}, ""},
      {{"--out="}, {"--out", ""}, ""},
      // A word with one dash is a word (a negative number), not an option.
      {{"-5", "--period", "-5"}, {"-5", "--period", "-5"}, ""},
      // The optional value is the command's to take; "=" hands it over explicitly.
      {{"1301", "--ratio", "500"}, {"1301", "--ratio", "500"}, ""},
      {{"1301", "--ratio=500"}, {"1301", "--ratio", "500"}, ""},
      {{"1301", "--bogus"}, {}, "不明なオプションです: --bogus"},
      {{"1301", "--bogus=1"}, {}, "不明なオプションです: --bogus"},
      {{"1301", "--out"}, {}, "--out には値が必要です"},
      {{"1301", "--out", "--alg1"}, {}, "--out には値が必要です"},
      {{"1301", "--alg1=yes"}, {}, "--alg1 には値を付けません"},
      // Options are matched whole, never by prefix.
      {{"1301", "--per", "5"}, {}, "不明なオプションです: --per"},
  };
  for (const Case& c : cases) {
    const CheckedArgs got = check_options(c.words, rules);
    EXPECT_EQ(got.error, c.error) << ::testing::PrintToString(c.words);
    if (c.error.empty()) {
      EXPECT_EQ(got.args, c.args) << ::testing::PrintToString(c.words);
    }
  }
  // Dates are dates of the calendar, and a span runs forwards.
  const auto dated = options_from_usage("sync [--from YYYYMMDD] [--to YYYYMMDD] [--count N]");
  const std::vector<std::pair<Words, std::string>> dates = {
      {{"--from", "20240229", "--to", "20240229"}, ""},
      {{"--from=20240101"}, ""},
      {{"--count", "20240230"}, ""},
      {{"--from", "20240230"}, "--from の日付 20240230 は暦にありません"},
      {{"--to=20230229"}, "--to の日付 20230229 は暦にありません"},
      {{"--from", "2024-01-01"}, "--from の日付 2024-01-01 は暦にありません"},
      {{"--to", "20250101", "--from", "20250102"}, "--from 20250102 が --to 20250101 より後です"},
  };
  for (const auto& [words, error] : dates) {
    const CheckedArgs got = check_options(words, dated);
    EXPECT_EQ(got.error.substr(0, error.size()), error) << ::testing::PrintToString(words);
    EXPECT_EQ(got.error.empty(), error.empty()) << ::testing::PrintToString(words);
  }
}

TEST(CliOptions, GlobalOptionsStandBeforeOrAfterTheCommand) {
  const Words globals = {"--documents", "--today"};
  struct Case {
    Words argv;
    std::string command;
    std::string documents, today;  // "-" when not given
    Words words;
    bool help;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"--documents", "/d", "series", "1301", "--end", "20250101"},
       "series", "/d", "-", {"1301", "--end", "20250101"}, false, ""},
      {{"series", "1301", "--documents=/d", "--end", "20250101", "--today", "20250102"},
       "series", "/d", "20250102", {"1301", "--end", "20250101"}, false, ""},
      {{"--today=20250102", "--documents", "/d", "settings"}, "settings", "/d", "20250102", {},
       false, ""},
      {{"series", "--help"}, "series", "-", "-", {}, true, ""},
      {{"--help", "series"}, "series", "-", "-", {}, true, ""},
      {{"--help"}, "", "-", "-", {}, true, ""},
      {{}, "", "-", "-", {}, false, ""},
      // Command options stay with the command, whatever their place.
      {{"rank", "--write-results", "前日比上率ﾄｯﾌﾟ25"}, "rank", "-", "-",
       {"--write-results", "前日比上率ﾄｯﾌﾟ25"}, false, ""},
      {{"--end", "2025", "series"}, "", "-", "-", {}, false, "不明なオプションです: --end"},
      {{"settings", "--documents"}, "settings", "-", "-", {}, false, "--documents には値が必要です"},
      {{"--documents", "--today", "20250101", "settings"}, "", "-", "-", {}, false,
       "--documents には値が必要です"},
      {{"settings", "--documents="}, "settings", "-", "-", {}, false,
       "--documents には値が必要です"},
  };
  for (const Case& c : cases) {
    const CommandLine got = split_command_line(c.argv, globals);
    const std::string where = ::testing::PrintToString(c.argv);
    EXPECT_EQ(got.error, c.error) << where;
    if (!c.error.empty()) continue;
    EXPECT_EQ(got.command, c.command) << where;
    ASSERT_EQ(got.globals.size(), 2u);
    EXPECT_EQ(got.globals[0].given ? got.globals[0].value : "-", c.documents) << where;
    EXPECT_EQ(got.globals[1].given ? got.globals[1].value : "-", c.today) << where;
    EXPECT_EQ(got.words, c.words) << where;
    EXPECT_EQ(got.help, c.help) << where;
  }
}

}  // namespace
}  // namespace lp::cli
