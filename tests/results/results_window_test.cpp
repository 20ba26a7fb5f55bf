#include "results/results_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "common/numbers.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"

QT_BEGIN_NAMESPACE
// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace lp::gui {
namespace {

// Processes events until `done` holds or the time is up; returns whether it holds.
template <class Pred>
bool wait_until(Pred done, int ms = 3000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return done();
}

// The chart's documented hand-over controls; a code change keeps it "busy" for a while, as
// a redraw does.
class ChartDouble : public QWidget {
 public:
  ChartDouble() {
    auto* layout = new QVBoxLayout(this);
    for (const char* name : {"meigara_code_txt", "meigara_txt", "refer1_txt"}) {
      auto* box = new QLineEdit(this);
      box->setObjectName(name);
      layout->addWidget(box);
    }
    auto* check = new QCheckBox(this);
    check->setObjectName("refer1_chk");
    layout->addWidget(check);
    busy = new QLabel(this);
    busy->setObjectName("busy_flag_lb");
    layout->addWidget(busy);
    connect(findChild<QLineEdit*>("meigara_code_txt"), &QLineEdit::textChanged, this,
            [this](const QString& code) {
              codes << code;
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
    p.documents_folder = docs_.str();
    p.desktop_folder = docs_.str();
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

  std::string result_path() const { return docs_.str() + "/nordhaven/lumenpick/user/sel0_out.csv"; }

  // n results: result k has code 1000 + k and close 100 + k; every third has no volume.
  void write_results(int n, const std::string& caption = "値上率") {
    std::string text = std::to_string(n) + ",20240105,銘柄," + caption +
                       ",始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n";
    for (int k = 1; k <= n; ++k) {
      const std::string close = std::to_string(100 + k);
      text += std::to_string(1000 + k) + ",東証1部,ｻｸﾗ電機" + std::to_string(k) + "," +
              std::to_string(k) + ".5,100,120,90," + close + "," + (k % 3 ? "200" : "0") +
              ",100,300," + std::to_string(k) + "\r\n";
    }
    test::write_cp932(result_path(), text);
  }

  void hand_over() {
    auto* flag = control<QLabel>(window_, "startflag_lb");
    flag->setText("start");
    EXPECT_TRUE(wait_until([flag] { return flag->text() == "done"; }));
  }

  QTableWidget* grid() { return control<QTableWidget>(window_, "MSFlexGrid1"); }
  QString cell(int r, int c) { return grid()->item(r, c)->text(); }
  QPushButton* button(const char* name) { return control<QPushButton>(window_, name); }
  QComboBox* pages() { return control<QComboBox>(window_, "page1_cmb"); }

  void double_click(int row, int column) {
    const QRect rect = grid()->visualItemRect(grid()->item(row, column));
    // A user's double click: the first click's press and release, then the double click.
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, rect.center());
  }

  test::TempDir docs_;
  ResultsWindow* window_ = nullptr;
  ChartDouble* chart_ = nullptr;
};

TEST_F(ResultsWindowTest, HandOverShowsPageZeroWithCaptionsColoursAndButtons) {
  write_results(26);
  hand_over();
  EXPECT_EQ(control<QLabel>(window_, "hiduke1_lb")->text(), "最新取引日：20240105");
  const QStringList captions = {"No", "ｺｰﾄﾞ", "銘柄", "終値", "前日比率", "値上率"};
  for (int c = 0; c < 6; ++c) EXPECT_EQ(cell(0, c), captions[c]);
  EXPECT_EQ(cell(1, 0), "1");
  EXPECT_EQ(cell(1, 1), "1001");
  EXPECT_EQ(cell(1, 2), "ｻｸﾗ電機1");
  EXPECT_EQ(cell(1, 3), "101");
  EXPECT_EQ(cell(1, 4), "1.00");
  EXPECT_EQ(cell(1, 5), "1.50");
  EXPECT_EQ(cell(3, 4), "-");  // no volume
  EXPECT_EQ(cell(25, 1), "1025");
  // Rows rise (red); the row without volume keeps the colour above; numbers stay black.
  EXPECT_EQ(grid()->item(1, 1)->foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(grid()->item(3, 3)->foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(grid()->item(1, 0)->foreground().color(), QColor(0, 0, 0));
  EXPECT_EQ(pages()->count(), 2);
  EXPECT_EQ(pages()->currentText(), " 0");
  EXPECT_TRUE(button("next1_cmd")->isEnabled());
  EXPECT_FALSE(button("back1_cmd")->isEnabled());

  window_->grab().save(QCoreApplication::applicationDirPath() + "/results_window.png");

  QTest::mouseClick(button("next1_cmd"), Qt::LeftButton);
  EXPECT_EQ(pages()->currentText(), " 1");
  EXPECT_EQ(cell(1, 0), "26");
  EXPECT_EQ(cell(1, 1), "1026");
  EXPECT_EQ(cell(2, 1), "");
  EXPECT_FALSE(button("next1_cmd")->isEnabled());
  EXPECT_TRUE(button("back1_cmd")->isEnabled());
}

TEST_F(ResultsWindowTest, EmptyOrMissingResultShowsNothingAndAnswersDone) {
  for (bool write_empty : {true, false}) {
    SCOPED_TRACE(write_empty ? "count 0" : "missing file");
    write_results(30);
    hand_over();  // something shown before
    if (write_empty) {
      write_results(0);
    } else {
      std::filesystem::remove(result_path());
    }
    hand_over();
    EXPECT_EQ(pages()->count(), 0);
    EXPECT_EQ(cell(1, 1), "");
    EXPECT_FALSE(button("next1_cmd")->isEnabled());
    EXPECT_FALSE(button("back1_cmd")->isEnabled());
    QTest::mouseClick(control<QPushButton>(window_, "bk_nx_cmd_0"), Qt::LeftButton);
    EXPECT_TRUE(window_->ready());
  }
}

TEST_F(ResultsWindowTest, ChoosingACellSendsTheCodeAndResetsTheReferenceLine) {
  write_results(30);
  hand_over();
  control<QCheckBox>(chart_, "refer1_chk")->setChecked(true);
  control<QLineEdit>(chart_, "refer1_txt")->setText("1234");
  grid()->setCurrentCell(4, 2);
  EXPECT_EQ(control<QLineEdit>(chart_, "meigara_code_txt")->text(), "1004");
  EXPECT_FALSE(control<QCheckBox>(chart_, "refer1_chk")->isChecked());
  EXPECT_EQ(control<QLineEdit>(chart_, "refer1_txt")->text(), "1000");
}

TEST_F(ResultsWindowTest, SteppingWrapsAcrossPagesAndWaitsForTheChart) {
  write_results(30);
  hand_over();
  QTest::mouseClick(button("next1_cmd"), Qt::LeftButton);
  grid()->setCurrentCell(5, 3);  // result 30, the last one
  struct Step {
    int button;
    QString code, page;
    int row;
  };
  const Step steps[] = {
      {0, "1001", " 0", 1},  // ▽ on the last result wraps to result 1
      {1, "1030", " 1", 5},  // △ on result 1 wraps to n on the last page
      {1, "1029", " 1", 4},
      {0, "1030", " 1", 5},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.code.toStdString());
    QTest::mouseClick(control<QPushButton>(window_, s.button ? "bk_nx_cmd_1" : "bk_nx_cmd_0"),
                      Qt::LeftButton);
    EXPECT_EQ(chart_->codes.last(), s.code);
    EXPECT_EQ(chart_->busy->text(), "");  // the step returned only after the redraw
    EXPECT_EQ(pages()->currentText(), s.page);
    EXPECT_EQ(grid()->currentRow(), s.row);
    EXPECT_EQ(grid()->currentColumn(), 3);
    EXPECT_TRUE(window_->ready());
  }
}

TEST_F(ResultsWindowTest, DoubleClickOnCloseSortsDescendingThenAscending) {
  write_results(30);
  hand_over();
  QTest::mouseClick(button("next1_cmd"), Qt::LeftButton);
  double_click(2, 3);
  EXPECT_EQ(pages()->currentText(), " 0");
  EXPECT_EQ(cell(1, 3), "130");
  EXPECT_EQ(cell(2, 3), "129");
  EXPECT_EQ(control<QLabel>(window_, "msg1_lb")->text(), "");
  EXPECT_TRUE(grid()->isEnabled());
  double_click(2, 3);
  EXPECT_EQ(cell(1, 3), "101");
  EXPECT_EQ(cell(25, 3), "125");
  EXPECT_EQ(window_->table().field(30, result_field::kCode), "1030");
}

TEST_F(ResultsWindowTest, ReleasingTheMouseCopiesTheSelectionWithoutSeparators) {
  // Closes above a thousand so that the grid shows thousands separators.
  std::string text =
      "2,20240105,銘柄,-,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n";
  text += "1301,東証1部,極洋,-,1200,0,0,1234.4,10,1200,5,1\r\n";
  text += "7203,東証1部,トヨタ,-,9000,0,0,12345,10,12000,5,2\r\n";
  test::write_cp932(result_path(), text);
  hand_over();
  grid()->setRangeSelected(QTableWidgetSelectionRange(1, 1, 2, 3), true);
  QTest::mouseRelease(grid()->viewport(), Qt::LeftButton, {},
                      grid()->visualItemRect(grid()->item(2, 3)).center());
  EXPECT_EQ(QApplication::clipboard()->text(), "1301,極洋,1234\r\n7203,トヨタ,12345");
}

}  // namespace
}  // namespace lp::gui
