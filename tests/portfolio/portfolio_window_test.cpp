#include "portfolio/portfolio_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "common/csv.h"
#include "shell/settings.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"

namespace lp::gui {
namespace {

using test::Day;

std::string file_bytes(const std::string& path) {
  std::string b;
  read_file_bytes(path, b);
  return b;
}

// The chart's hand-over controls, as the portfolio finds them by name.
class ChartStandIn : public QWidget {
 public:
  ChartStandIn() {
    auto* l = new QVBoxLayout(this);
    code = new QLineEdit(this);
    code->setObjectName("meigara_code_txt");
    refer_txt = new QLineEdit(QStringLiteral("1000"), this);
    refer_txt->setObjectName("refer1_txt");
    refer_chk = new QCheckBox(this);
    refer_chk->setObjectName("refer1_chk");
    busy = new QLabel(this);
    busy->setObjectName("busy_flag_lb");
    grid = new QTableWidget(2, 9, this);
    grid->setObjectName("MSFlexGrid1");
    const char* titles[] = {"日付",   "始値",   "高値",   "安値",  "終値",
                            "前日比", "出来高", "価格差", "上下率"};
    for (int c = 0; c < 9; ++c)
      grid->setItem(0, c, new QTableWidgetItem(QString::fromUtf8(titles[c])));
    const char* day[] = {"20240109", "1,200",  "1,250", "1,190", "1,234.5",
                         "34.5",     "12,000", "",      ""};
    for (int c = 0; c < 9; ++c)
      grid->setItem(1, c, new QTableWidgetItem(QString::fromUtf8(day[c])));
    for (QWidget* w : std::initializer_list<QWidget*>{code, refer_txt, refer_chk, busy, grid}) {
      l->addWidget(w);
    }
    // The chart redraws on a new code; its busy label reads "busy" meanwhile.
    connect(code, &QLineEdit::textChanged, this, [this](const QString& c) {
      EXPECT_NE(busy->text(), QStringLiteral("busy")) << "code written during a redraw";
      codes << c;
      references << refer_txt->text() + (refer_chk->isChecked() ? "/on" : "/off");
    });
  }
  QLineEdit* code;
  QLineEdit* refer_txt;
  QCheckBox* refer_chk;
  QLabel* busy;
  QTableWidget* grid;
  QStringList codes;
  QStringList references;
};

class PortfolioWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    docs = dir.str();
    product = product_folder(docs);
    db = product + "kabuka_db/";
    user = product + "user/";
    test::write_cp932(product + "settei.txt", "EOF\r\n");
    const std::vector<std::string> days = {"20240105", "20240108", "20240109", "20240110"};
    std::vector<Day> ref;
    for (const auto& d : days) ref.push_back({d, 1, 1, 1, 1, 1});
    test::write_series_file(db, 2024, "1001", "基準", ref);
    auto stock = [&](const std::string& code, const std::string& name, std::vector<double> c) {
      std::vector<Day> v;
      for (std::size_t i = 0; i < c.size(); ++i) v.push_back({days[i], c[i], c[i], c[i], c[i], 10});
      test::write_series_file(db, 2024, code, name, v);
    };
    stock("1301", "(株)極洋", {480, 490, 500, 510});
    stock("7203", "トヨタ自動車(株)", {2600, 2650, 2700, 2650});
    stock("6758", "ソニーグループ", {13000, 13100, 13100, 13100});

    Platform p;
    p.documents_folder = docs;
    p.desktop_folder = docs;
    p.today = [] { return std::string("20240110"); };
    WindowHub::instance().set_platform(p);
    WindowHub::instance().register_factory("graph", [] { return new ChartStandIn; });
  }
  void TearDown() override {
    for (const char* name : {"portforio", "graph"}) {
      if (QWidget* w = WindowHub::instance().window(name, false)) {
        w->close();
        delete w;
      }
    }
    QApplication::processEvents();
  }

  PortfolioWindow* open() {
    auto* w = qobject_cast<PortfolioWindow*>(WindowHub::instance().show_window("portforio"));
    EXPECT_NE(w, nullptr);
    QElapsedTimer t;
    t.start();
    while (w && !w->is_ready() && t.elapsed() < 10000) QApplication::processEvents();
    return w;
  }
  template <class T>
  T* ctl(QWidget* w, const char* name) {
    T* c = control<T>(w, name);
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  void enter(QWidget* w, const char* code, const char* date, const char* shares,
             const char* price) {
    ctl<QLineEdit>(w, "code_txt1")->setText(QString::fromUtf8(code));
    ctl<QLineEdit>(w, "yyyymmdd_txt1")->setText(QString::fromUtf8(date));
    ctl<QLineEdit>(w, "kabusuu_txt1")->setText(QString::fromUtf8(shares));
    ctl<QLineEdit>(w, "kaine_txt1")->setText(QString::fromUtf8(price));
  }
  QString cell(QWidget* w, int row, int col) {
    return ctl<QTableWidget>(w, "MSFlexGrid1")->item(row, col)->text();
  }
  QString status(QWidget* w) { return ctl<QLabel>(w, "alart_lb1")->text(); }
  std::string ptf(int n) { return user + "ptf" + std::to_string(n) + ".csv"; }
  std::string load_file_order() {
    std::string codes;
    for (const auto& h : portfolio::load_holdings(ptf(0)).holdings) codes += h.code + " ";
    return codes;
  }

  test::TempDir dir;
  std::string docs, product, db, user;
};

TEST_F(PortfolioWindowTest, OpensWithAnEmptyFirstFile) {
  PortfolioWindow* w = open();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(),
            QStringLiteral("ポートフォリオ　- ルーメンピックソフトウェア　- NORDHAVEN -"));
  auto* files = ctl<QComboBox>(w, "fileno1_cmb");
  ASSERT_EQ(files->count(), 10);
  EXPECT_EQ(files->currentText(), " ptf0");
  EXPECT_EQ(files->itemText(9), " ptf9");
  auto* pages = ctl<QComboBox>(w, "page1_cmb");
  ASSERT_EQ(pages->count(), 2);
  EXPECT_EQ(pages->itemText(0), "");
  EXPECT_EQ(pages->currentText(), " 0");
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,0\r\n");
  EXPECT_TRUE(ctl<QPushButton>(w, "regist_cmd1")->isEnabled());
  EXPECT_TRUE(ctl<QPushButton>(w, "close_cmd")->isEnabled());
  EXPECT_FALSE(ctl<QPushButton>(w, "change_cmd1")->isEnabled());
  EXPECT_FALSE(ctl<QPushButton>(w, "delete_cmd1")->isEnabled());
  EXPECT_FALSE(ctl<QPushButton>(w, "next1_cmd")->isEnabled());
  auto* grid = ctl<QTableWidget>(w, "MSFlexGrid1");
  EXPECT_EQ(grid->rowCount(), 10);
  EXPECT_EQ(grid->columnCount(), 13);
  EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "ｺｰﾄﾞ");
  EXPECT_EQ(grid->horizontalHeaderItem(12)->text(), "前日比");
  EXPECT_EQ(ctl<QPushButton>(w, "bk_nx_cmd_0")->text(), "△");
  EXPECT_EQ(ctl<QPushButton>(w, "bk_nx_cmd_1")->text(), "▽");
}

TEST_F(PortfolioWindowTest, MissingSettingsLoadNothing) {
  std::filesystem::remove(product + "settei.txt");
  PortfolioWindow* w = open();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(status(w), "エラー：設定ファイル（settei.txt）がありません。");
  EXPECT_FALSE(ctl<QPushButton>(w, "regist_cmd1")->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(ptf(0)));
}

TEST_F(PortfolioWindowTest, AFileItCannotReadIsShownAsAnErrorAndKept) {
  const std::string damaged = ",,,,,5\r\n1301,450,1000,20240105,,-\r\n";
  test::write_bytes(ptf(0), damaged);
  PortfolioWindow* w = open();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(status(w).contains("ptf0.csv")) << status(w).toStdString();
  EXPECT_FALSE(ctl<QPushButton>(w, "regist_cmd1")->isEnabled());
  EXPECT_EQ(file_bytes(ptf(0)), damaged);
  // The other files still work.
  ctl<QComboBox>(w, "fileno1_cmb")->setCurrentIndex(1);
  EXPECT_EQ(status(w), "");
  EXPECT_TRUE(ctl<QPushButton>(w, "regist_cmd1")->isEnabled());
}

TEST_F(PortfolioWindowTest, AddCorrectDeleteThroughTheControls) {
  // The main window's message is cleared when the portfolio acts.
  auto* main_label = new QLabel(QStringLiteral("前の処理のメッセージ"));
  main_label->setObjectName("Label1");
  WindowHub::instance().register_factory("main", [main_label] {
    auto* m = new QWidget;
    main_label->setParent(m);
    return m;
  });
  QWidget* main = WindowHub::instance().window("main");

  PortfolioWindow* w = open();
  ASSERT_NE(w, nullptr);
  enter(w, "1301", "20240105", "1000", "450");
  ctl<QPushButton>(w, "regist_cmd1")->click();
  EXPECT_EQ(status(w), "");
  EXPECT_EQ(main_label->text(), "");
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,1\r\n1301,450,1000,20240105,,-\r\n");
  EXPECT_EQ(ctl<QLineEdit>(w, "kabusuu_txt1")->text(), "1,000");  // shown back formatted
  const QString row0[] = {"1",  "1301",    "極洋",    "20240105", "1,000", "450", "510",
                          "60", "450,000", "510,000", "60,000",   "13.3",  "2.0"};
  for (int c = 0; c < 13; ++c) EXPECT_EQ(cell(w, 0, c), row0[c]) << c;
  auto* grid = ctl<QTableWidget>(w, "MSFlexGrid1");
  EXPECT_EQ(grid->item(0, 7)->foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(ctl<QLabel>(w, "kounyuu_total_lb1")->text(), "450,000");
  EXPECT_EQ(ctl<QLabel>(w, "profit_ratio_lb1")->text(), "13.3");

  // An invalid code: red message, file untouched.
  const std::string before = file_bytes(ptf(0));
  enter(w, "9999", "20240105", "100", "100");
  ctl<QPushButton>(w, "regist_cmd1")->click();
  EXPECT_EQ(status(w), "コードを再度入力してください。");
  EXPECT_EQ(ctl<QLabel>(w, "alart_lb1")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(file_bytes(ptf(0)), before);

  enter(w, "7203", "20240108", "100", "2,700");
  ctl<QPushButton>(w, "regist_cmd1")->click();
  EXPECT_EQ(cell(w, 1, 2), "トヨタ自動車");
  EXPECT_EQ(grid->item(1, 7)->foreground().color(), QColor(0, 0, 255));  // 2650 < 2700
  EXPECT_EQ(grid->item(1, 12)->foreground().color(), QColor(0, 0, 255));

  // Selecting row 1 fills the entries; correct it.
  grid->setCurrentCell(0, 1);
  EXPECT_EQ(w->selected_index(), 0);
  EXPECT_EQ(ctl<QLineEdit>(w, "code_txt1")->text(), "1301");
  EXPECT_EQ(ctl<QLineEdit>(w, "kaine_txt1")->text(), "450");
  ASSERT_TRUE(ctl<QPushButton>(w, "change_cmd1")->isEnabled());
  ctl<QLineEdit>(w, "kabusuu_txt1")->setText("2,000");
  ctl<QPushButton>(w, "change_cmd1")->click();
  EXPECT_EQ(file_bytes(ptf(0)),
            ",,,,,2\r\n1301,450,2000,20240105,,-\r\n7203,2700,100,20240108,,-\r\n");
  EXPECT_EQ(cell(w, 0, 4), "2,000");

  grid->setCurrentCell(1, 1);
  ctl<QPushButton>(w, "delete_cmd1")->click();
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,1\r\n1301,450,2000,20240105,,-\r\n");
  EXPECT_EQ(cell(w, 1, 1), "");
  EXPECT_FALSE(ctl<QPushButton>(w, "delete_cmd1")->isEnabled());
  main->close();
  delete main;
}

TEST_F(PortfolioWindowTest, ElevenHoldingsMakeTwoPagesAndTheFileComboSwitches) {
  std::string text = ",,,,,10\r\n";
  for (int i = 0; i < 10; ++i) text += "1301,500," + std::to_string(i + 1) + ",20240105,,-\r\n";
  test::write_bytes(ptf(2), text);
  PortfolioWindow* w = open();
  ASSERT_NE(w, nullptr);
  ctl<QComboBox>(w, "fileno1_cmb")->setCurrentIndex(2);
  EXPECT_EQ(ctl<QComboBox>(w, "page1_cmb")->count(), 2);  // blank and " 0"
  EXPECT_EQ(cell(w, 9, 0), "10");
  EXPECT_FALSE(ctl<QPushButton>(w, "next1_cmd")->isEnabled());

  enter(w, "6758", "20240110", "100", "13000");
  ctl<QPushButton>(w, "regist_cmd1")->click();
  auto* pages = ctl<QComboBox>(w, "page1_cmb");
  ASSERT_EQ(pages->count(), 3);
  EXPECT_EQ(pages->currentText(), " 1");  // the page holding the new one
  EXPECT_EQ(cell(w, 0, 0), "11");
  EXPECT_EQ(cell(w, 0, 1), "6758");
  EXPECT_EQ(cell(w, 1, 0), "");
  EXPECT_TRUE(ctl<QPushButton>(w, "back1_cmd")->isEnabled());
  ctl<QPushButton>(w, "back1_cmd")->click();
  EXPECT_EQ(w->current_page(), 0);
  EXPECT_EQ(pages->currentText(), " 0");
  EXPECT_TRUE(ctl<QPushButton>(w, "next1_cmd")->isEnabled());
  pages->setCurrentIndex(2);
  EXPECT_EQ(cell(w, 0, 1), "6758");
}

TEST_F(PortfolioWindowTest, DoubleClickingAColumnSortsAndAgainReverses) {
  test::write_bytes(ptf(0),
                    ",,,,,3\r\n7203,2000,1,20240105,,-\r\n1301,400,1,20240105,,-\r\n"
                    "6758,12000,1,20240105,,-\r\n");
  PortfolioWindow* w = open();
  ASSERT_NE(w, nullptr);
  auto* header = ctl<QTableWidget>(w, "MSFlexGrid1")->horizontalHeader();
  auto dclick = [&](int col) {
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                       QPoint(header->sectionViewportPosition(col) + 5, header->height() / 2));
  };
  dclick(6);  // current price
  EXPECT_EQ(cell(w, 0, 1), "1301");
  EXPECT_EQ(cell(w, 2, 1), "6758");
  EXPECT_EQ(load_file_order(), "1301 7203 6758 ");
  dclick(6);
  EXPECT_EQ(cell(w, 0, 1), "6758");
  EXPECT_EQ(load_file_order(), "6758 7203 1301 ");
  EXPECT_EQ(status(w), "");
}

TEST_F(PortfolioWindowTest, SteppingHandsEachHoldingToTheChart) {
  test::write_bytes(ptf(0),
                    ",,,,,2\r\n1301,450.5,100,20240105,,-\r\n7203,2700,100,20240108,,-\r\n");
  PortfolioWindow* w = open();
  ASSERT_NE(w, nullptr);
  auto* chart = static_cast<ChartStandIn*>(WindowHub::instance().window("graph"));
  ASSERT_NE(chart, nullptr);
  // A redraw is running when the user steps: the portfolio waits for it.
  chart->busy->setText("busy");
  QTimer::singleShot(100, chart, [chart] { chart->busy->setText(""); });
  auto* down = ctl<QPushButton>(w, "bk_nx_cmd_1");
  auto* up = ctl<QPushButton>(w, "bk_nx_cmd_0");
  down->click();
  EXPECT_EQ(w->selected_index(), 0);
  down->click();
  down->click();  // past the last: back to the first
  up->click();    // before the first: the last
  EXPECT_EQ(chart->codes, QStringList({"1301", "7203", "1301", "7203"}));
  EXPECT_EQ(chart->references.at(0), "450.5/on");
  EXPECT_EQ(chart->references.at(1), "2700/on");
  EXPECT_EQ(ctl<QLineEdit>(w, "code_txt1")->text(), "7203");
  EXPECT_TRUE(w->is_ready());
}

TEST_F(PortfolioWindowTest, TakeOverReadsTheChartsCodeAndDay) {
  PortfolioWindow* w = open();
  ASSERT_NE(w, nullptr);
  auto* chart = static_cast<ChartStandIn*>(WindowHub::instance().window("graph"));
  chart->code->setText("7203");
  ctl<QLineEdit>(w, "kabusuu_txt1")->setText("500");
  ctl<QPushButton>(w, "input1_cmd")->click();
  EXPECT_EQ(ctl<QLineEdit>(w, "code_txt1")->text(), "7203");
  EXPECT_EQ(ctl<QLineEdit>(w, "yyyymmdd_txt1")->text(), "20240109");
  EXPECT_EQ(ctl<QLineEdit>(w, "kaine_txt1")->text(), "1234.5");
  EXPECT_EQ(ctl<QLineEdit>(w, "kabusuu_txt1")->text(), "");
  // A chosen high is taken instead of the close.
  chart->grid->setCurrentCell(1, 2);
  ctl<QPushButton>(w, "input1_cmd")->click();
  EXPECT_EQ(ctl<QLineEdit>(w, "kaine_txt1")->text(), "1250");
}

TEST_F(PortfolioWindowTest, Picture) {
  std::string text = ",,,,,4\r\n";
  text += "1301,450,1000,20240105,,-\r\n7203,2700,100,20240108,,-\r\n";
  text += "6758,13100,100,20240109,,-\r\n9999,500,100,20240109,,-\r\n";
  test::write_bytes(ptf(0), text);
  PortfolioWindow* w = open();
  ASSERT_NE(w, nullptr);
  const QString out = QCoreApplication::applicationDirPath() + "/../portfolio_window.png";
  EXPECT_TRUE(w->grab().save(out));
  EXPECT_EQ(cell(w, 3, 1), "9999");  // no data: the row stays with "-" values
  EXPECT_EQ(cell(w, 3, 9), "-");
  EXPECT_EQ(ctl<QTableWidget>(w, "MSFlexGrid1")->item(3, 9)->foreground().color(),
            QColor(0, 96, 0));
  EXPECT_EQ(cell(w, 2, 7), "0");
  EXPECT_EQ(ctl<QTableWidget>(w, "MSFlexGrid1")->item(2, 7)->foreground().color(),
            QColor(0, 128, 0));
}

}  // namespace
}  // namespace lp::gui
