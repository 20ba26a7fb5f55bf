// The ranking button of the screening window: Option1(21) with the ranking chosen in rank_cmb
// becomes the result list "sel0_out.csv" and is handed to the results window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <sstream>

#include "screening/screening_window.h"
#include "screening_fixture.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {
namespace {

// The results window is not linked into this test: a stand-in with its hand-over flag shows
// whether the screening window signalled it.
QWidget* make_results_stand_in() {
  auto* w = new QWidget;
  w->setObjectName(QStringLiteral("meigarasel_out_frm"));
  auto* flag = new QLabel(w);
  flag->setObjectName(QStringLiteral("startflag_lb"));
  return w;
}
LP_REGISTER_WINDOW("meigarasel_out_frm", make_results_stand_in);

QLabel* start_flag() {
  return control<QLabel>(WindowHub::instance().window(QStringLiteral("meigarasel_out_frm")),
                         "startflag_lb");
}

template <class T>
T* child(QWidget* w, const QString& name) {
  T* c = w->findChild<T*>(name);
  EXPECT_NE(c, nullptr) << name.toStdString();
  return c;
}

std::vector<std::vector<std::string>> csv_lines(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> fields;
    std::stringstream line(text.substr(at, end - at));
    for (std::string f; std::getline(line, f, ',');) fields.push_back(f);
    out.push_back(fields);
    at = end + 2;
  }
  return out;
}

struct Window {
  explicit Window(test::MiniMarket& m, bool write = true) {
    if (write) m.write();
    WindowHub::instance().set_platform(m.platform());
    window = std::make_unique<ScreeningWindow>();
    window->show();
    if (QLabel* flag = start_flag()) flag->clear();
  }

  // The user's way there: page 3, pick the ranking, press the ranking button.
  void rank(int picker_index) {
    QTest::mouseClick(child<QRadioButton>(window.get(), "Option2_2"), Qt::LeftButton);
    child<QComboBox>(window.get(), "rank_cmb")->setCurrentIndex(picker_index);
    QTest::mouseClick(child<QRadioButton>(window.get(), "Option1_21"), Qt::LeftButton);
  }

  std::unique_ptr<ScreeningWindow> window;
};

TEST(RankingButton, ChosenRankingBecomesTheResultListThenBackToTheLastCriterion) {
  test::MiniMarket m(8);
  m.add({"1001", "東証1部", "指数", {100, 100}, 999999});  // an index: never ranked by volume
  m.add({"1301", "東証1部", "極洋", {250, 260}, 1200});
  m.add({"1332", "マザーズ", "日本水産", {500, 450}, 3000});
  m.add({"2001", "名証", "その他株", {40, 42}, 100});
  Window w(m);
  QWidget* win = w.window.get();
  // The ranking button is there from the start, and a criterion run leaves it in place.
  auto* button = child<QRadioButton>(win, "Option1_21");
  EXPECT_FALSE(button->isHidden());
  EXPECT_EQ(child<QComboBox>(win, "rank_cmb")->currentText(), QStringLiteral("前日比上率ﾄｯﾌﾟ25"));
  child<QCheckBox>(win, "pr_chk_1")->setChecked(true);
  QTest::mouseClick(child<QPushButton>(win, "select_cal1_cmd"), Qt::LeftButton);
  ASSERT_EQ(child<QLabel>(win, "result1_lb_1")->text(), QStringLiteral("3/4"));
  const std::string criterion_out = test::read_cp932(m.folders.user_folder + "sel0_out.csv");
  EXPECT_FALSE(button->isHidden());

  struct Case {
    int picker_index;
    const char* title;
    std::vector<std::pair<std::string, std::string>> ranked;  // code, value text
  };
  const Case cases[] = {
      // Against today's close: (42 - 40) * 100 / 42 = 4.76; fewer than 25, all are listed.
      {0, "前日比率", {{"2001", "4.76"}, {"1301", "3.85"}, {"1001", ".00"}, {"1332", "-11.11"}}},
      {6, "出来高", {{"1332", "3000"}, {"1301", "1200"}, {"2001", "100"}}},
      {4, "陽線値幅率", {}},  // no stock closed above its open
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    start_flag()->clear();
    w.rank(c.picker_index);
    const auto lines = csv_lines(test::read_cp932(m.folders.user_folder + "sel0_out.csv"));
    ASSERT_EQ(lines.size(), c.ranked.size() + 1);
    EXPECT_EQ(lines[0], (std::vector<std::string>{std::to_string(c.ranked.size()), m.dates.back(),
                                                  "銘柄", c.title, "始値", "高値", "安値", "終値",
                                                  "出来高", "前日引値", "前日出来高", "ポインタ"}));
    for (std::size_t k = 0; k < c.ranked.size(); ++k) {
      ASSERT_EQ(lines[k + 1].size(), 12u);
      EXPECT_EQ(lines[k + 1][0], c.ranked[k].first) << k;
      EXPECT_EQ(lines[k + 1][3], c.ranked[k].second) << k;
      EXPECT_EQ(lines[k + 1][11], std::to_string(k + 1));
    }
    EXPECT_EQ(start_flag()->text(), QStringLiteral("start"));
    EXPECT_TRUE(button->isChecked());
    EXPECT_FALSE(child<QRadioButton>(win, "Option1_1")->isChecked());
    EXPECT_EQ(child<QLabel>(win, "msg1_lb")->text(), QString());
  }
  // The summary was built once, for the latest day, and reused by the later rankings.
  const auto summary = csv_lines(test::read_cp932(m.folders.db_folder + "initdata1.csv"));
  ASSERT_FALSE(summary.empty());
  EXPECT_EQ(summary[0][0], m.dates.back());

  // The results window now shows the ranking, so the last criterion's button shows that
  // criterion's list again rather than nothing.
  start_flag()->clear();
  QTest::mouseClick(child<QRadioButton>(win, "Option2_0"), Qt::LeftButton);
  QTest::mouseClick(child<QRadioButton>(win, "Option1_1"), Qt::LeftButton);
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel0_out.csv"), criterion_out);
  EXPECT_EQ(start_flag()->text(), QStringLiteral("start"));
  EXPECT_FALSE(button->isChecked());
}

TEST(RankingButton, WithoutPriceDataSaysSoAndWritesNothing) {
  test::MiniMarket m(8);
  test::write_cp932(m.folders.app_folder + "settei.txt", "EOF,0\r\n");
  Window w(m, /*write=*/false);
  QWidget* win = w.window.get();
  w.rank(0);
  auto* msg = child<QLabel>(win, "msg1_lb");
  EXPECT_EQ(msg->text(), QStringLiteral("エラー：株価データがありません。"));
  EXPECT_TRUE(msg->styleSheet().contains(QStringLiteral("255, 0, 0")));
  EXPECT_FALSE(std::filesystem::exists(m.folders.user_folder + "sel0_out.csv"));
  EXPECT_NE(start_flag()->text(), QStringLiteral("start"));
  EXPECT_FALSE(child<QRadioButton>(win, "Option1_21")->isChecked());
}

}  // namespace
}  // namespace lp::gui
