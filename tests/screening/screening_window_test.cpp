#include "screening/screening_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "screening_fixture.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {
namespace {

template <class T>
T* child(QWidget* w, const QString& name) {
  T* c = w->findChild<T*>(name);
  EXPECT_NE(c, nullptr) << name.toStdString();
  return c;
}

struct WindowFixture {
  explicit WindowFixture(test::MiniMarket& m) {
    m.write();
    test::write_cp932(m.folders.app_folder + "init.txt",
                      "sel_kabukamin,30\r\nsel_rsi1_kikan_cmb,CLEAR\r\nsel_rsi1_kikan_cmb,14\r\n"
                      "sel_rsi1_kikan_cmb_初期値,14\r\nEOF\r\n");
    WindowHub::instance().set_platform(m.platform());
    window = std::make_unique<ScreeningWindow>();
    window->show();
  }
  std::unique_ptr<ScreeningWindow> window;
};

TEST(ScreeningWindow, RunsAScreeningAndShowsTheCounts) {
  test::MiniMarket m(70);
  test::add_small_market(m);
  WindowFixture f(m);
  ScreeningWindow* w = f.window.get();
  EXPECT_EQ(w->windowTitle(), QStringLiteral("銘柄選択 -  ルーメンピック　- NORDHAVEN -"));
  EXPECT_EQ(child<QLabel>(w, "hiduke1_lb")->text(),
            QStringLiteral("最新取引日：") + QString::fromStdString(m.dates.back()));
  EXPECT_EQ(child<QComboBox>(w, "rsi1_kikan_cmb")->currentText(), QStringLiteral("14"));
  EXPECT_EQ(child<QComboBox>(w, "rsi1_kikan_cmb")->count(), 1);
  for (int n : {1, 20, 40}) {
    child<QCheckBox>(w, QStringLiteral("pr_chk_%1").arg(n));
    EXPECT_TRUE(child<QRadioButton>(w, QStringLiteral("Option1_%1").arg(n))->isHidden());
  }
  child<QCheckBox>(w, "pr_chk_8")->setChecked(true);
  child<QCheckBox>(w, "pr_chk_1")->setChecked(true);
  child<QLineEdit>(w, "kabukamin")->setText(QStringLiteral("300"));
  child<QLineEdit>(w, "kabukamax")->setText(QStringLiteral("30"));
  child<QLineEdit>(w, "gcdc_txt_0")->setText(QStringLiteral("60"));
  QTest::mouseClick(child<QPushButton>(w, "select_cal1_cmd"), Qt::LeftButton);

  EXPECT_EQ(child<QLabel>(w, "result1_lb_1")->text(), QStringLiteral("2/3"));
  EXPECT_EQ(child<QLabel>(w, "result1_lb_8")->text(), QStringLiteral("0/2"));
  // Clamped parameters are written back into the window.
  EXPECT_EQ(child<QLineEdit>(w, "kabukamin")->text(), QStringLiteral("30"));
  EXPECT_EQ(child<QLineEdit>(w, "kabukamax")->text(), QStringLiteral("300"));
  EXPECT_EQ(child<QLineEdit>(w, "gcdc_txt_0")->text(), QStringLiteral("50"));
  EXPECT_FALSE(child<QRadioButton>(w, "Option1_1")->isHidden());
  EXPECT_TRUE(child<QRadioButton>(w, "Option1_8")->isChecked());
  EXPECT_TRUE(child<QPushButton>(w, "select_cal1_cmd")->isEnabled());
  EXPECT_EQ(child<QLabel>(w, "msg1_lb")->text(), QString());
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel0.csv"), "0," + m.dates.back() + ",-\r\n");

  // The intermediate result of criterion 1.
  QTest::mouseClick(child<QRadioButton>(w, "Option1_1"), Qt::LeftButton);
  EXPECT_EQ(child<QLabel>(w, "msg1_lb")->text(), QStringLiteral("株価範囲による銘柄選択"));
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel0.csv").substr(0, 2), "2,");
  EXPECT_TRUE(child<QRadioButton>(w, "Option1_1")->isChecked());
  EXPECT_FALSE(child<QRadioButton>(w, "Option1_8")->isChecked());
}

TEST(ScreeningWindow, MarketBoxesFollowAll) {
  test::MiniMarket m(5);
  test::add_small_market(m);
  WindowFixture f(m);
  ScreeningWindow* w = f.window.get();
  auto box = [&](int i) { return child<QCheckBox>(w, QStringLiteral("shijyou_chk_%1").arg(i)); };
  // Under the boxes, in words: where today's segments are counted.
  auto* note = child<QLabel>(w, "shijyou_note_lb");
  EXPECT_EQ(note->text(), QStringLiteral("※ 今の市場区分は プライムは東証１、スタンダードは東証２、"
                                         "グロースはﾏｻﾞｰｽﾞ の枠に含めて数えます。"));
  EXPECT_FALSE(note->isHidden());
  QTest::mouseClick(box(6), Qt::LeftButton);  // untick all
  for (int i = 0; i <= 6; ++i) EXPECT_FALSE(box(i)->isChecked()) << i;
  QTest::mouseClick(box(6), Qt::LeftButton);  // tick all
  for (int i = 0; i <= 6; ++i) EXPECT_TRUE(box(i)->isChecked()) << i;
  QTest::mouseClick(box(4), Qt::LeftButton);  // untick JQ: "ａｌｌ" follows, the rest stay
  EXPECT_FALSE(box(4)->isChecked());
  EXPECT_FALSE(box(6)->isChecked());
  for (int i : {0, 1, 2, 3, 5}) EXPECT_TRUE(box(i)->isChecked()) << i;

  // Only "その他" ticked.
  for (int i : {0, 1, 2, 3}) QTest::mouseClick(box(i), Qt::LeftButton);
  child<QCheckBox>(w, "pr_chk_1")->setChecked(true);
  QTest::mouseClick(child<QPushButton>(w, "select_cal1_cmd"), Qt::LeftButton);
  EXPECT_EQ(child<QLabel>(w, "result1_lb_1")->text(), QStringLiteral("1/1"));
}

TEST(ScreeningWindow, DescriptionsPagesAndPreset) {
  test::MiniMarket m(5);
  test::add_small_market(m);
  WindowFixture f(m);
  ScreeningWindow* w = f.window.get();
  EXPECT_EQ(ScreeningWindow::description(6),
            QStringLiteral(
                "７．前日比率による銘柄選択\r\n　　前日比率=100 * (現在値- 前日終値） / 現在値）"));
  EXPECT_TRUE(ScreeningWindow::description(13).isEmpty());
  EXPECT_TRUE(ScreeningWindow::description(3).startsWith(QStringLiteral(
      "４．値幅と現在値1による銘柄検索\r\n　過去Ａ日間における最高値と最安値の値幅を")));
  QTest::mouseClick(child<QLabel>(w, "num1_lb_39"), Qt::LeftButton);
  auto* text = w->findChild<QLabel*>(QStringLiteral("setumei_lb"));
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->text().startsWith(QStringLiteral("４０．移動平均差による銘柄選択\r\n")));

  EXPECT_FALSE(child<QWidget>(w, "settei_frm1_0")->isHidden());
  QTest::mouseClick(child<QRadioButton>(w, "Option2_3"), Qt::LeftButton);
  EXPECT_TRUE(child<QWidget>(w, "settei_frm1_0")->isHidden());
  EXPECT_FALSE(child<QWidget>(w, "settei_frm1_3")->isHidden());

  w->set_controls_state(QStringLiteral("disable"));
  EXPECT_FALSE(child<QWidget>(w, "settei_frm1_3")->isEnabled());
  EXPECT_FALSE(child<QWidget>(w, "shijyou_chk_6")->isEnabled());
  w->set_controls_state(QStringLiteral("other"));
  EXPECT_FALSE(child<QWidget>(w, "stop_cmd")->isEnabled());
  w->set_controls_state(QStringLiteral("enable"));
  EXPECT_TRUE(child<QWidget>(w, "stop_cmd")->isEnabled());

  child<QLineEdit>(w, "kairi2_txt_0")->setText(QStringLiteral("5"));
  QTest::mouseClick(child<QPushButton>(w, "Command2"), Qt::LeftButton);
  EXPECT_EQ(child<QLineEdit>(w, "kairi2_txt_0")->text(), QStringLiteral("65"));
  EXPECT_EQ(child<QLineEdit>(w, "kairi2_txt_1")->text(), QStringLiteral("260"));
  // The preset's periods are those of the long-term cross (18), so that is the criterion it
  // ticks and runs; ticking 9 would run a criterion that never reads them.
  EXPECT_TRUE(child<QCheckBox>(w, "pr_chk_18")->isChecked());
  EXPECT_FALSE(child<QCheckBox>(w, "pr_chk_9")->isChecked());
  EXPECT_EQ(child<QLabel>(w, "result1_lb_9")->text(), QString());
  EXPECT_EQ(child<QLabel>(w, "result1_lb_18")->text(), QStringLiteral("0/3"));
}

}  // namespace
}  // namespace lp::gui
