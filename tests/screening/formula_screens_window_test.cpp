// The 式 page and the saved screens of the screening window: a formula row runs as a step with
// its count and button, a formula error stops the run with its position in red, and a screen
// saved, loaded into a fresh window and run again gives the same result files.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>

#include "pricedb/fins_store.h"
#include "pricedb/sectors.h"
#include "screening/screening_window.h"
#include "screening_fixture.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {
namespace {

template <class T>
T* find(QWidget* w, const QString& name) {
  T* c = w->findChild<T*>(name);
  EXPECT_NE(c, nullptr) << name.toStdString();
  return c;
}

// Rising, falling and flat stocks over 40 days.
void add_trends(test::MiniMarket& m) {
  std::vector<double> up, down, flat;
  for (int i = 0; i < 40; ++i) {
    up.push_back(100 + i);
    down.push_back(200 - i);
    flat.push_back(150);
  }
  m.add({"1301", "東証1部", "上昇", up, 1000});
  m.add({"1332", "東証1部", "下降", down, 1000});
  m.add({"1377", "東証1部", "横ばい", flat, 1000});
  m.add({"2001", "東証1部", "高値", up, 1000});
  m.stocks.back().closes.back() = 900;  // outside criterion 1's 30-300 yen
}

std::unique_ptr<ScreeningWindow> open_window(test::MiniMarket& m) {
  WindowHub::instance().set_platform(m.platform());
  auto w = std::make_unique<ScreeningWindow>();
  w->show();
  return w;
}

void type_formula(ScreeningWindow* w, int n, const QString& name, const QString& text,
                  const QString& show = {}) {
  find<QCheckBox>(w, QStringLiteral("pr_chk_%1").arg(n))->setChecked(true);
  find<QLineEdit>(w, QStringLiteral("shiki_name_txt_%1").arg(n))->setText(name);
  find<QLineEdit>(w, QStringLiteral("shiki_txt_%1").arg(n))->setText(text);
  find<QLineEdit>(w, QStringLiteral("shiki_hyouji_txt_%1").arg(n))->setText(show);
}

void press(ScreeningWindow* w, const char* name) {
  QTest::mouseClick(find<QPushButton>(w, QString::fromLatin1(name)), Qt::LeftButton);
}

TEST(FormulaPage, ErrorsShowTheirPositionInRedAndStopTheRun) {
  test::MiniMarket m(40);
  add_trends(m);
  m.write();
  auto w = open_window(m);
  QTest::mouseClick(find<QRadioButton>(w.get(), "Option2_5"), Qt::LeftButton);
  EXPECT_TRUE(find<QWidget>(w.get(), "settei_frm1_5")->isVisible());
  type_formula(w.get(), 41, {}, QStringLiteral("C > MA(C,25"));

  // Leaving the box checks it.
  QFocusEvent out(QEvent::FocusOut);
  QCoreApplication::sendEvent(find<QLineEdit>(w.get(), "shiki_txt_41"), &out);
  QLabel* msg = find<QLabel>(w.get(), "msg1_lb");
  EXPECT_EQ(msg->text(), QStringLiteral("式41の12文字目: ')' がありません"));
  EXPECT_TRUE(msg->styleSheet().contains(QStringLiteral("255, 0, 0")));

  msg->clear();
  press(w.get(), "select_cal1_cmd");
  EXPECT_EQ(msg->text(), QStringLiteral("式41の12文字目: ')' がありません"));
  EXPECT_FALSE(std::filesystem::exists(m.folders.user_folder + "sel41.csv"));
  EXPECT_TRUE(find<QPushButton>(w.get(), "select_cal1_cmd")->isEnabled());

  // Fixed and left again: the error goes away.
  find<QLineEdit>(w.get(), "shiki_txt_41")->setText(QStringLiteral("C > MA(C,25)"));
  QCoreApplication::sendEvent(find<QLineEdit>(w.get(), "shiki_txt_41"), &out);
  EXPECT_EQ(msg->text(), QString());
}

// The 「指標」 page: its boxes show the formula they mean, its industry list writes the codes
// the screen saves, and on a database without results the run says so and does not start.
TEST(IndicatorPage, BoxesShowTheirFormulaAndNeedResults) {
  test::MiniMarket m(40);
  add_trends(m);
  m.write();
  auto w = open_window(m);
  QTest::mouseClick(find<QRadioButton>(w.get(), "Option2_6"), Qt::LeftButton);
  EXPECT_TRUE(find<QWidget>(w.get(), "settei_frm1_6")->isVisible());
  QLabel* formula = find<QLabel>(w.get(), "shihyou_shiki_lb");
  EXPECT_EQ(formula->text(), QStringLiteral("式: （指定なし）"));
  find<QLineEdit>(w.get(), "shihyou_max_txt_1")->setText(QStringLiteral("15"));
  find<QLineEdit>(w.get(), "shihyou_min_txt_4")->setText(QStringLiteral("3.5"));
  EXPECT_EQ(formula->text(), QStringLiteral("式: PER <= 15 AND YIELD >= 3.5"));
  find<QLineEdit>(w.get(), "shihyou_min_txt_6")->setText(QStringLiteral("x"));
  EXPECT_EQ(formula->text(), QStringLiteral("指標: ROE(%)の下限が数値ではありません: x"));
  find<QLineEdit>(w.get(), "shihyou_min_txt_6")->clear();

  auto* list = find<QListWidget>(w.get(), "gyoushu_lst");
  ASSERT_EQ(list->count(), 34);
  list->item(15)->setCheckState(Qt::Checked);  // 電気機器
  list->item(3)->setCheckState(Qt::Checked);   // 食料品
  EXPECT_EQ(find<QLineEdit>(w.get(), "gyoushu_txt")->text(), QStringLiteral("3050,3650"));
  find<QLineEdit>(w.get(), "gyoushu_txt")->setText(QStringLiteral("医薬品"));
  EXPECT_EQ(list->item(7)->checkState(), Qt::Checked);
  EXPECT_EQ(list->item(15)->checkState(), Qt::Unchecked);
  w->grab().save(QCoreApplication::applicationDirPath() + "/screening_indicator_page.png");

  press(w.get(), "select_cal1_cmd");
  EXPECT_EQ(find<QLabel>(w.get(), "msg1_lb")->text(),
            QStringLiteral("決算データがありません: jquants-sync で取得してください"));
  EXPECT_FALSE(std::filesystem::exists(m.folders.user_folder + "sel46.csv"));

  // With results (1301 at 139: PER 139 / 13.9 = 10, yield 5 / 139 = 3.6 %) and its industry
  // (医薬品), the page's step keeps it: one of the one stock of that industry.
  fins::Disclosure d;
  for (auto [col, text] : std::initializer_list<std::pair<int, std::string>>{
           {fins::DiscDate, m.dates.front()},
           {fins::Code, "1301"},
           {fins::DocType, "FYFinancialStatements_Consolidated_JP"},
           {fins::NxtFYEn, "20991231"},
           {fins::NxFEPS, "13.9"},
           {fins::NxFDivAnn, "5"}}) {
    d.set(col, text);
  }
  fins::StoreStats stats;
  std::string error;
  ASSERT_TRUE(fins::store_disclosures(m.folders.db_folder, {d}, stats, error)) << error;
  ASSERT_TRUE(sectors::store_sectors(
      m.folders.db_folder,
      {{std::stoi(m.dates.back()), {{"1301", {0, "5", "医薬品", "3250", "医薬品", "東証1部"}}}}},
      error))
      << error;
  press(w.get(), "select_cal1_cmd");
  EXPECT_EQ(find<QLabel>(w.get(), "result1_lb_46")->text(), QStringLiteral("1/1"));
  const std::string out = test::read_cp932(m.folders.user_folder + "sel0_out.csv");
  EXPECT_NE(out.find("\r\n1301,"), std::string::npos) << out.substr(0, 300);
}

TEST(FormulaPage, SavedScreenRunsTheSameInAFreshWindow) {
  test::MiniMarket m(40);
  add_trends(m);
  m.write();
  const std::string user = m.folders.user_folder;
  std::string first_result;
  {
    auto w = open_window(m);
    find<QCheckBox>(w.get(), "pr_chk_1")->setChecked(true);
    type_formula(w.get(), 41, QStringLiteral("押し目"), QStringLiteral("C > MA(C,25)"),
                 QStringLiteral("C/MA(C,25)*100-100"));
    type_formula(w.get(), 42, {}, QStringLiteral("ＲＳＩ（１４） > 50"));
    press(w.get(), "select_cal1_cmd");
    EXPECT_EQ(find<QLabel>(w.get(), "result1_lb_1")->text(), QStringLiteral("3/4"));
    EXPECT_EQ(find<QLabel>(w.get(), "result1_lb_41")->text(), QStringLiteral("1/3"));
    EXPECT_EQ(find<QLabel>(w.get(), "result1_lb_42")->text(), QStringLiteral("1/1"));
    EXPECT_EQ(find<QLabel>(w.get(), "result1_lb_41")->toolTip(), QStringLiteral("押し目"));
    EXPECT_FALSE(find<QRadioButton>(w.get(), "Option1_41")->isHidden());
    first_result = test::read_cp932(user + "sel0_out.csv");
    EXPECT_EQ(first_result.substr(0, first_result.find("\r\n")),
              "1," + m.dates.back() +
                  ",銘柄,式42,始値,高値,安値,終値,出来高,前日引値,前日出来高,"
                  "ポインタ");

    // The ▽ of row 41 shows what the first formula kept, with its value column.
    QTest::mouseClick(find<QRadioButton>(w.get(), "Option2_5"), Qt::LeftButton);
    QTest::mouseClick(find<QRadioButton>(w.get(), "Option1_41"), Qt::LeftButton);
    EXPECT_EQ(find<QLabel>(w.get(), "msg1_lb")->text(), QStringLiteral("押し目"));
    const std::string list = test::read_cp932(user + "sel0.csv");
    EXPECT_EQ(list.substr(0, list.find("\r\n")), "1," + m.dates.back() + ",押し目");

    w->grab().save(QCoreApplication::applicationDirPath() + "/screening_formula_page.png");

    // Names a file system could not hold are refused with a message.
    find<QComboBox>(w.get(), "hozon_cmb")->setEditText(QStringLiteral("a/b"));
    press(w.get(), "hozon_cmd");
    EXPECT_EQ(find<QLabel>(w.get(), "msg1_lb")->text(),
              QStringLiteral("保存条件の名前に「/」「\\」は使えません。"));
    find<QComboBox>(w.get(), "hozon_cmb")->setEditText(QStringLiteral("押し目"));
    press(w.get(), "hozon_cmd");
    EXPECT_EQ(find<QLabel>(w.get(), "msg1_lb")->text(),
              QStringLiteral("保存条件「押し目」を保存しました。"));
  }
  std::filesystem::remove(user + "sel0_out.csv");

  auto w = open_window(m);
  QComboBox* screens = find<QComboBox>(w.get(), "hozon_cmb");
  ASSERT_EQ(screens->count(), 1);
  EXPECT_EQ(screens->itemText(0), QStringLiteral("押し目"));
  EXPECT_FALSE(find<QCheckBox>(w.get(), "pr_chk_41")->isChecked());
  screens->setCurrentIndex(0);
  press(w.get(), "yomikomi_cmd");
  EXPECT_TRUE(find<QCheckBox>(w.get(), "pr_chk_1")->isChecked());
  EXPECT_EQ(find<QLineEdit>(w.get(), "shiki_txt_41")->text(), QStringLiteral("C > MA(C,25)"));
  EXPECT_EQ(find<QLineEdit>(w.get(), "shiki_hyouji_txt_41")->text(),
            QStringLiteral("C/MA(C,25)*100-100"));
  press(w.get(), "select_cal1_cmd");
  EXPECT_EQ(test::read_cp932(user + "sel0_out.csv"), first_result);

  // Deleting asks first; "no" keeps the screen.
  QString asked;
  bool answer = false;
  w->set_confirm([&](const QString& q) {
    asked = q;
    return answer;
  });
  press(w.get(), "sakujo_cmd");
  EXPECT_EQ(asked, QStringLiteral("保存条件「押し目」を削除しますか？"));
  EXPECT_TRUE(std::filesystem::exists(user + "screens/押し目.txt"));
  answer = true;
  press(w.get(), "sakujo_cmd");
  EXPECT_FALSE(std::filesystem::exists(user + "screens/押し目.txt"));
  EXPECT_EQ(screens->count(), 0);
}

}  // namespace
}  // namespace lp::gui
