#include "screening/universe.h"

#include <gtest/gtest.h>

#include "screening_fixture.h"

namespace lp::screening {
namespace {

TEST(ReadDayTable, KeepsFourDigitCodesAndCleansNames) {
  test::TempDir dir;
  test::write_cp932(dir.path() / "d.csv",
                    "20240105,4,0,0,0,0,0,0\r\n"
                    "1001,東証1部,(株)日経,1,2,3,4,5\r\n"
                    "0998,東証1部,端数,1,2,3,4,5\r\n"
                    "12345,東証1部,五桁,1,2,3,4,5\r\n"
                    "9999,JASDAQ,末尾(株),6,7,8,9,10\r\n");
  DayTable t;
  ASSERT_TRUE(read_day_table(dir.file("d.csv"), t));
  ASSERT_EQ(t.count(), 2);
  EXPECT_EQ(t.records[0].f[1], "2");
  EXPECT_EQ(t.date(), "20240105");
  EXPECT_EQ(t.row(1)->code(), "1001");
  EXPECT_EQ(t.row(1)->name(), "日経");
  EXPECT_EQ(t.row(2)->code(), "9999");
  EXPECT_EQ(t.row(2)->name(), "末尾");
  EXPECT_EQ(t.row(2)->close(), "9");
  EXPECT_EQ(t.row(3), nullptr);

  // An unreadable file leaves the table as it was.
  EXPECT_FALSE(read_day_table(dir.file("missing.csv"), t));
  EXPECT_EQ(t.count(), 2);
}

TEST(ReadDayTable, AlphanumericCodesAreStocks) {
  test::TempDir dir;
  test::write_cp932(dir.path() / "d.csv",
                    "20250105,6,0,0,0,0,0,0\r\n"
                    "1301,プライム,極洋,1,2,3,4,5\r\n"
                    "130A,グロース,新興,1,2,3,4,5\r\n"
                    "130a,グロース,小文字,1,2,3,4,5\r\n"
                    "A130,グロース,英字始まり,1,2,3,4,5\r\n"
                    "0A12,グロース,零始まり,1,2,3,4,5\r\n"
                    "285A,スタンダード,新規,1,2,3,4,5\r\n");
  DayTable t;
  ASSERT_TRUE(read_day_table(dir.file("d.csv"), t));
  ASSERT_EQ(t.count(), 3);
  EXPECT_EQ(t.row(1)->code(), "1301");
  EXPECT_EQ(t.row(2)->code(), "130A");
  EXPECT_EQ(t.row(3)->code(), "285A");
}

TEST(ReadDayTable, MoreRowsThanTheTableStayAligned) {
  test::TempDir dir;
  std::string text = "20240105,6100,0,0,0,0,0,0\r\n";
  for (int i = 0; i < 6100; ++i) {
    const std::string code = std::to_string(1000 + i);
    text += code + ",東証1部,N" + code + ",1,2,3," + code + ",5\r\n";
  }
  test::write_cp932(dir.path() / "d.csv", text);
  DayTable t;
  ASSERT_TRUE(read_day_table(dir.file("d.csv"), t));
  ASSERT_EQ(t.count(), kDayTableCapacity);
  for (int r : {1, 3000, kDayTableCapacity}) {
    EXPECT_EQ(t.row(r)->code(), std::to_string(999 + r));
    EXPECT_EQ(t.row(r)->close(), t.row(r)->code());
  }
}

// A table is rebuilt in the same object day after day: nothing of an earlier day (more rows,
// the previous-day columns, a header field) may stay behind.
TEST(ReadDayTable, ARebuiltTableHoldsOnlyTheNewDay) {
  test::TempDir dir;
  test::write_cp932(dir.path() / "a.csv",
                    "20240104,3,0,0,0,0,0,0\r\n1301,東証1部,(株)長い名前の会社,1,2,3,4,5\r\n"
                    "1302,東証1部,二,1,2,3,4,5\r\n1303,東証2部,三,1,2,3,4,5\r\n");
  test::write_cp932(dir.path() / "b.csv",
                    "20240105,2,0,0,0,0,0,0\r\n1302,東証1部,二,6,7,8,9,10\r\n"
                    "1304,JASDAQ,四,1,2,3,4,5\r\n");
  DayTable fresh;
  ASSERT_TRUE(read_day_table(dir.file("b.csv"), fresh));
  DayTable reused;
  ASSERT_TRUE(read_day_table(dir.file("a.csv"), reused));
  reused.records[0].f[5] = "x";
  for (auto& r : reused.records) r.f[8] = r.f[9] = "99";
  ASSERT_TRUE(read_day_table(dir.file("b.csv"), reused));
  ASSERT_EQ(reused.records.size(), fresh.records.size());
  for (std::size_t i = 0; i < fresh.records.size(); ++i)
    EXPECT_EQ(reused.records[i].f, fresh.records[i].f) << "record " << i;
  EXPECT_EQ(reused.count(), 2);
}

TEST(MarketBoxOf, SegmentNamesAreMatchedExactlyAfterTrimming) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"東証", 0},     {"東証1部 ", 0}, {" 東証外国", 0}, {"東証１部", 5}, {"東証2部", 1},
      {"東証２部", 5}, {"マザーズ", 2}, {"大証", 3},      {"大証2部", 3},  {"大証外国部", 3},
      {"JASDAQ", 4},   {"ＪＱＳ", 4},   {"ＪＱＧ", 4},    {"JQS", 5},      {"JQ外国部", 4},
      {"大証1部", 3},  {"名証", 5},     {"", 5},
      // Today's segments join the boxes of the markets they succeeded.
      {"プライム", 0}, {" プライム ", 0}, {"スタンダード", 1}, {"グロース", 2}, {"プライム市場", 5},
      {"ＰＲＩＭＥ", 5},
      // The J-Quants master's names before 2022-04-04.
      {"東証一部", 0}, {"東証二部", 1}, {"JASDAQ スタンダード", 4}, {"JASDAQ グロース", 4},
      {"TOKYO PRO MARKET", 5}, {"その他", 5},
  };
  for (const auto& [segment, box] : cases) EXPECT_EQ(market_box_of(segment), box) << segment;
}

TEST(Universe, PreviousDayValuesAndTradingDays) {
  test::MiniMarket m(10);
  m.add({"1301", "東証1部", "A", {100, 101, 102, 103}, 500});
  m.add({"1302", "東証1部", "B", {200, test::kGap, 210}, 700});  // no trade the day before
  m.add({"1303", "東証1部", "C", {300}, 900});                   // listed on the last day
  m.write();
  DayTable t;
  ASSERT_TRUE(read_day_table(day_file_path(m.folders.db_folder, m.dates.back()), t));
  SeriesSource src = SeriesSource::from(m.folders);
  TradingCalendar cal;
  ASSERT_EQ(build_trading_calendar(src, cal, m.dates.back(), 1500), 0);
  Series buf;
  // A stale buffer from an earlier load must never leak into a later stock.
  int calls = 0;
  fill_previous_day(t, src, m.dates.back(), cal, buf, [&](int k, int n) {
    ++calls;
    EXPECT_EQ(n, 3);
    EXPECT_EQ(k, calls);
  });
  EXPECT_EQ(t.row(1)->f[8], "102");
  EXPECT_EQ(t.row(1)->f[9], "500");
  EXPECT_EQ(t.row(2)->f[8], "0");
  EXPECT_EQ(t.row(2)->f[9], "0");
  EXPECT_EQ(t.row(3)->f[8], "0");
  EXPECT_EQ(t.row(3)->f[9], "0");

  int count = -5;
  EXPECT_EQ(count_trading_days(m.folders.db_folder, "1001", 2024, count), 0);
  EXPECT_EQ(count, 10);
  EXPECT_EQ(count_trading_days(m.folders.db_folder, "1001", 2023, count), -1);
  EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace lp::screening
