#include "search/search_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTest>

#include "pricedb/formats.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"

namespace lp::gui {
namespace {

// The chart's hand-over controls.
class ChartDouble : public QWidget {
 public:
  ChartDouble() {
    for (const char* name : {"meigara_code_txt", "meigara_txt", "refer1_txt"}) add<QLineEdit>(name);
    add<QCheckBox>("refer1_chk");
    add<QLabel>("graph_mode1");
    add<QLabel>("graph_modecnt1");
  }
  template <class T>
  void add(const char* name) {
    (new T(this))->setObjectName(name);
  }
};

LP_REGISTER_WINDOW("graph", [] { return new ChartDouble; });

class SearchWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Platform p;
    p.documents_folder = p.desktop_folder = docs_.str();
    p.today = [] { return std::string("20240110"); };
    p.yield = [] { QCoreApplication::processEvents(); };
    WindowHub::instance().set_platform(p);
    chart_ = WindowHub::instance().show_window("graph");
  }
  void TearDown() override {
    if (window_) window_->close();
    if (chart_) chart_->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  QLineEdit* chart_box(const char* name) { return control<QLineEdit>(chart_, name); }
  QListWidget* list() { return control<QListWidget>(window_, "List1"); }

  // Opens the window the way the chart does and waits for the search to finish.
  void open_and_start(const QString& query) {
    chart_box("meigara_txt")->setText(query);
    window_ = new SearchWindow;
    window_->setAttribute(Qt::WA_DeleteOnClose);
    window_->show();
    auto* flag = control<QLabel>(window_, "flg_lb");
    flag->setText("start");
    QElapsedTimer t;
    t.start();
    while (!flag->text().isEmpty() && t.elapsed() < 3000) QTest::qWait(5);
    EXPECT_EQ(flag->text(), "");
  }
  QStringList lines() {
    QStringList out;
    for (int k = 0; k < list()->count(); ++k) out << list()->item(k)->text();
    return out;
  }
  void click_line(int k) {
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                      list()->visualItemRect(list()->item(k)).center());
  }

  test::TempDir docs_;
  QPointer<QWidget> chart_;
  QPointer<SearchWindow> window_;
};

TEST_F(SearchWindowTest, StartFlagListsRankedNamesAndAPickFeedsTheChart) {
  const std::string db = docs_.str() + "/nordhaven/lumenpick/kabuka_db/";
  test::write_series_file(db, 2024, "1001", "基準", {{"20240105", 1, 1, 1, 1, 1}});
  test::write_cp932(day_file_path(db, "20240105"),
                    "20240105,3,0,0,0,0,0,0\r\n1301,東証1部,ｻｸﾗ電機,1,1,1,1,1\r\n"
                    "1302,東証1部,サクラ精密工業(株),1,1,1,1,1\r\n"
                    "1303,JASDAQ,(株)さくらネット,1,1,1,1,1\r\n");
  open_and_start(" さくら ");
  // Equal scores: the name closer in length to the query first.
  EXPECT_EQ(lines(),
            (QStringList{"1301　ｻｸﾗ電機", "1303　(株)さくらネット", "1302　サクラ精密工業(株)"}));
  EXPECT_EQ(list()->palette().color(QPalette::Text), QColor(0, 0, 255));
  window_->grab().save(QCoreApplication::applicationDirPath() + "/search_window.png");

  const QString picks[][2] = {{"1302", "サクラ精密"}, {"1303", "さくらネッ"}};
  for (int k : {2, 1}) {
    control<QCheckBox>(chart_, "refer1_chk")->setChecked(true);
    chart_box("refer1_txt")->setText("555");
    click_line(k);
    EXPECT_EQ(chart_box("meigara_code_txt")->text(), picks[2 - k][0]);
    EXPECT_EQ(chart_box("meigara_txt")->text(), picks[2 - k][1]);
    EXPECT_FALSE(control<QCheckBox>(chart_, "refer1_chk")->isChecked());
    EXPECT_EQ(chart_box("refer1_txt")->text(), "1000");
    EXPECT_EQ(control<QLabel>(chart_, "graph_mode1")->text(), "2");
    EXPECT_EQ(control<QLabel>(chart_, "graph_modecnt1")->text(), "2");
  }
}

TEST_F(SearchWindowTest, NoDayFileShowsTheRedMessageAndPicksNothing) {
  open_and_start("サクラ");
  EXPECT_EQ(lines(), QStringList{"銘柄の検索ができません。"});
  EXPECT_EQ(list()->palette().color(QPalette::Text), QColor(255, 0, 0));
  chart_box("meigara_code_txt")->setText("7203");
  click_line(0);
  EXPECT_EQ(chart_box("meigara_code_txt")->text(), "7203");
}

TEST_F(SearchWindowTest, ClosesAtOnceWhenTheChartHasNoName) {
  chart_box("meigara_txt")->setText("   ");
  window_ = new SearchWindow;
  window_->setAttribute(Qt::WA_DeleteOnClose);
  window_->show();
  QElapsedTimer t;
  t.start();
  while (window_ && window_->isVisible() && t.elapsed() < 3000) QTest::qWait(5);
  EXPECT_TRUE(!window_ || !window_->isVisible());
}


TEST(PlaceBeside, OpensNextToTheNameBoxAndOnTheScreen) {
  const QRect screen(0, 0, 1600, 1000);
  const QSize size(380, 440);
  struct Case {
    QRect anchor;
    QPoint want;
  } cases[] = {
      {QRect(200, 100, 150, 24), QPoint(358, 100)},    // room on the right
      {QRect(1300, 100, 150, 24), QPoint(912, 100)},   // the right is full: on the left
      {QRect(0, 100, 1600, 24), QPoint(0, 132)},       // neither side: below
      {QRect(200, 900, 150, 24), QPoint(358, 560)},    // low on the screen: slid up
      {QRect(1300, 900, 150, 24), QPoint(912, 560)},
  };
  for (const Case& c : cases) {
    const QPoint at = place_beside(c.anchor, size, screen);
    EXPECT_EQ(at, c.want) << c.anchor.x() << "," << c.anchor.y();
    EXPECT_TRUE(screen.contains(QRect(at, size)));
    EXPECT_FALSE(QRect(at, size).intersects(c.anchor));
  }
}

TEST_F(SearchWindowTest, ACutListSaysSoAndTheWindowLeavesTheNameBoxInSight) {
  const std::string db = docs_.str() + "/nordhaven/lumenpick/kabuka_db/";
  test::write_series_file(db, 2024, "1001", "基準", {{"20240105", 1, 1, 1, 1, 1}});
  for (int n : {100, 101}) {
    SCOPED_TRACE(n);
    std::string day = "20240105," + std::to_string(n) + ",0,0,0,0,0,0\r\n";
    for (int k = 0; k < n; ++k) {
      day += std::to_string(2000 + k) + ",東証1部,ｻｸﾗ" + std::to_string(k) + ",1,1,1,1,1\r\n";
    }
    test::write_cp932(day_file_path(db, "20240105"), day);
    chart_->move(100, 100);
    chart_box("meigara_txt")->move(20, 20);
    open_and_start("サクラ");
    EXPECT_EQ(list()->count(), 100);
    auto* cut = control<QLabel>(window_, "cut_lb");
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->text(), "上位100件を表示");
    EXPECT_EQ(cut->isVisible(), n > 100);
    if (n > 100) window_->grab().save(QCoreApplication::applicationDirPath() + "/search_cut.png");
    QLineEdit* box = chart_box("meigara_txt");
    const QRect box_rect(box->mapToGlobal(QPoint(0, 0)), box->size());
    EXPECT_FALSE(window_->frameGeometry().intersects(box_rect));
    window_->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

}  // namespace
}  // namespace lp::gui
