// Runs that must not pass older results off as theirs: result files that cannot be written,
// and lists of an older day table after new data arrived.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "screening/screening_session.h"
#include "screening_fixture.h"
#include "support/process.h"

namespace lp::screening {
namespace {

struct Ui : ScreeningUi {
  void message(const std::string& t, TextColor c) override {
    if (c == TextColor::red) errors.push_back(t);
  }
  void date_label(const std::string& t) override { date = t; }
  void result_label(int n, const std::string& t) override { labels[n] = t; }
  void set_option_visible(int n, bool v) override { visible[n] = v; }
  void show_results() override { ++results_shown; }
  std::vector<std::string> errors;
  std::string date;
  std::map<int, std::string> labels;
  std::map<int, bool> visible;
  int results_shown = 0;
};

TEST(StaleResults, AResultFileThatCannotBeWrittenEndsTheRunWithAnError) {
  // A folder in the place of a file makes its rename fail, for any user (root included), as
  // a full disk or a read-only folder would.
  for (const char* blocked : {"sel0_out.csv", "sel0.csv", "sel1.csv", "sel40.csv"}) {
    SCOPED_TRACE(blocked);
    test::MiniMarket m(30);
    test::add_small_market(m);
    m.write();
    const std::string user = m.folders.user_folder;
    test::write_cp932(user + "sel0_out.csv", "1,20200101,銘柄,-\r\n");  // an older run's
    const std::string before = test::read_bytes(user + "sel0_out.csv");
    Ui ui;
    ScreeningSession s(m.platform(), &ui);
    s.load(false);
    s.controls().set_checked("pr_chk(1)", true);
    s.controls().set_checked("pr_chk(40)", true);
    if (std::string(blocked) == "sel0_out.csv") std::filesystem::remove(user + blocked);
    std::filesystem::create_directories(user + blocked);
    EXPECT_FALSE(s.run());
    ASSERT_FALSE(ui.errors.empty());
    EXPECT_EQ(ui.errors.back(), kMsgResultWriteFailed);
    EXPECT_EQ(ui.results_shown, 0);
    if (std::string(blocked) != "sel0_out.csv") {
      EXPECT_EQ(test::read_bytes(user + "sel0_out.csv"), before);
    }
    // The 「▽」 of a criterion whose list was not written stays hidden.
    const bool list_blocked = std::string(blocked) == "sel1.csv";
    EXPECT_EQ(ui.visible[1], !list_blocked);
    if (std::string(blocked) == "sel40.csv") {
      EXPECT_FALSE(ui.visible[40]);
    }
  }
}

TEST(StaleResults, ARankingWhoseResultsCannotBeWrittenSaysSo) {
  test::MiniMarket m(30);
  test::add_small_market(m);
  m.write();
  const std::string user = m.folders.user_folder;
  std::filesystem::create_directories(user + "sel0_out.csv");  // in the way of the rename
  Ui ui;
  ScreeningSession s(m.platform(), &ui);
  s.load(false);
  s.option_click(21);
  ASSERT_FALSE(ui.errors.empty());
  EXPECT_EQ(ui.errors.back(), kMsgResultWriteFailed);
  EXPECT_EQ(ui.results_shown, 0);
}

TEST(StaleResults, ANewerTradingDayHidesEveryListOfTheOlderOne) {
  test::MiniMarket m(30);
  test::add_small_market(m);
  m.write();
  Ui ui;
  ScreeningSession s(m.platform(), &ui);
  s.load(false);
  EXPECT_EQ(ui.date, "最新取引日：" + m.dates.back());
  s.controls().set_checked("pr_chk(1)", true);
  s.controls().set_checked("pr_chk(40)", true);
  ASSERT_TRUE(s.run());
  EXPECT_TRUE(ui.visible[40]);
  EXPECT_FALSE(ui.labels[40].empty());

  // A newer trading day arrives while the window stays open.
  const std::string newer = "20240520";
  m.dates.push_back(newer);
  for (auto& stock : m.stocks) stock.closes.push_back(stock.closes.back() + 1);
  m.write();
  s.controls().set_checked("pr_chk(40)", false);
  ASSERT_TRUE(s.run());
  EXPECT_EQ(s.day_table().date(), newer);
  EXPECT_EQ(ui.date, "最新取引日：" + newer);
  EXPECT_FALSE(ui.visible[40]);
  EXPECT_TRUE(ui.labels[40].empty());
  // Its list belongs to the older day's rows: the button does nothing any more.
  const int shown = ui.results_shown;
  s.option_click(40);
  EXPECT_EQ(ui.results_shown, shown);
  EXPECT_EQ(s.current_criterion(), 1);
}

TEST(StaleResults, TheCommandLineScreenExitsNonZeroWhenResultsCannotBeWritten) {
  test::MiniMarket m(30);
  test::add_small_market(m);
  m.write();
  std::filesystem::create_directories(m.folders.user_folder + "sel0_out.csv");
  const test::ProcessResult r =
      test::run_process({LP_CLI_PATH, "screen", "--criteria", "1", "--documents", m.dir.str(),
                         "--today", m.dates.back()},
                        m.dir.str());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(kMsgResultWriteFailed), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("ポインタ"), std::string::npos) << r.out;  // no result file printed
}

}  // namespace
}  // namespace lp::screening
