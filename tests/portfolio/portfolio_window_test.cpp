#include "portfolio/portfolio_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "common/settings.h"
#include "portfolio_fixture.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {
namespace {

using test::file_bytes;

// The chart's hand-over controls, laid out as the chart has them.
class ChartStandIn : public QWidget {
 public:
  ChartStandIn() {
    auto* l = new QVBoxLayout(this);
    for (QWidget* w : std::initializer_list<QWidget*>{code, refer_txt, refer_chk, busy, grid}) {
      l->addWidget(w);
    }
    code->setObjectName("meigara_code_txt");
    refer_txt->setObjectName("refer1_txt");
    refer_chk->setObjectName("refer1_chk");
    busy->setObjectName("busy_flag_lb");
    grid->setObjectName("MSFlexGrid1");
    const char* cells[2][5] = {{"日付", "始値", "高値", "安値", "終値"},
                               {"20240109", "1,200", "1,250", "1,190", "1,234.5"}};
    for (int r = 0; r < 2; ++r) {
      for (int c = 0; c < 5; ++c) grid->setItem(r, c, new QTableWidgetItem(cells[r][c]));
    }
    // The chart redraws on a new code; its busy label reads "busy" meanwhile.
    connect(code, &QLineEdit::textChanged, this, [this](const QString& c) {
      EXPECT_NE(busy->text(), QStringLiteral("busy")) << "code written during a redraw";
      codes << c + " " + refer_txt->text() + (refer_chk->isChecked() ? "/on" : "/off");
    });
  }
  QLineEdit* code = new QLineEdit;
  QLineEdit* refer_txt = new QLineEdit(QStringLiteral("1000"));
  QCheckBox* refer_chk = new QCheckBox;
  QLabel* busy = new QLabel;
  QTableWidget* grid = new QTableWidget(2, 9);
  QStringList codes;
};

class PortfolioWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::write_cp932(product_folder(dir.str()) + "settei.txt", "EOF\r\n");
    test::write_reference(db);
    test::write_stock(db, "1301", "(株)極洋", {470, 480, 490, 500, 510});
    test::write_stock(db, "7203", "トヨタ自動車(株)", {2600, 2600, 2650, 2700, 2650});
    test::write_stock(db, "6758", "ソニーグループ", {13000, 13000, 13100, 13100, 13100});
    Platform p;
    p.documents_folder = p.desktop_folder = dir.str();
    p.today = [] { return std::string("20240110"); };
    WindowHub::instance().set_platform(p);
    WindowHub::instance().register_factory("graph", [] { return new ChartStandIn; });
  }
  void TearDown() override {
    for (const char* name : {"portforio", "graph"})
      delete WindowHub::instance().window(name, false);
    QApplication::processEvents();
  }

  PortfolioWindow* open() {
    w = qobject_cast<PortfolioWindow*>(WindowHub::instance().show_window("portforio"));
    QElapsedTimer t;
    t.start();
    while (w && !w->is_ready() && t.elapsed() < 10000) QApplication::processEvents();
    if (w) {
      default_confirm = w->confirm;
      w->confirm = [this](const QString& question) {
        questions << question;
        return answer;
      };
    }
    return w;
  }
  template <class T>
  T* ctl(const char* name) {
    T* c = control<T>(w, name);
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  void enter(const char* code, const char* date, const char* shares, const char* price) {
    ctl<QLineEdit>("code_txt1")->setText(code);
    ctl<QLineEdit>("yyyymmdd_txt1")->setText(date);
    ctl<QLineEdit>("kabusuu_txt1")->setText(shares);
    ctl<QLineEdit>("kaine_txt1")->setText(price);
  }
  void click(const char* button) { ctl<QPushButton>(button)->click(); }
  QString text(const char* name) { return ctl<QLineEdit>(name)->text(); }
  QTableWidgetItem* item(int row, int col) {
    return ctl<QTableWidget>("MSFlexGrid1")->item(row, col);
  }
  QString cell(int row, int col) { return item(row, col)->text(); }
  QString status() { return ctl<QLabel>("alart_lb1")->text(); }
  std::string ptf(int n) { return user + "ptf" + std::to_string(n) + ".csv"; }

  test::TempDir dir;
  std::string db = product_folder(dir.str()) + "kabuka_db/";
  std::string user = product_folder(dir.str()) + "user/";
  PortfolioWindow* w = nullptr;
  std::function<bool(const QString&)> default_confirm;
  QStringList questions;
  bool answer = true;  // to the delete question
};

TEST_F(PortfolioWindowTest, OpensWithAnEmptyFirstFile) {
  ASSERT_NE(open(), nullptr);
  EXPECT_EQ(w->windowTitle(), "ポートフォリオ　- ルーメンピックソフトウェア　- NORDHAVEN -");
  auto* files = ctl<QComboBox>("fileno1_cmb");
  ASSERT_EQ(files->count(), 10);
  EXPECT_EQ(files->currentText() + files->itemText(9), " ptf0 ptf9");
  auto* pages = ctl<QComboBox>("page1_cmb");
  ASSERT_EQ(pages->count(), 2);
  EXPECT_EQ(pages->itemText(0) + "|" + pages->currentText(), "| 0");
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,0\r\n");
  QString enabled;  // add, close, correct, delete, next
  for (const char* b : {"regist_cmd1", "close_cmd", "change_cmd1", "delete_cmd1", "next1_cmd"}) {
    enabled += ctl<QPushButton>(b)->isEnabled() ? "1" : "0";
  }
  EXPECT_EQ(enabled, "11000");
  auto* grid = ctl<QTableWidget>("MSFlexGrid1");
  EXPECT_EQ(grid->rowCount(), 10);
  ASSERT_EQ(grid->columnCount(), 13);
  EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "ｺｰﾄﾞ");
  EXPECT_EQ(ctl<QPushButton>("bk_nx_cmd_0")->text() + ctl<QPushButton>("bk_nx_cmd_1")->text(),
            "△▽");
}

TEST_F(PortfolioWindowTest, MissingSettingsLoadNothing) {
  std::filesystem::remove(product_folder(dir.str()) + "settei.txt");
  ASSERT_NE(open(), nullptr);
  EXPECT_EQ(status(), "エラー：設定ファイル（settei.txt）がありません。");
  EXPECT_FALSE(ctl<QPushButton>("regist_cmd1")->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(ptf(0)));
}

TEST_F(PortfolioWindowTest, AddCorrectDeleteThroughTheControls) {
  ASSERT_NE(open(), nullptr);
  enter("1301", "20240105", "1000", "450.5");
  click("regist_cmd1");
  EXPECT_EQ(status(), "");
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,1\r\n1301,450.5,1000,20240105,,-\r\n");
  EXPECT_EQ(text("kabusuu_txt1"), "1,000");  // shown back formatted
  const QString row0[] = {"1",    "1301",    "極洋",    "20240105", "1,000", "450.5", "510",
                          "59.5", "450,500", "510,000", "59,500",   "13.2",  "2.0"};
  for (int c = 0; c < 13; ++c) EXPECT_EQ(cell(0, c), row0[c]) << c;
  EXPECT_EQ(item(0, 7)->foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(ctl<QLabel>("kounyuu_total_lb1")->text(), "450,500");
  EXPECT_EQ(ctl<QLabel>("profit_ratio_lb1")->text(), "13.2");

  const std::string before = file_bytes(ptf(0));
  enter("9999", "20240105", "100", "100");
  click("regist_cmd1");
  EXPECT_EQ(status(), "コードを再度入力してください。");
  EXPECT_EQ(ctl<QLabel>("alart_lb1")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(file_bytes(ptf(0)), before);

  enter("7203", "20240108", "100", "2,700");
  click("regist_cmd1");
  EXPECT_EQ(cell(1, 2), "トヨタ自動車");
  EXPECT_EQ(item(1, 7)->foreground().color(), QColor(0, 0, 255));  // 2650 < 2700

  // Selecting a row fills the entries; a correction keeps the decimals it did not touch.
  ctl<QTableWidget>("MSFlexGrid1")->setCurrentCell(0, 1);
  EXPECT_EQ(text("code_txt1") + " " + text("kaine_txt1"), "1301 450.5");
  ASSERT_TRUE(ctl<QPushButton>("change_cmd1")->isEnabled());
  ctl<QLineEdit>("kabusuu_txt1")->setText("2,000");
  click("change_cmd1");
  EXPECT_EQ(file_bytes(ptf(0)),
            ",,,,,2\r\n1301,450.5,2000,20240105,,-\r\n7203,2700,100,20240108,,-\r\n");

  ctl<QTableWidget>("MSFlexGrid1")->setCurrentCell(1, 1);
  click("delete_cmd1");
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,1\r\n1301,450.5,2000,20240105,,-\r\n");
  EXPECT_EQ(cell(1, 1), "");
  EXPECT_FALSE(ctl<QPushButton>("delete_cmd1")->isEnabled());
}

TEST_F(PortfolioWindowTest, AfterAnotherWriterTheGridShowsTheFileAsItIsNow) {
  ASSERT_NE(open(), nullptr);
  enter("1301", "20240105", "100", "500");
  click("regist_cmd1");
  portfolio::Book other(SeriesSource(db, "1001"), user, [] { return std::string("20240110"); });
  ASSERT_TRUE(other.open(0).ok);
  ASSERT_TRUE(other.add({"7203", "20240108", "10", "2600"}).ok);
  ASSERT_TRUE(other.remove(0).ok);
  ctl<QTableWidget>("MSFlexGrid1")->setCurrentCell(0, 1);
  click("delete_cmd1");
  EXPECT_TRUE(status().contains(QStringLiteral("最新の内容を表示しました")))
      << status().toStdString();
  EXPECT_EQ(cell(0, 1), "7203");
  EXPECT_EQ(cell(1, 1), "");
  EXPECT_FALSE(ctl<QPushButton>("delete_cmd1")->isEnabled());
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,1\r\n7203,2600,10,20240108,,-\r\n");
}

TEST_F(PortfolioWindowTest, ElevenHoldingsMakeTwoPagesAndTheFileComboSwitches) {
  std::string text = ",,,,,10\r\n";
  for (int i = 0; i < 10; ++i) text += "1301,500," + std::to_string(i + 1) + ",20240105,,-\r\n";
  test::write_bytes(ptf(2), text);
  ASSERT_NE(open(), nullptr);
  ctl<QComboBox>("fileno1_cmb")->setCurrentIndex(2);
  auto* pages = ctl<QComboBox>("page1_cmb");
  EXPECT_EQ(pages->count(), 2);  // blank and " 0"
  EXPECT_EQ(cell(9, 0), "10");
  EXPECT_FALSE(ctl<QPushButton>("next1_cmd")->isEnabled());

  enter("6758", "20240110", "100", "13000");
  click("regist_cmd1");
  ASSERT_EQ(pages->count(), 3);
  EXPECT_EQ(pages->currentText(), " 1");  // the page holding the new one
  EXPECT_EQ(cell(0, 0) + " " + cell(0, 1), "11 6758");
  EXPECT_EQ(cell(1, 0), "");
  click("back1_cmd");
  EXPECT_EQ(pages->currentText(), " 0");
  EXPECT_TRUE(ctl<QPushButton>("next1_cmd")->isEnabled());
  pages->setCurrentIndex(2);
  EXPECT_EQ(cell(0, 1), "6758");
}

TEST_F(PortfolioWindowTest, DoubleClickingAColumnSortsAndAgainReverses) {
  test::write_bytes(ptf(0),
                    ",,,,,4\r\n7203,2000,1,20240105,,-\r\n9999,500,1,20240105,,-\r\n"
                    "1301,400,1,20240105,,-\r\n6758,12000,1,20240105,,-\r\n");
  ASSERT_NE(open(), nullptr);
  // 9999 has no series: its row stays, with "-" values in dark green.
  EXPECT_EQ(cell(1, 6), "-");
  EXPECT_EQ(item(1, 6)->foreground().color(), QColor(0, 96, 0));
  auto* header = ctl<QTableWidget>("MSFlexGrid1")->horizontalHeader();
  auto sort_by = [&](int col) {
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                       QPoint(header->sectionViewportPosition(col) + 5, header->height() / 2));
    std::string order;
    for (const auto& h : portfolio::load_holdings(ptf(0)).holdings) order += h.code + " ";
    EXPECT_EQ(
        order,
        (cell(0, 1) + " " + cell(1, 1) + " " + cell(2, 1) + " " + cell(3, 1) + " ").toStdString());
    return order;
  };
  EXPECT_EQ(sort_by(6), "9999 1301 7203 6758 ");  // current price; "-" counts as 0
  EXPECT_EQ(sort_by(6), "6758 7203 1301 9999 ");
  EXPECT_EQ(status(), "");
}

TEST_F(PortfolioWindowTest, SteppingHandsEachHoldingToTheChart) {
  test::write_bytes(ptf(0),
                    ",,,,,2\r\n1301,450.5,100,20240105,,-\r\n7203,2700,100,20240108,,-\r\n");
  ASSERT_NE(open(), nullptr);
  auto* chart = static_cast<ChartStandIn*>(WindowHub::instance().window("graph"));
  // A redraw is running when the user steps: the portfolio waits for it.
  chart->busy->setText("busy");
  QTimer::singleShot(100, chart, [chart] { chart->busy->setText(""); });
  click("bk_nx_cmd_1");
  EXPECT_EQ(w->selected_index(), 0);
  click("bk_nx_cmd_1");
  click("bk_nx_cmd_1");  // past the last: back to the first
  click("bk_nx_cmd_0");  // before the first: the last
  EXPECT_EQ(chart->codes,
            QStringList({"1301 450.5/on", "7203 2700/on", "1301 450.5/on", "7203 2700/on"}));
  EXPECT_EQ(text("code_txt1"), "7203");
  EXPECT_TRUE(w->is_ready());
}

TEST_F(PortfolioWindowTest, TakeOverReadsTheChartsCodeAndDay) {
  ASSERT_NE(open(), nullptr);
  auto* chart = static_cast<ChartStandIn*>(WindowHub::instance().window("graph"));
  chart->code->setText("7203");
  ctl<QLineEdit>("kabusuu_txt1")->setText("500");
  click("input1_cmd");
  EXPECT_EQ(text("code_txt1") + " " + text("yyyymmdd_txt1") + " " + text("kaine_txt1"),
            "7203 20240109 1234.5");
  EXPECT_EQ(text("kabusuu_txt1"), "");
  chart->grid->setCurrentCell(1, 2);  // a chosen high is taken instead of the close
  click("input1_cmd");
  EXPECT_EQ(text("kaine_txt1"), "1250");
  // The ledger's 「チャートから取込」 takes the same day as a 買付.
  ctl<QComboBox>("ledger_kind_cmb")->setCurrentIndex(2);
  click("ledger_take_cmd");
  EXPECT_EQ(text("ledger_code_txt") + " " + text("ledger_date_txt") + " " +
                text("ledger_price_txt") + " " + ctl<QComboBox>("ledger_kind_cmb")->currentText(),
            "7203 20240109 1250 買付");
  chart->grid->setCurrentCell(1, 0);  // a day without trading leaves no stale price
  chart->grid->item(1, 4)->setText("-");
  click("input1_cmd");
  EXPECT_EQ(text("kaine_txt1"), "");
}

TEST_F(PortfolioWindowTest, DeletingAsksFirstInJapanese) {
  test::write_bytes(ptf(0), ",,,,,1\r\n1301,450.5,100,20240105,,-\r\n");
  ASSERT_NE(open(), nullptr);
  const std::string before = file_bytes(ptf(0));
  ctl<QTableWidget>("MSFlexGrid1")->setCurrentCell(0, 2);
  answer = false;
  click("delete_cmd1");
  ASSERT_EQ(questions.size(), 1);
  EXPECT_TRUE(questions[0].contains("1301")) << questions[0].toStdString();
  EXPECT_TRUE(questions[0].contains("削除しますか")) << questions[0].toStdString();
  EXPECT_EQ(file_bytes(ptf(0)), before);
  EXPECT_TRUE(w->is_ready());
  answer = true;
  click("delete_cmd1");
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,0\r\n");

  // The question itself: 「はい」「いいえ」, and いいえ keeps the holding.
  QStringList buttons;
  QTimer::singleShot(0, [&buttons] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* b : box->buttons()) buttons << b->text();
    for (QAbstractButton* b : box->buttons()) {
      if (b->text() == "いいえ") b->click();
    }
  });
  EXPECT_FALSE(default_confirm("No.1を削除しますか？"));
  buttons.sort();
  EXPECT_EQ(buttons, QStringList({"いいえ", "はい"}));
}

TEST_F(PortfolioWindowTest, EntriesAreCheckedBeforeAnythingIsWritten) {
  ASSERT_NE(open(), nullptr);
  const std::string before = file_bytes(ptf(0));
  struct Case {
    const char *date, *shares, *price, *message;
  } cases[] = {{"xyz", "100", "100", portfolio::kMsgBadDate},
               {"20240105", "0", "100", portfolio::kMsgBadShares},
               {"2024/01/05", "100", "abc", portfolio::kMsgBadPrice}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    enter("1301", c.date, c.shares, c.price);
    click("regist_cmd1");
    EXPECT_EQ(status().toStdString(), c.message);
    EXPECT_EQ(file_bytes(ptf(0)), before);
  }
  enter("1301", "2024/01/05", "100", "100");
  click("regist_cmd1");
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,1\r\n1301,100,100,20240105,,-\r\n");
}

TEST_F(PortfolioWindowTest, ADamagedFileIsShownReadOnlyWithWhatIsWrong) {
  const std::string bytes =
      ",,,,,3\r\n1301,450.5,100,20240105,,-\r\n7203,2700,100,20240108,,-\r\n";
  test::write_bytes(ptf(0), bytes);
  ASSERT_NE(open(), nullptr);
  EXPECT_EQ(cell(0, 1) + " " + cell(1, 1), "1301 7203");
  EXPECT_TRUE(status().contains("件数（3）と記録の数（2）")) << status().toStdString();
  EXPECT_EQ(ctl<QLabel>("alart_lb1")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_FALSE(ctl<QPushButton>("regist_cmd1")->isEnabled());
  ctl<QTableWidget>("MSFlexGrid1")->setCurrentCell(0, 2);
  EXPECT_FALSE(ctl<QPushButton>("delete_cmd1")->isEnabled());
  EXPECT_FALSE(ctl<QPushButton>("change_cmd1")->isEnabled());
  w->grab().save("portfolio_damaged_file.png");
  EXPECT_EQ(file_bytes(ptf(0)), bytes);
}

TEST_F(PortfolioWindowTest, DoubleClickingTheNameSortsNamesInJapaneseOrder) {
  test::write_bytes(ptf(0),
                    ",,,,,3\r\n1301,400,1,20240105,,-\r\n7203,2000,1,20240105,,-\r\n"
                    "6758,12000,1,20240105,,-\r\n");
  ASSERT_NE(open(), nullptr);
  auto* header = ctl<QTableWidget>("MSFlexGrid1")->horizontalHeader();
  QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                     QPoint(header->sectionViewportPosition(2) + 5, header->height() / 2));
  // Kana before kanji: ソニーグループ, トヨタ自動車, 極洋 (the codes or the numeric value 0
  // of a name would leave them as they were).
  EXPECT_EQ(cell(0, 1) + " " + cell(1, 1) + " " + cell(2, 1), "6758 7203 1301");
  std::string order;
  for (const auto& h : portfolio::load_holdings(ptf(0)).holdings) order += h.code + " ";
  EXPECT_EQ(order, "6758 7203 1301 ");
}


// The ledger pages: a buy entered on 「取引」, a sell of more than is held refused with the
// figures and nothing written, the holding valued on 「損益」, the returns on 「成績」, the
// holdings list taken over after asking, and every page exported to .xlsx.
TEST_F(PortfolioWindowTest, LedgerPagesEnterValueMeasureAndExport) {
  ASSERT_NE(open(), nullptr);
  ctl<QTabWidget>("portfolio_tabs")->setCurrentIndex(1);
  auto enter_trade = [&](const char* date, int kind, const char* code, const char* shares,
                         const char* price) {
    ctl<QLineEdit>("ledger_date_txt")->setText(date);
    ctl<QComboBox>("ledger_kind_cmb")->setCurrentIndex(kind);
    ctl<QLineEdit>("ledger_code_txt")->setText(code);
    ctl<QLineEdit>("ledger_shares_txt")->setText(shares);
    ctl<QLineEdit>("ledger_price_txt")->setText(price);
  };
  enter_trade("20240104", 0, "1301", "100", "470");
  click("ledger_add_cmd");
  auto* trades = ctl<QTableWidget>("ledger_grid");
  ASSERT_EQ(trades->rowCount(), 1);
  EXPECT_EQ(trades->item(0, 2)->text() + trades->item(0, 9)->text(), "買付特定(源泉あり)");
  const std::string ledger_file = user + "ledger/ptf0.csv";
  const std::string before = file_bytes(ledger_file);
  enter_trade("20240109", 1, "1301", "200", "500");
  click("ledger_add_cmd");
  const QString refusal = ctl<QLabel>("ledger_alert_lb")->text();
  EXPECT_TRUE(refusal.contains("売却 200株 が保有株数 100株")) << refusal.toStdString();
  EXPECT_EQ(file_bytes(ledger_file), before);

  auto* holdings = ctl<QTableWidget>("pnl_grid");
  ASSERT_EQ(holdings->rowCount(), 1);
  // 100 at 510 against 470 a share.
  EXPECT_EQ(holdings->item(0, 1)->text() + " " + holdings->item(0, 7)->text() + " " +
                holdings->item(0, 8)->text(),
            "極洋 51,000 4,000");
  EXPECT_EQ(holdings->item(0, 8)->foreground().color(), QColor(255, 0, 0));

  ctl<QLineEdit>("perf_from_txt")->setText("20240105");
  ctl<QLineEdit>("perf_to_txt")->setText("20240110");
  click("perf_run_cmd");
  // From the close of 01-04 (470 ... the file's closes) to 510.
  EXPECT_TRUE(ctl<QLabel>("perf_result_lb")->text().contains("時間加重収益率 8.51%"))
      << ctl<QLabel>("perf_result_lb")->text().toStdString();

  // The holdings list taken over, after the question.
  enter("7203", "20240108", "100", "2,700");
  click("regist_cmd1");
  answer = false;
  click("ledger_import_ptf_cmd");
  EXPECT_EQ(trades->rowCount(), 1);
  answer = true;
  click("ledger_import_ptf_cmd");
  EXPECT_EQ(trades->rowCount(), 2);
  EXPECT_EQ(file_bytes(ptf(0)), ",,,,,1\r\n7203,2700,100,20240108,,-\r\n");
  // A row chosen fills the entries; 修正 rewrites it, 削除 asks first.
  trades->cellClicked(1, 0);
  EXPECT_EQ(ctl<QLineEdit>("ledger_code_txt")->text() + " " +
                ctl<QLineEdit>("ledger_shares_txt")->text(),
            "7203 100");
  ctl<QLineEdit>("ledger_shares_txt")->setText("50");
  click("ledger_change_cmd");
  EXPECT_EQ(trades->item(1, 6)->text(), "135,000");
  trades->cellClicked(1, 0);
  click("ledger_delete_cmd");
  EXPECT_EQ(trades->rowCount(), 1);
  EXPECT_TRUE(questions.back().contains("7203")) << questions.back().toStdString();

  const std::string xlsx = dir.str() + "/ledger.xlsx";
  w->export_path = [&](const QString&) { return QString::fromStdString(xlsx); };
  click("ledger_export_cmd");
  EXPECT_EQ(file_bytes(xlsx).substr(0, 2), "PK");
  if (const char* shots = std::getenv("LP_SHOT_DIR")) {
    for (int page = 0; page < 4; ++page) {
      ctl<QTabWidget>("portfolio_tabs")->setCurrentIndex(page);
      w->grab().save(QString("%1/portfolio_page%2.png").arg(shots).arg(page));
    }
  }
}

}  // namespace
}  // namespace lp::gui
