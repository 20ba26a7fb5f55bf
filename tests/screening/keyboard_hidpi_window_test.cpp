// The screening window for a keyboard user and at a device pixel ratio of 2 (ctest runs these
// tests once more with QT_SCALE_FACTOR=2).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "screening/screening_window.h"
#include "screening_fixture.h"
#include "shell/window_hub_gui.h"
#include "support/gui_checks.h"

namespace lp::gui {
namespace {

template <class T>
T* child(QWidget* w, const QString& name) {
  T* c = w->findChild<T*>(name);
  EXPECT_NE(c, nullptr) << name.toStdString();
  return c;
}

struct KeyboardFixture {
  test::MiniMarket market{30};
  std::unique_ptr<ScreeningWindow> window;
  KeyboardFixture() {
    test::add_small_market(market);
    market.write();
    WindowHub::instance().set_platform(market.platform());
    window = std::make_unique<ScreeningWindow>();
  }
  QPushButton* button(const char* name) { return child<QPushButton>(window.get(), name); }
};

TEST(ScreeningWindowKeyboard, StartIsTheDefaultAndTabReachesEveryButton) {
  KeyboardFixture f;
  ScreeningWindow* w = f.window.get();
  ASSERT_TRUE(test::show_active(w));
  EXPECT_TRUE(f.button("select_cal1_cmd")->isDefault());
  EXPECT_FALSE(f.button("Command2")->isDefault());
  EXPECT_FALSE(f.button("stop_cmd")->isDefault());

  // A run shows the ▽ buttons of the criteria that ran; they must be reachable too.
  child<QCheckBox>(w, "pr_chk_1")->setChecked(true);
  child<QCheckBox>(w, "pr_chk_2")->setChecked(true);
  QTest::mouseClick(f.button("select_cal1_cmd"), Qt::LeftButton);
  ASSERT_TRUE(child<QRadioButton>(w, "Option1_2")->isVisible());

  const auto cycle = test::tab_cycle(child<QRadioButton>(w, "Option2_0"));
  // Top to bottom: the saved screens' 読込/保存/削除, the rows with their ▽ buttons, then MA差,
  // 開始, 検証, 閉じる.
  EXPECT_EQ(test::names_of<QPushButton>(cycle),
            QStringList({"yomikomi_cmd", "hozon_cmd", "sakujo_cmd", "Command2", "select_cal1_cmd",
                         "kensho_cmd", "stop_cmd"}));
  const QStringList options = test::names_of<QRadioButton>(cycle);
  EXPECT_EQ(options.filter(QStringLiteral("Option1_")), QStringList({"Option1_1", "Option1_2"}));
  int first_row = -1, last_push = -1, row_box = -1, market_box = -1;
  for (int i = 0; i < static_cast<int>(cycle.size()); ++i) {
    const QString n = cycle[static_cast<std::size_t>(i)]->objectName();
    if (n == "pr_chk_1" && first_row < 0) first_row = i;
    if (n == "pr_chk_10") row_box = i;
    if (n == "shijyou_chk_0") market_box = i;
    if (n == "Command2") last_push = i;
  }
  EXPECT_LT(first_row, row_box);
  EXPECT_LT(row_box, market_box);
  EXPECT_LT(market_box, last_push);
}

TEST(ScreeningWindowKeyboard, EnterPressesTheFocusedButtonElseStart) {
  struct Case {
    const char* focus;    // the control with the focus when Enter is pressed
    const char* pressed;  // the button Enter presses
  };
  const Case cases[] = {
      {"kabukamin", "select_cal1_cmd"},  // a parameter box: the default button
      {"pr_chk_1", "select_cal1_cmd"},   // a criterion's tick box
      {"shijyou_chk_2", "select_cal1_cmd"},
      {"select_cal1_cmd", "select_cal1_cmd"},
      {"Command2", "Command2"},  // a focused button is pressed itself, not 開始
      {"stop_cmd", "stop_cmd"},
      {"Option1_1", "Option1_1"},  // a row's ▽
  };
  for (const Case& c : cases) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
      KeyboardFixture f;
      ScreeningWindow* w = f.window.get();
      ASSERT_TRUE(test::show_active(w));
      child<QCheckBox>(w, "pr_chk_1")->setChecked(true);
      QTest::mouseClick(f.button("select_cal1_cmd"), Qt::LeftButton);  // shows Option1_1
      // Only which button Enter presses is under test: MA差 and 閉じる do nothing here.
      for (const char* quiet : {"Command2", "stop_cmd"}) {
        QObject::disconnect(f.button(quiet), &QAbstractButton::clicked, nullptr, nullptr);
      }
      std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> spies;
      for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
        spies.emplace_back(b->objectName(),
                           std::make_unique<QSignalSpy>(b, &QAbstractButton::clicked));
      }
      auto* focus = child<QWidget>(w, QLatin1String(c.focus));
      focus->setFocus(Qt::TabFocusReason);
      ASSERT_EQ(QApplication::focusWidget(), focus) << c.focus;
      QTest::keyClick(focus, key);
      QStringList pressed;
      for (const auto& [name, spy] : spies) {
        if (spy->count() > 0) pressed << name;
      }
      EXPECT_EQ(pressed, QStringList({QLatin1String(c.pressed)}))
          << "Enter in " << c.focus << " key " << static_cast<int>(key);
    }
  }
}

TEST(ScreeningWindowKeyboard, SpacePressesTheFocusedButton) {
  KeyboardFixture f;
  ScreeningWindow* w = f.window.get();
  ASSERT_TRUE(test::show_active(w));
  for (const char* name : {"Command2", "select_cal1_cmd", "stop_cmd"}) {
    QPushButton* b = f.button(name);
    QObject::disconnect(b, &QAbstractButton::clicked, nullptr, nullptr);
    QSignalSpy clicked(b, &QAbstractButton::clicked);
    b->setFocus(Qt::TabFocusReason);
    QTest::keyClick(b, Qt::Key_Space);
    EXPECT_EQ(clicked.count(), 1) << name;
  }
}

TEST(ScreeningWindowHiDpi, CaptionsFitOnEveryPage) {
  KeyboardFixture f;
  ScreeningWindow* w = f.window.get();
  ASSERT_TRUE(test::show_active(w));
  EXPECT_DOUBLE_EQ(w->devicePixelRatioF(), test::requested_scale());
  child<QCheckBox>(w, "pr_chk_1")->setChecked(true);
  QTest::mouseClick(f.button("select_cal1_cmd"), Qt::LeftButton);
  test::save_snapshot(w, QStringLiteral("screening_window"));
  for (int page = 0; page < 5; ++page) {
    QTest::mouseClick(child<QRadioButton>(w, QStringLiteral("Option2_%1").arg(page)),
                      Qt::LeftButton);
    EXPECT_EQ(test::clipped_captions(w), QStringList()) << "page " << page + 1;
  }
}

}  // namespace
}  // namespace lp::gui
