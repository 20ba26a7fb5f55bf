#include <gtest/gtest.h>

#include <algorithm>
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

TEST(ScreeningRun, CriteriaRunInTheFixedOrderAndWriteTheResultFiles) {
  test::MiniMarket m(60);
  test::add_small_market(m);
  m.write();
  RecordingUi ui;
  ScreeningSession s(m.platform(), &ui);
  s.load(false);
  // Ticked "backwards": criterion 8 first, criterion 1 second; 1 must still run first.
  s.controls().set_checked("pr_chk(8)", true);
  s.controls().set_checked("pr_chk(1)", true);
  s.controls().set_text("gcdc_txt(0)", "1");     // A = 1: nothing can pass criterion 8
  s.controls().set_checked("pr_chk(40)", true);  // then runs on an empty list
  ASSERT_TRUE(s.run());
  const std::vector<std::pair<int, std::string>> counts = {{1, "2/3"}, {8, "0/2"}, {40, "0/0"}};
  EXPECT_EQ(s.last_counts(), counts);
  EXPECT_EQ(s.current_criterion(), 40);
  for (int n : {1, 8, 40}) EXPECT_TRUE(ui.visible[n]) << n;
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
  test::add_small_market(m);
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

TEST(ScreeningRun, LoadAppliesInitTheDayTableIsReusedAndNoDataEndsTheRun) {
  test::MiniMarket m(10);
  test::add_small_market(m);
  m.write();
  test::write_cp932(m.folders.app_folder + "init.txt",
                    "sel_kabuka_chk,ON\r\nsel_kabukamax,45\r\nEOF\r\n");
  std::filesystem::remove_all(m.folders.user_folder);
  RecordingUi ui;
  ScreeningSession s(m.platform(), &ui);
  s.load();
  EXPECT_TRUE(std::filesystem::is_directory(m.folders.user_folder));
  EXPECT_EQ(s.latest_date(), m.dates.back());
  auto progress = [&] {
    return std::count_if(ui.messages.begin(), ui.messages.end(),
                         [](const std::string& t) { return t.rfind("初期設定中　", 0) == 0; });
  };
  ASSERT_TRUE(s.run());
  EXPECT_EQ(s.last_counts()[0].second, "1/3");
  EXPECT_EQ(s.trading_day_count(), 10);
  EXPECT_EQ(progress(), 3);
  EXPECT_NE(std::find(ui.messages.begin(), ui.messages.end(), "初期設定中　3/3"),
            ui.messages.end());
  ui.messages.clear();
  ASSERT_TRUE(s.run());
  EXPECT_EQ(progress(), 0);
  EXPECT_EQ(s.day_table_builds(), 1);
  EXPECT_EQ(s.last_counts()[0].second, "1/3");

  // A latest day whose day file cannot be read ends the run too: another day's table
  // must not pass for it.
  std::filesystem::remove(day_file_path(m.folders.db_folder, m.dates.back()));
  RecordingUi ui2;
  ScreeningSession s2(m.platform(), &ui2);
  s2.load();
  EXPECT_FALSE(s2.run());
  EXPECT_EQ(ui2.messages.back(), "エラー：株価データがありません。");

  // Without price data the run ends with the error text: no criterion runs on the old list.
  std::filesystem::remove_all(m.folders.db_folder);
  std::filesystem::remove(m.folders.user_folder + "sel1.csv");
  EXPECT_FALSE(s.run());
  EXPECT_EQ(ui.messages.back(), "エラー：株価データがありません。");
  EXPECT_EQ(ui.last_color, TextColor::red);
  EXPECT_FALSE(std::filesystem::exists(m.folders.user_folder + "sel1.csv"));
  EXPECT_FALSE(s.running());
}

// A window whose user, while the rankings' summary is rebuilt, presses "開始" and then closes
// the window.
struct ImpatientUi : RecordingUi {
  void yield() override {
    if (!session || pressed) return;
    pressed = true;
    run_during_pass = session->run();
    session->request_close();
  }
  void busy(bool on) override { busy_changes.push_back(on); }
  void close_window() override { ++closes; }
  std::string selected_ranking() const override { return ranking; }
  ScreeningSession* session = nullptr;
  std::string ranking;
  bool pressed = false;
  bool run_during_pass = true;
  std::vector<bool> busy_changes;
  int closes = 0;
};

TEST(ScreeningRanking, PassKeepsRunsOutAndHonoursTheCloseAtItsEnd) {
  test::MiniMarket m(10);
  test::add_small_market(m);
  m.write();
  struct Case {
    std::string chosen;  // what the picker hands over
    std::string title;   // value column of the ranking that must be shown
  };
  const Case cases[] = {
      {"", "前日比率"},            // no picker: the button's own ranking
      {"出来高ﾄｯﾌﾟ25", "出来高"},  // the picker's choice
      {"ﾄｯﾌﾟ", "前日比率"},        // not a ranking: the button's own
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    std::filesystem::remove(m.folders.db_folder + "initdata1.csv");
    ImpatientUi ui;
    ScreeningSession s(m.platform(), &ui);
    ui.ranking = c.chosen;
    s.load(false);
    ui.session = &s;
    s.option_click(21);
    EXPECT_FALSE(ui.run_during_pass);
    EXPECT_EQ(ui.closes, 1);
    EXPECT_EQ(ui.results_shown, 1);
    EXPECT_EQ(ui.selected, 21);
    EXPECT_EQ(s.current_criterion(), 21);
    EXPECT_FALSE(s.running());
    EXPECT_EQ(ui.busy_changes, (std::vector<bool>{true, false}));
    // The day table holds three stocks ("0998" is no stock code); every one is ranked.
    const std::string out = test::read_cp932(m.folders.user_folder + "sel0_out.csv");
    EXPECT_EQ(out.substr(0, out.find("\r\n")),
              "3," + m.dates.back() + ",銘柄," + c.title +
                  ",始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ");
  }
}

}  // namespace
}  // namespace lp::screening
