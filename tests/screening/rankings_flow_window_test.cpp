// The ranking button of the screening window: Option1(21) with the ranking chosen in rank_cmb
// becomes the result list "sel0_out.csv" and is handed to the results window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "common/numbers.h"
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

// Closes given oldest first; the last two days make the previous-day measures.
struct Listed {
  const char* code;
  double prev_close;  // kGap: no record on the previous day
  double close;
  long long volume;
};

std::vector<Listed> ranking_market() {
  std::vector<Listed> out;
  // An index code with the largest volume: never in the volume ranking.
  out.push_back({"1001", 100, 100, 999999});
  // 1301..1327 (named by their place in the list): rises of k % against today's close.
  for (int k = 1; k <= 27; ++k) {
    // Distinct volumes in an order unrelated to the codes.
    out.push_back({nullptr, 100.0 - k, 100, 1000 + ((k * 8) % 29) * 10});
  }
  // Two stocks with the same rise (3.50): the one read first ranks first.
  out.push_back({"1398", 96.5, 100, 1005});
  out.push_back({"1399", 96.5, 100, 1006});
  // Not traded the day before: no previous-day measure, but the largest real volume.
  out.push_back({"1400", test::kGap, 50, 5000});
  return out;
}

std::string code_of(const std::vector<Listed>& market, std::size_t i) {
  return market[i].code ? market[i].code : std::to_string(1300 + static_cast<int>(i));
}

struct Expected {
  std::string code, value;
  double number;
};

// The ranking worked out directly from the stocks: qualify, measure, stable order, top 25.
std::vector<Expected> expected_ranking(const std::vector<Listed>& market, int which) {
  std::vector<Expected> all;
  for (std::size_t i = 0; i < market.size(); ++i) {
    const Listed& s = market[i];
    const std::string code = code_of(market, i);
    const bool prev = !std::isnan(s.prev_close);
    std::string text;
    switch (which) {
      case 0:  // 前日比上率: against today's close
        if (!prev) continue;
        text = format_pattern((s.close - s.prev_close) * 100 / s.close, "#.#0");
        break;
      case 1:  // 前日比下率: against the previous close
        if (!prev) continue;
        text = format_pattern((s.close - s.prev_close) * 100 / s.prev_close, "#.#0");
        break;
      case 6:  // 出来高
        if (std::stoi(code) <= 1003) continue;
        text = std::to_string(s.volume);
        break;
      default:  // 陽線値幅率: no stock closed above its open
        continue;
    }
    all.push_back({code, text, parse_number(text)});
  }
  const bool descending = which != 1;
  std::stable_sort(all.begin(), all.end(), [descending](const Expected& a, const Expected& b) {
    return descending ? a.number > b.number : a.number < b.number;
  });
  if (all.size() > 25) all.resize(25);
  return all;
}

TEST(RankingButton, WritesTheChosenRankingAsTheResultList) {
  const std::vector<Listed> stocks = ranking_market();
  test::MiniMarket m(8);
  for (std::size_t i = 0; i < stocks.size(); ++i) {
    const Listed& s = stocks[i];
    const std::string code = code_of(stocks, i);
    m.add({code, "東証1部", "銘柄" + code, {s.prev_close, s.close}, s.volume});
  }
  Window w(m);
  auto* button = child<QRadioButton>(w.window.get(), "Option1_21");
  // The ranking button is there from the start: it runs no criterion that could reveal it.
  EXPECT_FALSE(button->isHidden());
  EXPECT_EQ(child<QComboBox>(w.window.get(), "rank_cmb")->currentText(),
            QStringLiteral("前日比上率ﾄｯﾌﾟ25"));

  struct Case {
    int picker_index;
    const char* title;
  };
  const Case cases[] = {
      {0, "前日比率"},
      {1, "前日比率"},
      {6, "出来高"},
      {4, "陽線値幅率"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picker_index);
    start_flag()->clear();
    std::filesystem::remove(m.folders.user_folder + "sel0_out.csv");
    w.rank(c.picker_index);

    const std::vector<Expected> want = expected_ranking(stocks, c.picker_index);
    const auto lines = csv_lines(test::read_cp932(m.folders.user_folder + "sel0_out.csv"));
    ASSERT_EQ(lines.size(), want.size() + 1);
    const std::vector<std::string> header = {std::to_string(want.size()),
                                             m.dates.back(),
                                             "銘柄",
                                             c.title,
                                             "始値",
                                             "高値",
                                             "安値",
                                             "終値",
                                             "出来高",
                                             "前日引値",
                                             "前日出来高",
                                             "ポインタ"};
    EXPECT_EQ(lines[0], header);
    for (std::size_t k = 0; k < want.size(); ++k) {
      SCOPED_TRACE(k + 1);
      ASSERT_EQ(lines[k + 1].size(), 12u);
      EXPECT_EQ(lines[k + 1][0], want[k].code);
      EXPECT_EQ(lines[k + 1][1], "東証1部");
      EXPECT_EQ(lines[k + 1][2], "銘柄" + want[k].code);
      EXPECT_EQ(lines[k + 1][3], want[k].value);
      EXPECT_EQ(lines[k + 1][11], std::to_string(k + 1));
    }
    // The list file says the same in the short form.
    const auto list = csv_lines(test::read_cp932(m.folders.user_folder + "sel0.csv"));
    ASSERT_EQ(list.size(), lines.size());
    if (!want.empty()) {
      EXPECT_EQ(list[1][2], want[0].value);
    }

    EXPECT_EQ(start_flag()->text(), QStringLiteral("start"));
    EXPECT_TRUE(button->isChecked());
    EXPECT_EQ(child<QLabel>(w.window.get(), "msg1_lb")->text(), QString());
    EXPECT_TRUE(child<QPushButton>(w.window.get(), "select_cal1_cmd")->isEnabled());
  }
  // The summary was built once, for the latest day, and reused by the later rankings.
  const auto summary = csv_lines(test::read_cp932(m.folders.db_folder + "initdata1.csv"));
  ASSERT_FALSE(summary.empty());
  EXPECT_EQ(summary[0][0], m.dates.back());
  EXPECT_EQ(summary[0][1], std::to_string(stocks.size()));
}

TEST(RankingButton, SmallMarketThenBackToTheLastCriterion) {
  test::MiniMarket m(8);
  m.add({"1301", "東証1部", "極洋", {250, 260}, 1200});
  m.add({"1332", "マザーズ", "日本水産", {500, 450}, 3000});
  m.add({"2001", "名証", "その他株", {40, 42}, 100});
  Window w(m);
  QWidget* win = w.window.get();
  child<QCheckBox>(win, "pr_chk_1")->setChecked(true);
  QTest::mouseClick(child<QPushButton>(win, "select_cal1_cmd"), Qt::LeftButton);
  ASSERT_EQ(child<QLabel>(win, "result1_lb_1")->text(), QStringLiteral("2/3"));
  const std::string criterion_out = test::read_cp932(m.folders.user_folder + "sel0_out.csv");
  // A run leaves the ranking button in place.
  EXPECT_FALSE(child<QRadioButton>(win, "Option1_21")->isHidden());

  w.rank(0);
  const auto lines = csv_lines(test::read_cp932(m.folders.user_folder + "sel0_out.csv"));
  ASSERT_EQ(lines.size(), 4u);  // fewer than 25: only the stocks there are
  EXPECT_EQ(lines[0][0], "3");
  EXPECT_EQ(lines[0][3], "前日比率");
  // 2001: (42-40)*100/42 = 4.76; 1301: 3.85; 1332: -11.11
  const std::vector<std::pair<std::string, std::string>> want = {
      {"2001", "4.76"}, {"1301", "3.85"}, {"1332", "-11.11"}};
  for (std::size_t k = 0; k < want.size(); ++k) {
    EXPECT_EQ(lines[k + 1][0], want[k].first) << k;
    EXPECT_EQ(lines[k + 1][3], want[k].second) << k;
  }
  EXPECT_FALSE(child<QRadioButton>(win, "Option1_1")->isChecked());

  // The results window now shows the ranking, so the last criterion's button shows that
  // criterion's list again rather than nothing.
  start_flag()->clear();
  QTest::mouseClick(child<QRadioButton>(win, "Option2_0"), Qt::LeftButton);
  QTest::mouseClick(child<QRadioButton>(win, "Option1_1"), Qt::LeftButton);
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel0_out.csv"), criterion_out);
  EXPECT_EQ(start_flag()->text(), QStringLiteral("start"));
  EXPECT_TRUE(child<QRadioButton>(win, "Option1_1")->isChecked());
  EXPECT_FALSE(child<QRadioButton>(win, "Option1_21")->isChecked());
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
