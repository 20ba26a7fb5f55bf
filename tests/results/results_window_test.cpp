#include "results/results_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "pricedb/fins_store.h"
#include "pricedb/sectors.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"

namespace lp::gui {
namespace {

// The chart's hand-over controls; a new code keeps it "busy" for a while, as a redraw does.
class ChartDouble : public QWidget {
 public:
  ChartDouble() {
    (new QLineEdit(this))->setObjectName("refer1_txt");
    (new QCheckBox(this))->setObjectName("refer1_chk");
    (busy = new QLabel(this))->setObjectName("busy_flag_lb");
    auto* code = new QLineEdit(this);
    code->setObjectName("meigara_code_txt");
    connect(code, &QLineEdit::textChanged, this, [this](const QString& text) {
      codes << text;
      busy->setText("busy");
      QTimer::singleShot(40, this, [this] { busy->clear(); });
    });
  }
  QLabel* busy = nullptr;
  QStringList codes;
};

LP_REGISTER_WINDOW("graph", [] { return new ChartDouble; });

class ResultsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Platform p;
    p.documents_folder = p.desktop_folder = docs_.str();
    p.today = [] { return std::string("20240105"); };
    p.yield = [] { QCoreApplication::processEvents(); };
    WindowHub::instance().set_platform(p);
    window_ = new ResultsWindow;
    window_->show();
    chart_ = static_cast<ChartDouble*>(WindowHub::instance().show_window("graph"));
  }
  void TearDown() override {
    delete window_;
    if (QWidget* chart = WindowHub::instance().window("graph", false)) chart->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // n results: result k has code 1000 + k and close 2000 + k; every third has no volume.
  // n < 0 removes the file.
  void hand_over(int n) {
    const std::string path = docs_.str() + "/nordhaven/lumenpick/user/sel0_out.csv";
    std::string text =
        std::to_string(n) +
        ",20240105,銘柄,値上率,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n";
    for (int k = 1; k <= n; ++k) {
      text += std::to_string(1000 + k) + ",東証1部,ｻｸﾗ電機" + std::to_string(k) + "," +
              std::to_string(k) + ".5,2000,2100,1990," + std::to_string(2000 + k) + "," +
              (k % 3 ? "200" : "0") + ",2000,300," + std::to_string(k) + "\r\n";
    }
    if (n >= 0) test::write_cp932(path, text);
    if (n < 0) std::filesystem::remove(path);
    auto* flag = control<QLabel>(window_, "startflag_lb");
    flag->setText("start");
    QElapsedTimer t;
    t.start();
    while (flag->text() != "done" && t.elapsed() < 3000) QTest::qWait(5);
    EXPECT_EQ(flag->text(), "done");
  }

  QTableWidget* grid() { return control<QTableWidget>(window_, "MSFlexGrid1"); }
  QString cell(int r, int c) { return grid()->item(r, c)->text(); }
  void click(const char* name) {
    QTest::mouseClick(control<QPushButton>(window_, name), Qt::LeftButton);
  }
  bool enabled(const char* name) { return control<QPushButton>(window_, name)->isEnabled(); }
  QString page() { return control<QComboBox>(window_, "page1_cmb")->currentText(); }

  test::TempDir docs_;
  ResultsWindow* window_ = nullptr;
  ChartDouble* chart_ = nullptr;
};

TEST_F(ResultsWindowTest, HandOverShowsPageZeroAndNextShowsResult26) {
  hand_over(26);
  EXPECT_EQ(control<QLabel>(window_, "hiduke1_lb")->text(), "最新取引日：20240105");
  EXPECT_EQ(control<QLabel>(window_, "kensuu_lb")->text(), "26件");
  EXPECT_EQ(control<QLabel>(window_, "msg1_lb")->text(), "");
  const QStringList row0 = {"No", "ｺｰﾄﾞ", "銘柄", "終値", "前日比率", "値上率"};
  const QStringList row1 = {"1", "1001", "ｻｸﾗ電機1", "2,001", "0.05", "1.50"};
  for (int c = 0; c < 6; ++c) {
    EXPECT_EQ(cell(0, c), row0[c]);
    EXPECT_EQ(cell(1, c), row1[c]);
  }
  EXPECT_EQ(cell(3, 4), "-");  // no volume
  // Rising rows are red, the row without volume keeps the colour above, numbers stay black.
  EXPECT_EQ(grid()->item(1, 1)->foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(grid()->item(3, 3)->foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(grid()->item(1, 0)->foreground().color(), QColor(0, 0, 0));
  // The colours follow the candle (close against open), which the 終値 caption explains.
  EXPECT_TRUE(grid()->item(0, 3)->toolTip().contains("始値"));
  EXPECT_EQ(page(), " 0");
  EXPECT_TRUE(enabled("next1_cmd"));
  EXPECT_FALSE(enabled("back1_cmd"));
  window_->grab().save(QCoreApplication::applicationDirPath() + "/results_window.png");

  click("next1_cmd");
  EXPECT_EQ(page(), " 1");
  EXPECT_EQ(cell(1, 1), "1026");
  EXPECT_EQ(cell(2, 1), "");
  EXPECT_FALSE(enabled("next1_cmd"));
  EXPECT_TRUE(enabled("back1_cmd"));
}

TEST_F(ResultsWindowTest, EmptyOrMissingResultShowsNothingAndAnswersDone) {
  for (int n : {0, -1}) {
    hand_over(30);  // something shown before
    hand_over(n);
    // Said in words: a run that kept nothing is not a missing file.
    EXPECT_EQ(control<QLabel>(window_, "kensuu_lb")->text(), "0件");
    EXPECT_EQ(control<QLabel>(window_, "msg1_lb")->text(),
              n == 0 ? "条件に合う銘柄はありませんでした（0件）。"
                     : "結果ファイル（sel0_out.csv）がありません。");
    EXPECT_EQ(control<QComboBox>(window_, "page1_cmb")->count(), 0);
    EXPECT_EQ(cell(1, 1), "");
    EXPECT_FALSE(enabled("next1_cmd"));
    EXPECT_FALSE(enabled("back1_cmd"));
    click("bk_nx_cmd_0");
    EXPECT_TRUE(window_->ready());
  }
}

TEST_F(ResultsWindowTest, ACellAndTheStepButtonsSendCodesWrappingAndWaitingForTheChart) {
  hand_over(30);
  control<QCheckBox>(chart_, "refer1_chk")->setChecked(true);
  control<QLineEdit>(chart_, "refer1_txt")->setText("1234");
  grid()->setCurrentCell(4, 2);
  EXPECT_EQ(chart_->codes.last(), "1004");
  EXPECT_FALSE(control<QCheckBox>(chart_, "refer1_chk")->isChecked());
  EXPECT_EQ(control<QLineEdit>(chart_, "refer1_txt")->text(), "1000");

  click("next1_cmd");
  grid()->setCurrentCell(5, 3);  // result 30, the last one
  struct Step {
    const char* button;
    QString code, page;
    int row;
  };
  const Step steps[] = {
      {"bk_nx_cmd_0", "1001", " 0", 1},  // ▽ on the last result wraps to result 1
      {"bk_nx_cmd_1", "1030", " 1", 5},  // △ on result 1 wraps to n on the last page
      {"bk_nx_cmd_1", "1029", " 1", 4},
  };
  for (const Step& s : steps) {
    click(s.button);
    EXPECT_EQ(chart_->codes.last(), s.code);
    EXPECT_EQ(chart_->busy->text(), "");  // the step returned only after the redraw
    EXPECT_EQ(page(), s.page);
    EXPECT_EQ(grid()->currentRow(), s.row);
    EXPECT_EQ(grid()->currentColumn(), 3);
  }
}

TEST_F(ResultsWindowTest, DoubleClicksOnTheCloseSortDescendingThenAscending) {
  hand_over(30);
  click("next1_cmd");
  const QPoint at = grid()->visualItemRect(grid()->item(2, 3)).center();
  QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(page(), " 0");
  EXPECT_EQ(cell(1, 3), "2,030");
  EXPECT_EQ(cell(2, 3), "2,029");
  EXPECT_EQ(control<QLabel>(window_, "msg1_lb")->text(), "");  // "ソーティング処理中" gone
  EXPECT_TRUE(grid()->isEnabled());
  QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(cell(1, 3), "2,001");
  EXPECT_EQ(cell(25, 3), "2,025");
}

TEST_F(ResultsWindowTest, ReleasingTheMouseCopiesTheSelectionWithoutSeparators) {
  hand_over(2);
  grid()->setRangeSelected(QTableWidgetSelectionRange(1, 1, 2, 3), true);
  QTest::mouseRelease(grid()->viewport(), Qt::LeftButton, {},
                      grid()->visualItemRect(grid()->item(2, 3)).center());
  EXPECT_EQ(QApplication::clipboard()->text(), "1001,ｻｸﾗ電機1,2001\r\n1002,ｻｸﾗ電機2,2002");
}

TEST_F(ResultsWindowTest, ExportWritesTheListInItsSortedOrder) {
  hand_over(30);
  grid()->setCurrentCell(0, 3);
  grid()->cellDoubleClicked(0, 3);  // 終値, descending
  click("syuturyoku_cmd");
  auto* dialog = window_->findChild<QFileDialog*>("syuturyoku_dlg");
  ASSERT_NE(dialog, nullptr);
  const QString path = QString::fromStdString(docs_.str()) + "/sorted";
  dialog->selectNameFilter("CSV UTF-8 (*.csv)");
  dialog->selectFile(path);
  QMetaObject::invokeMethod(dialog, "accept");
  const std::string csv = test::read_bytes(path.toStdString() + ".csv");
  ASSERT_GT(csv.size(), 3u);
  EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  // The first result line is the highest close: result 30, code 1030.
  const std::size_t first = csv.find("\r\n") + 2;
  EXPECT_EQ(csv.substr(first, 8), "1,1030,\xE6");
  EXPECT_EQ(control<QLabel>(window_, "msg1_lb")->text(), "30件を出力しました：" + path + ".csv");

  // A folder in the way: the failure is shown in red.
  std::filesystem::create_directories(docs_.str() + "/busy.xlsx/x");
  EXPECT_FALSE(window_->export_to(QString::fromStdString(docs_.str() + "/busy.xlsx"), false));
  EXPECT_TRUE(control<QLabel>(window_, "msg1_lb")->text().endsWith("に書き込めません。"));
  EXPECT_TRUE(control<QLabel>(window_, "msg1_lb")->styleSheet().contains("255, 0, 0"));
}

}  // namespace
}  // namespace lp::gui

namespace lp::gui {
namespace {

TEST_F(ResultsWindowTest, CtrlCCopiesTheSelectedBlockAsTheMouseReleaseDoes) {
  hand_over(3);
  grid()->clearSelection();
  grid()->setRangeSelected(QTableWidgetSelectionRange(2, 1, 3, 3), true);
  QApplication::clipboard()->clear();
  QTest::keyClick(grid(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "1002,ｻｸﾗ電機2,2002\r\n1003,ｻｸﾗ電機3,2003");
}

TEST_F(ResultsWindowTest, DraggingDownTheNumberColumnSelectsWholeRows) {
  hand_over(5);
  auto centre = [&](int r, int c) { return grid()->visualItemRect(grid()->item(r, c)).center(); };
  QTest::mousePress(grid()->viewport(), Qt::LeftButton, {}, centre(2, 0));
  QMouseEvent move(QEvent::MouseMove, centre(4, 0), grid()->viewport()->mapToGlobal(centre(4, 0)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(grid()->viewport(), &move);
  QTest::mouseRelease(grid()->viewport(), Qt::LeftButton, {}, centre(4, 0));
  const QList<QTableWidgetSelectionRange> ranges = grid()->selectedRanges();
  ASSERT_EQ(ranges.size(), 1);
  EXPECT_EQ(ranges[0].topRow(), 2);
  EXPECT_EQ(ranges[0].bottomRow(), 4);
  EXPECT_EQ(ranges[0].leftColumn(), 1);
  EXPECT_EQ(ranges[0].rightColumn(), 5);
  EXPECT_TRUE(QApplication::clipboard()->text().startsWith("1002,ｻｸﾗ電機2,2002,"));
  EXPECT_EQ(QApplication::clipboard()->text().count("\r\n"), 2);
  // The selection stays highlighted when the grid loses the focus to another window.
  const QPalette pal = grid()->palette();
  EXPECT_EQ(pal.color(QPalette::Inactive, QPalette::Highlight),
            pal.color(QPalette::Active, QPalette::Highlight));
  grid()->grab().save(QString::fromStdString(docs_.str() + "/results_rows_selected.png"));
}

TEST_F(ResultsWindowTest, DoubleClicksOnTheNameSortNamesAsText) {
  hand_over(30);
  const QPoint at = grid()->visualItemRect(grid()->item(1, 2)).center();
  QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, at);
  // Descending as text: "ｻｸﾗ電機9" first (the codes would put 1030 there).
  EXPECT_EQ(cell(1, 1), "1009");
  EXPECT_EQ(cell(2, 1), "1008");
}

}  // namespace
}  // namespace lp::gui

namespace lp::gui {
namespace {

// With results summaries in the database the four columns appear at the right end; a double
// click sorts them with the results that have no figure last, whichever the direction.
TEST_F(ResultsWindowTest, ValuationColumnsShowAndSortWithMissingFiguresLast) {
  std::vector<fins::Disclosure> list;
  for (const auto& [code, eps] : {std::pair{"1001", "200"}, std::pair{"1003", "100"}}) {
    fins::Disclosure d;
    d.set(fins::DiscDate, "20231110");
    d.set(fins::Code, code);
    d.set(fins::DiscNo, std::string("1") + code);
    d.set(fins::CurFYEn, "20240331");
    d.set(fins::FEPS, eps);
    d.set(fins::BPS, "4003");
    d.set(fins::FDivAnn, "60");
    d.set(fins::ShOutFY, "10000000");
    list.push_back(d);
  }
  fins::StoreStats stats;
  std::string error;
  ASSERT_TRUE(
      fins::store_disclosures(docs_.str() + "/nordhaven/lumenpick/kabuka_db/", list, stats, error))
      << error;
  // The industries of a master: 1001 in 電気機器; 1002 and 1003 not named.
  ASSERT_TRUE(sectors::store_sectors(
      docs_.str() + "/nordhaven/lumenpick/kabuka_db/",
      {{20231110, {{"1001", {0, "9", "電機・精密", "3650", "電気機器", "プライム"}}}}}, error))
      << error;
  hand_over(3);
  const QStringList captions = {"予想PER", "PBR", "予想利回り", "時価総額(億円)", "業種"};
  for (int k = 0; k < 5; ++k) {
    EXPECT_FALSE(grid()->isColumnHidden(6 + k));
    EXPECT_EQ(cell(0, 6 + k), captions[k]);
  }
  EXPECT_EQ(cell(1, 10), "電気機器");
  EXPECT_EQ(cell(2, 10), "");
  // Result 1: code 1001 at 2,001; result 3: 1003 at 2,003 (half its PER: 20.03).
  const QStringList row1 = {"10.0", "0.50", "3.00", "200"};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(cell(1, 6 + k), row1[k]) << k;
  EXPECT_EQ(cell(2, 6), "-");
  EXPECT_EQ(grid()->item(1, 6)->foreground().color(), grid()->item(1, 1)->foreground().color());
  window_->grab().save("/tmp/results_valuation.png");

  grid()->setCurrentCell(1, 6);
  grid()->cellDoubleClicked(1, 6);  // descending
  EXPECT_EQ(cell(1, 1), "1003");
  EXPECT_EQ(cell(2, 1), "1001");
  EXPECT_EQ(cell(3, 1), "1002");
  grid()->cellDoubleClicked(1, 6);  // ascending: the missing PER still last
  EXPECT_EQ(cell(1, 1), "1001");
  EXPECT_EQ(cell(3, 1), "1002");

  EXPECT_TRUE(window_->export_to(QString::fromStdString(docs_.str() + "/v.csv"), true));
  const std::string csv = test::read_bytes(docs_.str() + "/v.csv");
  EXPECT_NE(csv.find("\x97\x5c\x91\x7a"
                     "PER"),
            std::string::npos)
      << "予想PER in CP932";
  EXPECT_NE(csv.find(",0.50,3.00,200,\x93\x64\x8b\x43\x8b\x40\x8a\xed\r\n"), std::string::npos)
      << "the figures, then 電気機器 in CP932";
  EXPECT_NE(csv.find(",,,,,\r\n"), std::string::npos) << "no figures, no industry: empty cells";
}

}  // namespace
}  // namespace lp::gui
