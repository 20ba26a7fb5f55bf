#include <gtest/gtest.h>

#include <filesystem>

#include "screening/screening_session.h"
#include "screening_fixture.h"

namespace lp::screening {
namespace {

// Records what the window would show.
struct RecordingUi : ScreeningUi {
  void message(const std::string& t, TextColor c) override {
    messages.push_back(t);
    last_color = c;
  }
  void result_label(int n, const std::string& t) override { labels[n] = t; }
  void set_option_visible(int n, bool v) override { visible[n] = v; }
  void show_results() override { ++results_shown; }
  void select_option(int n) override { selected = n; }
  std::vector<std::string> messages;
  TextColor last_color = TextColor::black;
  std::map<int, std::string> labels;
  std::map<int, bool> visible;
  int results_shown = 0;
  int selected = -2;
};

void add_market(test::MiniMarket& m) {
  m.add({"1301", "東証1部", "(株)極洋", {250, 251, 252}, 1200});
  m.add({"1332", "マザーズ", "日本水産(株)", {500, 480, 520}, 3000});
  m.add({"2001", "名証", "その他株", {40, 41, 42}, 100});
  m.add({"0998", "東証1部", "四桁未満", {40, 41, 42}, 100});
}

TEST(ScreeningRun, CriteriaRunInTheFixedOrderAndWriteTheResultFiles) {
  test::MiniMarket m(60);
  add_market(m);
  m.write();
  RecordingUi ui;
  ScreeningSession s(m.platform(), &ui);
  s.load(false);
  // Ticked "backwards": criterion 8 first, criterion 1 second; 1 must still run first.
  s.controls().set_checked("pr_chk(8)", true);
  s.controls().set_checked("pr_chk(1)", true);
  s.controls().set_text("gcdc_txt(0)", "1");  // A = 1: nothing can pass criterion 8
  ASSERT_TRUE(s.run());
  ASSERT_EQ(s.last_counts().size(), 2u);
  EXPECT_EQ(s.last_counts()[0], (std::pair<int, std::string>{1, "2/3"}));
  EXPECT_EQ(s.last_counts()[1], (std::pair<int, std::string>{8, "0/2"}));
  EXPECT_EQ(s.current_criterion(), 8);
  EXPECT_TRUE(ui.visible[1]);
  EXPECT_TRUE(ui.visible[8]);
  EXPECT_EQ(ui.results_shown, 1);
  const std::string& d = m.dates.back();
  // The last criterion kept nothing: header lines only.
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel0.csv"), "0," + d + ",-\r\n");
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel0_out.csv"),
            "0," + d + ",銘柄,-,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n");

  // Option1(1) shows criterion 1's survivors with every day-table field.
  s.option_click(1);
  EXPECT_EQ(s.current_criterion(), 1);
  EXPECT_EQ(ui.selected, 1);
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel0.csv"),
            "2," + d + ",-\r\n1301,1,-\r\n2001,3,-\r\n");
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel0_out.csv"),
            "2," + d +
                ",銘柄,-,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n"
                "1301,東証1部,極洋,-,252,252,252,252,1200,251,1200,1\r\n"
                "2001,名証,その他株,-,42,42,42,42,100,41,100,3\r\n");
  EXPECT_EQ(ui.messages.back(), "株価範囲による銘柄選択");
}

TEST(ScreeningRun, MarketBoxesAndNoCriterion) {
  test::MiniMarket m(10);
  add_market(m);
  m.write();
  RecordingUi ui;
  ScreeningSession s(m.platform(), &ui);
  s.load(false);
  for (int i = 0; i <= 6; ++i) s.controls().set_checked(indexed("shijyou_chk", i), false);
  s.controls().set_checked("shijyou_chk(2)", true);
  ASSERT_TRUE(s.run());
  ASSERT_EQ(s.candidates().count(), 1);
  EXPECT_EQ(s.candidates().items[0].code, "1332");
  EXPECT_EQ(s.candidates().items[0].row, "2");
  // No criterion ticked: no result file, no results window.
  EXPECT_FALSE(std::filesystem::exists(m.folders.user_folder + "sel0.csv"));
  EXPECT_FALSE(std::filesystem::exists(m.folders.user_folder + "sel0_out.csv"));
  EXPECT_EQ(ui.results_shown, 0);
  EXPECT_EQ(s.current_criterion(), -1);
}

TEST(ScreeningRun, DayTableIsReusedForTheSameDate) {
  test::MiniMarket m(10);
  add_market(m);
  m.write();
  RecordingUi ui;
  ScreeningSession s(m.platform(), &ui);
  s.load(false);
  s.controls().set_checked("pr_chk(1)", true);
  ASSERT_TRUE(s.run());
  auto has_progress = [&] {
    for (const auto& t : ui.messages) {
      if (t.rfind("初期設定中　", 0) == 0) return true;
    }
    return false;
  };
  EXPECT_TRUE(has_progress());
  EXPECT_NE(std::find(ui.messages.begin(), ui.messages.end(), "初期設定中　3/3"),
            ui.messages.end());
  ui.messages.clear();
  ASSERT_TRUE(s.run());
  EXPECT_FALSE(has_progress());
  EXPECT_EQ(s.day_table_builds(), 1);
  EXPECT_EQ(s.last_counts()[0].second, "2/3");
}

TEST(ScreeningRun, WithoutPriceDataTheRunEndsWithTheErrorText) {
  test::MiniMarket m(10);
  add_market(m);
  m.write();
  RecordingUi ui;
  ScreeningSession s(m.platform(), &ui);
  s.load(false);
  s.controls().set_checked("pr_chk(1)", true);
  ASSERT_TRUE(s.run());
  std::filesystem::remove_all(m.folders.db_folder);
  std::filesystem::remove(m.folders.user_folder + "sel1.csv");
  EXPECT_FALSE(s.run());
  EXPECT_EQ(ui.messages.back(), "エラー：株価データがありません。");
  EXPECT_EQ(ui.last_color, TextColor::red);
  EXPECT_FALSE(std::filesystem::exists(m.folders.user_folder + "sel1.csv"));
  EXPECT_FALSE(s.running());
}

TEST(ScreeningRun, LoadCreatesTheUserFolderAndAppliesInit) {
  test::MiniMarket m(10);
  add_market(m);
  m.write();
  test::write_cp932(m.folders.app_folder + "init.txt",
                    "sel_kabuka_chk,ON\r\nsel_kabukamax,45\r\nEOF\r\n");
  std::filesystem::remove_all(m.folders.user_folder);
  ScreeningSession s(m.platform(), nullptr);
  s.load();
  EXPECT_TRUE(std::filesystem::is_directory(m.folders.user_folder));
  EXPECT_EQ(s.latest_date(), m.dates.back());
  ASSERT_TRUE(s.run());
  EXPECT_EQ(s.last_counts()[0].second, "1/3");
  EXPECT_EQ(s.trading_day_count(), 10);
}

}  // namespace
}  // namespace lp::screening
