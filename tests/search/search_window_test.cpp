#include "search/search_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QVBoxLayout>

#include "pricedb/formats.h"
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

// The chart's documented hand-over controls.
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
    for (const char* name : {"graph_mode1", "graph_modecnt1", "busy_flag_lb"}) {
      auto* label = new QLabel(this);
      label->setObjectName(name);
      layout->addWidget(label);
    }
  }
};

LP_REGISTER_WINDOW("graph", [] { return new ChartDouble; });

class SearchWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Platform p;
    p.documents_folder = docs_.str();
    p.desktop_folder = docs_.str();
    p.today = [] { return std::string("20240110"); };
    p.yield = [] { QCoreApplication::processEvents(); };
    WindowHub::instance().set_platform(p);
    chart_ = WindowHub::instance().show_window("graph");
  }
  void TearDown() override {
    if (chart_) chart_->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  std::string db() const { return docs_.str() + "/nordhaven/lumenpick/kabuka_db/"; }
  void add_day(const std::string& date, const std::string& lines, int count) {
    test::write_series_file(db(), 2024, "1001", "基準", {{date, 1, 1, 1, 1, 1}});
    test::write_cp932(day_file_path(db(), date),
                      date + "," + std::to_string(count) + ",0,0,0,0,0,0\r\n" + lines);
  }
  QLineEdit* chart_box(const char* name) { return control<QLineEdit>(chart_, name); }

  // Opens a search window the way the chart does and waits for the search to finish.
  SearchWindow* open_and_start(const QString& query) {
    chart_box("meigara_txt")->setText(query);
    auto* w = new SearchWindow;
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    auto* flag = control<QLabel>(w, "flg_lb");
    flag->setText("start");
    EXPECT_TRUE(wait_until([flag] { return flag->text().isEmpty(); }));
    return w;
  }
  QStringList lines(SearchWindow* w) {
    QStringList out;
    auto* list = control<QListWidget>(w, "List1");
    for (int k = 0; k < list->count(); ++k) out << list->item(k)->text();
    return out;
  }

  test::TempDir docs_;
  QPointer<QWidget> chart_;
};

TEST_F(SearchWindowTest, StartFlagListsRankedNamesAndAPickFeedsTheChart) {
  add_day("20240105",
          "1301,東証1部,ｻｸﾗ電機,1,1,1,1,1\r\n"
          "1302,東証1部,サクラ精密工業(株),1,1,1,1,1\r\n"
          "1303,JASDAQ,(株)さくらネット,1,1,1,1,1\r\n"
          "1304,JASDAQ,極洋,1,1,1,1,1\r\n",
          4);
  SearchWindow* w = open_and_start(" さくら ");
  // Equal scores: the name closer in length to the query first.
  EXPECT_EQ(lines(w),
            (QStringList{"1301　ｻｸﾗ電機", "1303　(株)さくらネット", "1302　サクラ精密工業(株)"}));
  EXPECT_EQ(control<QListWidget>(w, "List1")->palette().color(QPalette::Text), QColor(0, 0, 255));
  w->grab().save(QCoreApplication::applicationDirPath() + "/search_window.png");

  struct Pick {
    int line;
    QString code, name;
  };
  const Pick picks[] = {
      {2, "1302", "サクラ精密"}, {1, "1303", "さくらネッ"}, {0, "1301", "ｻｸﾗ電機"}};
  for (const Pick& p : picks) {
    control<QCheckBox>(chart_, "refer1_chk")->setChecked(true);
    chart_box("refer1_txt")->setText("555");
    auto* list = control<QListWidget>(w, "List1");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(p.line)).center());
    EXPECT_EQ(chart_box("meigara_code_txt")->text(), p.code);
    EXPECT_EQ(chart_box("meigara_txt")->text(), p.name);
    EXPECT_FALSE(control<QCheckBox>(chart_, "refer1_chk")->isChecked());
    EXPECT_EQ(chart_box("refer1_txt")->text(), "1000");
    EXPECT_EQ(control<QLabel>(chart_, "graph_mode1")->text(), "2");
    EXPECT_EQ(control<QLabel>(chart_, "graph_modecnt1")->text(), "2");
  }
  w->close();
}

TEST_F(SearchWindowTest, NoDayFileShowsTheRedMessageAndPicksNothing) {
  SearchWindow* w = open_and_start("サクラ");
  EXPECT_EQ(lines(w), QStringList{"銘柄の検索ができません。"});
  auto* list = control<QListWidget>(w, "List1");
  EXPECT_EQ(list->palette().color(QPalette::Text), QColor(255, 0, 0));
  w->grab().save(QCoreApplication::applicationDirPath() + "/search_window_error.png");
  chart_box("meigara_code_txt")->setText("7203");
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(0)).center());
  EXPECT_EQ(chart_box("meigara_code_txt")->text(), "7203");
  w->close();
}

TEST_F(SearchWindowTest, TableKeptWithinOneOpeningAndReadAgainAtTheNext) {
  add_day("20240105", "1301,東証1部,ｻｸﾗ電機,1,1,1,1,1\r\n", 1);
  SearchWindow* first = open_and_start("サクラ");
  add_day("20240109", "1401,東証1部,サクラ新規,1,1,1,1,1\r\n", 1);
  QTest::mouseClick(control<QPushButton>(first, "Command1"), Qt::LeftButton);
  EXPECT_EQ(lines(first), QStringList{"1301　ｻｸﾗ電機"});
  first->close();

  SearchWindow* second = open_and_start("サクラ");
  EXPECT_EQ(lines(second), QStringList{"1401　サクラ新規"});
  second->close();
}

TEST_F(SearchWindowTest, ClosesAtOnceWhenTheChartHasNoName) {
  chart_box("meigara_txt")->setText("   ");
  QPointer<SearchWindow> w = new SearchWindow;
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->show();
  EXPECT_TRUE(wait_until([&w] { return !w || !w->isVisible(); }));
  delete w.data();
}

}  // namespace
}  // namespace lp::gui
