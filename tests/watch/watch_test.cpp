// Watched screens: the history file, 新規/除外 across a gap day and a delisting, the universe,
// a run repeated, a screen that cannot run, the report's page and the timer's unit files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "common/csv.h"
#include "common/encoding.h"
#include "portfolio/portfolio_model.h"
#include "pricedb/fins_store.h"
#include "pricedb/sectors.h"
#include "screening/formula/formula_step.h"
#include "screening/saved_screens.h"
#include "screening/screening_fixture.h"
#include "support/fixtures.h"
#include "support/process.h"
#include "watch/watch_daily.h"
#include "watch/watch_report.h"
#include "watch/watch_run.h"
#include "watch/watch_schedule.h"

namespace lp::watch {
namespace {

namespace fs = std::filesystem;
using test::kGap;

TEST(WatchHistory, FileFormRoundTripsAndRefusesWhatWouldBreakIt) {
  struct Case {
    const char* what;
    std::vector<Block> blocks;
    std::string text;  // UTF-8 file text
  };
  const std::vector<Case> cases = {
      {"a day without hits is its date alone",
       {{"20250612", {}}, {"20250613", {{"1301", "極洋", "250", "-"}}}},
       "20250612\r\n20250613\r\n1301,極洋,250,-\r\n"},
      {"blocks are kept in date order",
       {{"20250613", {}}, {"20250611", {{"130A", "新", "9", "1.5"}}}},
       "20250611\r\n130A,新,9,1.5\r\n20250613\r\n"},
      {"a comma in a name becomes a full-width one, quotes and breaks go",
       {{"20250613", {{"1301", "A,B\"C\r\nD", "1", ""}}}},
       "20250613\r\n1301,A，BCD,1,-\r\n"},
  };
  for (const Case& c : cases) {
    std::vector<Block> sorted = c.blocks;
    std::sort(sorted.begin(), sorted.end(),
              [](const Block& a, const Block& b) { return a.date < b.date; });
    EXPECT_EQ(history_text(sorted), c.text) << c.what;
    const std::vector<Block> back = parse_history(c.text);
    ASSERT_EQ(back.size(), sorted.size()) << c.what;
    for (std::size_t i = 0; i < back.size(); ++i) EXPECT_EQ(back[i].date, sorted[i].date);
  }
  // A date written twice by hand keeps its first block; lines before any date and lines that
  // are not hit lines are no hits, each with a warning.
  struct Bad {
    const char* what;
    std::string text;
    std::vector<std::string> codes;  // of the one block
    std::size_t warnings;
  };
  const std::vector<Bad> bad = {
      {"repeated date, line before any date",
       "1301,x,1,-\r\n20250613\r\n1301,a,1,-\r\n20250613\r\n1332,b,2,-\r\n",
       {"1301"},
       1},
      {"garbage lines",
       "20250613\r\nhello world\r\n1301,a,1,-\r\n<<<<<<< HEAD\r\n1332,b\r\n",
       {"1301"},
       3},
  };
  for (const Bad& b : bad) {
    std::vector<std::string> warnings;
    const auto blocks = parse_history(b.text, &warnings);
    ASSERT_EQ(blocks.size(), 1u) << b.what;
    std::vector<std::string> got;
    for (const Hit& h : blocks[0].hits) got.push_back(h.code);
    EXPECT_EQ(got, b.codes) << b.what;
    EXPECT_EQ(warnings.size(), b.warnings) << b.what;
  }
}

TEST(WatchHistory, AddedDaysAreTheNewestOnesOldestFirst) {
  struct Case {
    std::vector<std::string> before, after;
    int limit;
    std::vector<std::string> want;
  };
  const std::vector<Case> cases = {
      {{"20250610"}, {"20250610", "20250611", "20250612"}, 20, {"20250611", "20250612"}},
      {{}, {"20250613", "20250611", "20250612"}, 2, {"20250612", "20250613"}},
      {{"20250610", "20250611"}, {"20250610", "20250611"}, 20, {}},
      // A backfill of older days counts too: they were added.
      {{"20250612"}, {"20250609", "20250610", "20250612"}, 20, {"20250609", "20250610"}},
      {{}, {"20250611", "20250612"}, 1, {"20250612"}},
  };
  for (const Case& c : cases) EXPECT_EQ(added_days(c.before, c.after, c.limit), c.want);
}

// Six weekdays; screens run as of the last three. 1301 rises through 100 on day 3, 1302 trades
// above 100 and falls below it on the last day, 1303 misses day 5 (no row), 1306 trades nothing
// on day 5 (a row of volume 0), 1305 is listed on the last day and 1304 never passes.
class WatchRun : public ::testing::Test {
 protected:
  void SetUp() override {
    m.add({"1301", "東証1部", "甲", {90, 90, 90, 110, 120, 130}});
    m.add({"1302", "東証1部", "乙", {150, 150, 150, 150, 140, 90}});
    m.add({"1303", "東証1部", "丙", {150, 150, 150, 150, kGap, 150}});
    m.add({"1304", "東証1部", "丁", {50, 50, 50, 50, 50, 50}});
    m.add({"1305", "東証1部", "戊", {120}});
    m.add({"1306", "東証1部", "己", {150, 150, 150, 150, kGap, 150}});
    m.write();
    // Day files of every day (the fixture writes the last one only), the index first: 100,
    // and 110 on the last day.
    for (std::size_t d = 0; d < m.dates.size(); ++d) {
      CsvWriter w;
      std::vector<const test::StockDef*> traded;
      for (const auto& s : m.stocks) {
        const std::size_t offset = m.dates.size() - s.closes.size();
        if (d >= offset + s.closes.size() || d < offset) continue;
        if (!std::isnan(s.closes[d - offset]) || s.code == "1306") traded.push_back(&s);
      }
      w.field(m.dates[d]).field(static_cast<long long>(traded.size() + 1));
      for (int i = 0; i < 6; ++i) w.field("0");
      w.end_line();
      const std::string index = d + 1 == m.dates.size() ? "110" : "100";
      w.fields({"1001", "指数", "基準", index, index, index, index}).field(0LL).end_line();
      for (const auto* s : traded) {
        const double close = s->closes[d - (m.dates.size() - s->closes.size())];
        const std::string c = std::isnan(close) ? "" : format_decimal(close);
        w.fields({s->code, s->market, s->name, c, c, c, c})
            .field(std::isnan(close) ? 0LL : 1000LL)
            .end_line();
      }
      w.commit(day_file_path(m.folders.db_folder, m.dates[d]));
    }
    fs::create_directories(m.folders.user_folder);
  }

  void save(const std::string& name, const std::string& formula, const std::string& universe = {},
            const std::string& show = {}) {
    screening::ControlSet c = screening::ControlSet::with_builtins();
    for (int i = 0; i < 6; ++i) c.set_checked(screening::indexed("shijyou_chk", i), true);
    c.set_checked(screening::indexed("pr_chk", 41), true);
    c.set_text(screening::formula_text_control(41), formula);
    c.set_text(screening::formula_show_control(41), show);
    std::string error;
    ASSERT_TRUE(screening::save_screen(m.folders.user_folder, name, c, {true, universe}, error))
        << error;
  }

  RunOutcome run(std::vector<std::string> days) {
    RunRequest r;
    r.platform = m.platform();
    r.days = std::move(days);
    return run_watched(r);
  }

  std::vector<std::string> codes(const std::vector<Hit>& hits) {
    std::vector<std::string> out;
    for (const Hit& h : hits) out.push_back(h.code);
    return out;
  }

  std::string day(int i) const { return m.dates[m.dates.size() - 1 - static_cast<std::size_t>(i)]; }

  test::MiniMarket m{6};
};

TEST_F(WatchRun, BlocksAndChangesAcrossDaysWithoutTradesAndARealDropOut) {
  save("上", "C > 100", {}, "C");
  const RunOutcome first = run({day(1), day(0)});
  ASSERT_EQ(first.failed_count(), 0) << first.screens[0].error;
  // The first run seeds the day before the first day, so day(1) has a real yesterday.
  EXPECT_EQ(first.screens[0].days_written, (std::vector<std::string>{day(2), day(1), day(0)}));
  const auto h = read_history(m.folders.user_folder, "上");
  ASSERT_EQ(h.size(), 3u);
  struct Want {
    int day;
    std::vector<std::string> hits, entered, dropped, continuing;
  };
  const std::vector<Want> wants = {
      {2, {"1301", "1302", "1303", "1306"}, {}, {}, {}},
      // 1303 did not trade (no row): no drop-out for that. 1306 (volume 0) is judged on its
      // last trade, as a formula reads traded days only.
      {1, {"1301", "1302", "1306"}, {}, {}, {"1301", "1302", "1306"}},
      // Back on the next day they continue; 1302 really left; 1305 was listed.
      {0, {"1301", "1303", "1305", "1306"}, {"1305"}, {"1302"}, {"1301", "1303", "1306"}},
  };
  for (const Want& w : wants) {
    const Block* b = find_block(h, day(w.day));
    ASSERT_NE(b, nullptr) << w.day;
    EXPECT_EQ(codes(b->hits), w.hits) << w.day;
    if (w.day == 2) continue;
    const Changes c = compare_day(h, day(w.day), day_file_trades(m.folders.db_folder));
    EXPECT_EQ(codes(c.entered), w.entered) << w.day;
    EXPECT_EQ(codes(c.dropped), w.dropped) << w.day;
    EXPECT_EQ(codes(c.continuing), w.continuing) << w.day;
  }
  // A screen on the day's own volume drops 1306 on its day of volume 0: it is no drop-out
  // then, nor new the day after.
  const std::string by_volume =
      day(2) + "\r\n1306,己,150,-\r\n" + day(1) + "\r\n" + day(0) + "\r\n1306,己,150,-\r\n";
  test::write_cp932(history_path(m.folders.user_folder, "出来高"), by_volume);
  const auto v = read_history(m.folders.user_folder, "出来高");
  for (int d : {1, 0}) {
    const Changes c = compare_day(v, day(d), day_file_trades(m.folders.db_folder));
    EXPECT_TRUE(c.entered.empty() && c.dropped.empty()) << d;
    EXPECT_EQ(codes(c.continuing),
              d == 0 ? std::vector<std::string>{"1306"} : std::vector<std::string>{})
        << d;
  }
  // A drop-out keeps yesterday's name and close; the value is the 表示 formula's.
  const Changes last = first.screens[0].changes;
  ASSERT_EQ(codes(last.dropped), (std::vector<std::string>{"1302"}));
  EXPECT_EQ(last.dropped[0].name, "乙");
  EXPECT_EQ(last.dropped[0].close, "140");
  EXPECT_EQ(last.entered[0].value, "120.00") << "stored as shown: two decimals";
  EXPECT_EQ(first.entered_count(), 1);
  std::string title, body;
  ASSERT_TRUE(notification_text(first, title, body));
  EXPECT_EQ(title, "LumenPick: 新規 1 銘柄");
  EXPECT_EQ(body, "上: 1305 戊");

  // The same days again (a second daily on the same day): nothing written, nothing to notify.
  const std::string bytes = test::read_bytes(history_path(m.folders.user_folder, "上"));
  const RunOutcome again = run({day(1), day(0)});
  EXPECT_EQ(again.blocks_written, 0);
  EXPECT_FALSE(notification_text(again, title, body));
  EXPECT_EQ(test::read_bytes(history_path(m.folders.user_folder, "上")), bytes);
}

// Two runs at once (the timer's and the window's): the one that writes a day reports and
// notifies it; the other, which ran the same day meanwhile, neither.
TEST_F(WatchRun, TwoRunsAtOnceReportEachDayOnce) {
  save("上", "C > 100", {}, "C");
  RunOutcome first;
  RunRequest late;
  late.platform = m.platform();
  late.days = {day(1), day(0)};
  late.status = [&](const std::string& text) {
    if (first.screens.empty() && text.find("実行中") != std::string::npos)
      first = run({day(1), day(0)});
  };
  const RunOutcome second = run_watched(late);
  EXPECT_EQ(first.entered_count(), 1);
  EXPECT_EQ(second.blocks_written, 0);
  EXPECT_EQ(second.entered_count(), 0);
  EXPECT_EQ(read_history(m.folders.user_folder, "上").size(), 3u);
}

// A daily run catches a screen up on every day missing since its newest block, whatever the
// update added; what cannot be a day that ran is left out with a warning.
TEST_F(WatchRun, DailyRunCatchesUpEveryMissedDay) {
  struct Case {
    const char* what;
    std::string history;  // file text before the run, "" for none
    std::vector<std::string> added;
    int limit;
    std::vector<int> want_days;    // what daily_days gives (day(i))
    std::vector<int> want_blocks;  // blocks held after the run
    std::size_t warnings;
  };
  const std::string d3 = day(3) + "\r\n1301,甲,110,-\r\n";
  const std::vector<Case> cases = {
      {"two days missed: all three run", d3, {day(0)}, 20, {2, 1, 0}, {3, 2, 1, 0}, 0},
      {"the update added nothing new", d3, {}, 20, {2, 1, 0}, {3, 2, 1, 0}, 0},
      {"capped at the newest days", d3, {day(0)}, 2, {1, 0}, {3, 2, 1, 0}, 0},
      {"first watched: the newest day only", "", {}, 20, {0}, {1, 0}, 0},
      {"a future block and a garbage line are no days",
       d3 + "garbage\r\n20991231\r\n1304,丁,50,-\r\n",
       {},
       20,
       {2, 1, 0},
       {3, 2, 1, 0},
       2},
  };
  for (const Case& c : cases) {
    fs::remove_all(watch_folder(m.folders.user_folder));
    save("上", "C > 100");
    if (!c.history.empty()) {
      fs::create_directories(watch_folder(m.folders.user_folder));
      test::write_cp932(history_path(m.folders.user_folder, "上"), c.history);
    }
    const std::vector<std::string> days =
        daily_days(m.folders.user_folder, c.added, trading_dates(m.folders), c.limit);
    std::vector<std::string> want;
    for (int i : c.want_days) want.push_back(day(i));
    EXPECT_EQ(days, want) << c.what;
    const RunOutcome out = run(days);
    EXPECT_EQ(out.failed_count(), 0) << c.what;
    EXPECT_EQ(out.day, day(0)) << c.what;
    EXPECT_EQ(out.warnings.size(), c.warnings) << c.what;
    const auto h = read_history(m.folders.user_folder, "上", day(0));
    std::vector<std::string> held, want_held;
    for (const Block& b : h) held.push_back(b.date);
    for (int i : c.want_blocks) want_held.push_back(day(i));
    EXPECT_EQ(held, want_held) << c.what;
  }
}

TEST_F(WatchRun, UniversesAndScreensThatCannotRun) {
  portfolio::Holding held{"1302", "100", "100", "20240101", "", "-"};
  ASSERT_TRUE(portfolio::save_holdings(portfolio::holdings_path(m.folders.user_folder, 1), {held}));
  save("codes", "C > 100", "1301, 1303");
  save("ptf", "C > 100", "ptf1");
  save("gone", "C > 100", "ptf2");  // a portfolio never made
  save("bad", "C > 100");
  // A formula broken by hand in the file.
  const std::string bad_path = screening::screens_folder(m.folders.user_folder) + "bad.txt";
  std::string text = test::read_cp932(bad_path);
  text.replace(text.find("C > 100"), 7, "C > (");
  test::write_cp932(bad_path, text);
  save("off", "C > 0");
  std::string error;
  ASSERT_TRUE(screening::write_screen_marks(m.folders.user_folder, "off", {false, ""}, error));

  const RunOutcome out = run({day(1)});
  struct Want {
    const char* screen;
    bool ok;
    std::vector<std::string> hits;  // of day(1)
  };
  const std::vector<Want> wants = {
      {"bad", false, {}},
      {"codes", true, {"1301"}},  // 1303 did not trade that day
      {"gone", false, {}},
      {"ptf", true, {"1302"}},
  };
  ASSERT_EQ(out.screens.size(), wants.size());  // "off" is not watched
  const auto problems = read_problems(m.folders.user_folder);
  for (std::size_t i = 0; i < wants.size(); ++i) {
    const Want& w = wants[i];
    EXPECT_EQ(out.screens[i].name, w.screen);
    EXPECT_EQ(out.screens[i].error.empty(), w.ok) << w.screen << ": " << out.screens[i].error;
    const bool listed = std::any_of(problems.begin(), problems.end(),
                                    [&](const Problem& p) { return p.screen == w.screen; });
    EXPECT_EQ(listed, !w.ok) << w.screen;
    const auto h = read_history(m.folders.user_folder, w.screen);
    if (!w.ok) {
      EXPECT_TRUE(h.empty()) << "no partial block for " << w.screen;
      continue;
    }
    const Block* b = find_block(h, day(1));
    ASSERT_NE(b, nullptr) << w.screen;
    EXPECT_EQ(codes(b->hits), w.hits) << w.screen;
  }
  // The report names the failure and its reason; the history of a screen no longer watched
  // is left alone.
  const auto days = screen_days(m.folders.user_folder, day(1));
  const std::string html = report_html(day(1), days, market_summary(m.folders, day(1)), {});
  EXPECT_NE(html.find("実行できませんでした"), std::string::npos);
  EXPECT_NE(html.find("ptf2"), std::string::npos);
  EXPECT_TRUE(read_history(m.folders.user_folder, "off").empty());
}

TEST_F(WatchRun, FoldersThatAreLinksAreNotWrittenThrough) {
  save("上", "C > 100");
  for (const char* sub : {"watch", "reports"}) {
    test::TempDir elsewhere;
    const std::string link = m.folders.user_folder + sub;
    fs::remove_all(link);
    ASSERT_EQ(::symlink(elsewhere.str().c_str(), link.c_str()), 0);
    const RunOutcome out = run({day(1)});
    std::string path, error;
    const bool reported = write_report(m.folders, day(1), {}, path, error);
    EXPECT_EQ(out.screens.at(0).error.empty(), std::string(sub) != "watch") << sub;
    EXPECT_EQ(reported, std::string(sub) != "reports") << sub;
    EXPECT_TRUE(fs::is_empty(elsewhere.str())) << sub;
    fs::remove(link);
  }
}

TEST_F(WatchRun, ReportPutsNewEntrantsFirstWithAChartEachAndTheMarket) {
  save("上", "C > 100", {}, "C * 100 / 3");
  run({day(0)});
  int drawn = 0;
  const ChartPicture chart = [&](const std::string& code, const std::string& date) {
    ++drawn;
    return code == "1303" && date == day(0) ? std::string("\x89PNG-1303") : std::string();
  };
  // 1303's results and industry: at its close 150, PER 150 / 10, PBR 150 / 300, yield 6 / 150,
  // 15 億円 for ten million shares.
  fins::Disclosure d;
  for (auto [col, text] : std::initializer_list<std::pair<int, std::string>>{
           {fins::DiscDate, m.dates.front()},
           {fins::Code, "1303"},
           {fins::DocType, "FYFinancialStatements_Consolidated_JP"},
           {fins::NxtFYEn, "20991231"},
           {fins::NxFEPS, "10"},
           {fins::BPS, "300"},
           {fins::NxFDivAnn, "6"},
           {fins::ShOutFY, "10000000"}}) {
    d.set(col, text);
  }
  fins::StoreStats stats;
  std::string error;
  ASSERT_TRUE(fins::store_disclosures(m.folders.db_folder, {d}, stats, error)) << error;
  ASSERT_TRUE(sectors::store_sectors(
      m.folders.db_folder,
      {{std::stoi(day(0)), {{"1303", {0, "9", "電機・精密", "3650", "電気機器", "東証1部"}}}}},
      error))
      << error;
  HitValuation valuation(SeriesSource::from(m.folders), day(0));
  const std::string html =
      report_html(day(0),
                  screen_days(m.folders.user_folder, day(0), day_file_trades(m.folders.db_folder),
                              m.folders.db_folder,
                              [&](const std::string& screen, const std::vector<std::string>& c) {
                                return values_as_of(m.platform(), nullptr, screen, day(0), c);
                              }),
                  market_summary(m.folders, day(0)), chart, {}, &valuation);
  EXPECT_NE(html.find("<th>予想PER</th><th>PBR</th><th>予想利回り</th><th>時価総額(億円)</th>"
                      "<th>業種</th>"),
            std::string::npos);
  EXPECT_NE(html.find("<td class=\"num\">15.0</td><td class=\"num\">0.50</td><td "
                      "class=\"num\">4.00</td><td class=\"num\">15</td><td>電気機器</td>"),
            std::string::npos)
      << html.substr(html.find("1303"), 400);
  // 1303 (no trade on the day before, nothing older to compare with) and 1305 (listed).
  EXPECT_EQ(drawn, 2) << "charts are drawn for new entrants only";
  EXPECT_NE(html.find("data:image/png;base64," + base64("\x89PNG-1303")), std::string::npos);
  // 新規 and 除外 first, the 継続 folded after them.
  const auto entered = html.find(">新規<"), kept = html.find(">継続<"),
             dropped = html.find(">除外<"), folded = html.find("<details");
  ASSERT_NE(entered, std::string::npos);
  EXPECT_LT(entered, dropped);
  EXPECT_LT(dropped, folded);
  EXPECT_LT(folded, kept);
  EXPECT_NE(html.find("<summary>継続 2 銘柄</summary>"), std::string::npos);
  // 1301 at 130: 130 * 100 / 3 = 4333.33 with its separator; 1302 left at 140 and closed at
  // 90 today: today's close and value (90 * 100 / 3 = 3000) beside yesterday's.
  EXPECT_NE(html.find(">4,333.33<"), std::string::npos);
  EXPECT_NE(html.find(">90 <span class=\"prev\">（前日 140）</span><"), std::string::npos);
  EXPECT_NE(html.find(">3,000.00 <span class=\"prev\">（前日 4,666.67）</span><"),
            std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos) << "nothing from the network";
  const MarketSummary s = market_summary(m.folders, day(0));
  // 1301 120 -> 130 up, 1302 140 -> 90 down, 1304 unchanged; 1303, 1305 and 1306 did not
  // trade yesterday.
  EXPECT_EQ(s.advancers, 1);
  EXPECT_EQ(s.decliners, 1);
  EXPECT_EQ(s.unchanged, 1);
  // The index 100 -> 110: +10, 10 / 100 = +10.00 %.
  ASSERT_TRUE(s.reference_found);
  EXPECT_EQ(s.reference_change, 10);
  EXPECT_DOUBLE_EQ(s.reference_change_pct, 10);
  EXPECT_NE(html.find(">110</div><div class=\"up\">+10（+10.00%）</div>"), std::string::npos);
}

TEST(WatchReport, TextsAreEscapedAndPicturesEncoded) {
  const std::vector<std::pair<std::string, std::string>> b64 = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}};
  for (const auto& [in, want] : b64) EXPECT_EQ(base64(in), want) << in;
  EXPECT_EQ(html_escape("<a href=\"x\">&'\x01"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
  // The Free plan's delay stands in the page's title and heading.
  MarketSummary market;
  market.data_age = "2026/09/11 分のデータ (12週遅れ)";
  const std::string html = report_html("20260911", {}, market, {});
  EXPECT_NE(html.find("<h1>監視レポート　2026年9月11日　2026/09/11 分のデータ (12週遅れ)</h1>"),
            std::string::npos);
  EXPECT_NE(html.find("<title>LumenPick 監視レポート 2026年9月11日　2026/09/11 分のデータ"),
            std::string::npos);
  // The 表示 value to two decimals (separators but in a CSV), prices with separators.
  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> shown = {
      {"1234.5678", "1,234.57", "1234.57", "1,234.57"},
      {"-0.005", "-0.01", "-0.01", "-0.01"},
      {"120", "120.00", "120.00", "120"},
      {"999.999", "1,000.00", "1000.00", "1,000"},
      {"-", "-", "-", "-"},
      {" 7 ", "7.00", "7.00", "7"},
  };
  for (const auto& [in, grouped, plain, price] : shown) {
    EXPECT_EQ(shown_value(in, true), grouped) << in;
    EXPECT_EQ(shown_value(in, false), plain) << in;
    EXPECT_EQ(shown_price(in), price) << in;
  }
}

TEST(WatchNotification, CountsEachStockOnceNamesItAndIsSafeMarkup) {
  const Hit toyota{"7203", "トヨタ自動車", "3000", "-"};
  const Hit sony{"6758", "ソニーグループ", "3500", "-"};
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::vector<Hit>>> entered;
    std::string title, body;
  };
  const std::vector<Case> cases = {
      {"one screen, five stocks",
       {{"上抜け",
         {toyota,
          sony,
          {"1301", "極洋", "1", "-"},
          {"1332", "ニッスイ", "1", "-"},
          {"9984", "ソフトバンクG", "1", "-"}}}},
       "LumenPick: 新規 5 銘柄",
       "上抜け: 7203 トヨタ自動車 ほか4銘柄"},
      {"a stock new in two screens is one stock",
       {{"上抜け", {toyota, sony}}, {"出来高", {toyota}}},
       "LumenPick: 新規 2 銘柄",
       "上抜け: 7203 トヨタ自動車 ほか1銘柄\n出来高: 7203 トヨタ自動車"},
      {"markup escaped, bidi controls and control characters dropped",
       {{"R&D <b>",
         {{"1301", "A\u202Eevil\u2066x\u2069\u200E\u200F\u061C\u202A\u202B\u202C\u202D>\x07", "1",
           "-"}}}},
       "LumenPick: 新規 1 銘柄",
       "R&amp;D &lt;b&gt;: 1301 Aevilx&gt;"},
  };
  for (const Case& c : cases) {
    RunOutcome out;
    out.entered = c.entered;
    std::string title, body;
    ASSERT_TRUE(notification_text(out, title, body)) << c.what;
    EXPECT_EQ(title, c.title) << c.what;
    EXPECT_EQ(body, c.body) << c.what;
  }
  // The hint names the desktop file the package installs.
  EXPECT_TRUE(fs::exists(std::string(LP_TEMPLATE_DIR) + "/../data/" + kDesktopEntry + ".desktop"));
}

TEST(WatchSchedule, TimesAndUnitFilesThatSystemdAccepts) {
  const std::vector<std::pair<std::string, bool>> times = {
      {"18:00", true}, {"00:00", true},     {"23:59", true},  {"24:00", false}, {"12:60", false},
      {"8:00", false}, {"18:00:00", false}, {"18-00", false}, {"", false},      {"ab:cd", false}};
  for (const auto& [t, ok] : times) EXPECT_EQ(valid_schedule_time(t), ok) << t;
  EXPECT_EQ(exec_word("/a b/%h$x\"\\"), "\"/a b/%%h$$x\\\"\\\\\"");
  // Paths a unit file cannot carry are refused, never written with a character dropped.
  const std::vector<std::pair<std::string, bool>> paths = {
      {"/home/u/ドキュメント/株", true},
      {"/home/u/docs\nExecStartPre=/bin/false", false},
      {"/home/u/\x93\xfa\x96\x7b", false},  // CP932 「日本」
      {"/home/u/a\tb", false}};
  for (const auto& [path, ok] : paths) EXPECT_EQ(unit_path_problem(path).empty(), ok) << path;

  test::TempDir dir;
  const UnitTexts t = unit_texts(LP_TEMPLATE_DIR, LP_CLI_PATH, dir.str() + "/my docs", "07:45");
  EXPECT_NE(t.service.find(std::string("ExecStart=\"") + LP_CLI_PATH + "\" --documents \"" +
                           dir.str() + "/my docs\" daily"),
            std::string::npos)
      << t.service;
  EXPECT_NE(t.timer.find("OnCalendar=Mon..Fri *-*-* 07:45:00"), std::string::npos);
  EXPECT_NE(t.timer.find("Persistent=true"), std::string::npos);
  const std::string folder = dir.str() + "/units";
  std::string error;
  ASSERT_TRUE(write_units(folder, t, error)) << error;
  const ScheduleState s = read_schedule(folder);
  EXPECT_TRUE(s.installed);
  EXPECT_EQ(s.time, "07:45");
  // Without --documents the unit has none; the built-in copy matches the shipped template.
  const UnitTexts built_in = unit_texts("", "/x", "", "18:00");
  const UnitTexts shipped = unit_texts(LP_TEMPLATE_DIR, "/x", "", "18:00");
  EXPECT_EQ(built_in.service.find("--documents"), std::string::npos);
  auto settings = [](const std::string& text) {
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      if (text[pos] != '#') out += text.substr(pos, end - pos + 1);
      pos = end + 1;
    }
    return out;
  };
  EXPECT_EQ(settings(shipped.service), settings(built_in.service));
  EXPECT_EQ(settings(shipped.timer), settings(built_in.timer));
  // A unit of the same name the user wrote is neither written over nor removed.
  const std::string theirs = dir.str() + "/theirs";
  fs::create_directories(theirs);
  test::write_bytes(theirs + "/" + kTimerName, "[Timer]\nOnCalendar=daily\n");
  for (const bool removing : {false, true}) {
    error.clear();
    EXPECT_FALSE(removing ? remove_units(theirs, error) : write_units(theirs, t, error));
    EXPECT_NE(error.find(kTimerName), std::string::npos) << error;
    EXPECT_EQ(test::read_bytes(theirs + "/" + kTimerName), "[Timer]\nOnCalendar=daily\n");
    EXPECT_FALSE(fs::exists(theirs + "/" + kServiceName));
  }

  // The command refuses them with exit 2 and writes no unit, as it does without a HOME.
  for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
           {"/usr/bin/env", "-u", "HOME", "-u", "XDG_CONFIG_HOME", LP_CLI_PATH, "schedule", "--at",
            "18:00"},
           {"/usr/bin/env", "XDG_CONFIG_HOME=" + dir.str() + "/cfg", LP_CLI_PATH, "--documents",
            dir.str() + "/a\nb", "schedule", "--at", "18:00"}}) {
    const test::ProcessResult r = test::run_process(argv, dir.str());
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_FALSE(fs::exists(dir.str() + "/cfg/systemd/user/" + std::string(kServiceName)));
  }

  if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
  }
  fs::create_directories(dir.str() + "/run");
  fs::permissions(dir.str() + "/run", fs::perms::owner_all, fs::perm_options::replace);
  const std::string verify =
      "XDG_RUNTIME_DIR='" + dir.str() + "/run' systemd-analyze --user verify '" + folder + "/" +
      kTimerName + "' '" + folder + "/" + kServiceName + "' > '" + dir.str() + "/verify.log' 2>&1";
  EXPECT_EQ(std::system(verify.c_str()), 0) << test::read_bytes(dir.str() + "/verify.log");
  ASSERT_TRUE(remove_units(folder, error));
  EXPECT_FALSE(read_schedule(folder).installed);
}

}  // namespace
}  // namespace lp::watch
