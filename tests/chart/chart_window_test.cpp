#include "chart/chart_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QWheelEvent>

#include "chart/bar_period.h"
#include "chart/chart_state.h"
#include "chart/trend_lines.h"
#include "common/numbers.h"
#include "common/settings.h"
#include "pricedb/fins_store.h"
#include "pricedb/formats.h"
#include "sample-market/sample_market.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"

namespace lp::chart {
namespace {

constexpr const char* kToday = "20240628";

// A documents folder with a small sample database, chart preferences and a link list.
class ChartWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string product = product_folder(docs_.str());
    sample::Options o;
    o.codes = 40;
    o.years = 2;
    o.end_date = kToday;
    o.db_folder = product + "kabuka_db";
    std::string error;
    ASSERT_TRUE(sample::generate(o, error)) << error;
    test::write_cp932(product + "init.txt",
                      "ローソク表示,OFF\r\n期間,CLEAR\r\n期間,0\r\n期間,120\r\n期間,250\r\n"
                      "期間_初期値,120\r\nMA1_初期値,5\r\nMA2_初期値,25\r\n足,abc\r\nEOF,\r\n");
    test::write_cp932(product + "cmd.txt",
                      "株価,https://quote.example.jp,/q/,?code=,$$$$,,,\r\nEND,,,,,,,\r\n");
    Platform p;
    p.documents_folder = docs_.str();
    p.desktop_folder = docs_.str();
    p.today = [] { return std::string(kToday); };
    p.yield = [] { QCoreApplication::processEvents(); };
    gui::WindowHub::instance().set_platform(p);
    codes_ = code_files_of_year(o.db_folder + "/", 2024);
    window_ = std::make_unique<ChartWindow>();
    window_->set_url_opener(
        [this](const QString& program, const QString& url) { opened_ << program + "|" + url; });
    window_->resize(1200, 900);
    window_->show();
  }

  template <class T>
  T* child(const char* name) {
    T* w = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString code_color() { return child<QLineEdit>("meigara_code_txt")->styleSheet(); }
  std::string shown_code() { return window_->scene().bars.code; }
  QPushButton* button(int i) {
    return child<QPushButton>(QStringLiteral("bk_nx_cmd_%1").arg(i).toLatin1().constData());
  }

  test::TempDir docs_;
  std::vector<std::string> codes_;
  std::unique_ptr<ChartWindow> window_;
  QStringList opened_;
};

TEST_F(ChartWindowTest, StartsOnCode1301WithItsPreferences) {
  EXPECT_EQ(window_->windowTitle(),
            QStringLiteral("チャート　- ルーメンピックソフトウェア　- NORDHAVEN -"));
  EXPECT_TRUE(window_->disp_ready());
  EXPECT_EQ(shown_code(), "1301");
  EXPECT_EQ(child<QLabel>("busy_flag_lb")->text(), "");
  EXPECT_EQ(child<QLabel>("graph_mode1")->text(), "100");
  EXPECT_FALSE(child<QLineEdit>("meigara_txt")->text().isEmpty());
  EXPECT_TRUE(code_color().contains("#0000ff"));
  // Candles are on at every start whatever init.txt says.
  EXPECT_TRUE(child<QCheckBox>("rousoku_chk")->isChecked());
  auto* kikan = child<QComboBox>("kikan_cmb");
  ASSERT_EQ(kikan->count(), 2);
  EXPECT_EQ(kikan->currentText(), "120");
  EXPECT_EQ(window_->scene().n, 120);
  EXPECT_GT(window_->scene().bars.count, 120);  // the period plus history, as far as it goes
  EXPECT_LE(window_->scene().bars.count, 380);
  EXPECT_EQ(child<QComboBox>("ashi_cmb")->itemText(child<QComboBox>("ashi_cmb")->count() - 1),
            "abc");
  auto* links = child<QComboBox>("link_cmb");
  ASSERT_EQ(links->count(), 2);
  EXPECT_EQ(links->itemText(0), "リンク集");
  EXPECT_EQ(links->itemText(1), "株価");
  EXPECT_FALSE(button(2)->isEnabled());
  EXPECT_FALSE(button(3)->isEnabled());
  auto* grid2 = child<QTableWidget>("MSFlexGrid2");
  EXPECT_EQ(grid2->item(1, 0)->text(), "1301");
  EXPECT_EQ(grid2->item(1, 2)->text(), kToday);

  // The ratio scale and the indicators, so the picture shows every pane.
  child<QLineEdit>("refer1_txt")->setText("1000");
  for (const char* box : {"hiritu_chk", "rsi_chk", "bol1_chk", "ma_dif_chk"}) {
    child<QCheckBox>(box)->click();
  }
  EXPECT_TRUE(window_->scene().layout.shown[kAlg1Pane]);
  EXPECT_FALSE(window_->scene().rsi.points.empty());
  QApplication::processEvents();
  const QString png = QCoreApplication::applicationDirPath() + "/chart_window.png";
  EXPECT_TRUE(window_->grab().save(png));
}

TEST_F(ChartWindowTest, CodeBoxRedrawsOnlyOnValidCodes) {
  auto* code = child<QLineEdit>("meigara_code_txt");
  for (const char* bad : {"130", "1000", "10000"}) {
    code->setText(bad);
    EXPECT_TRUE(code_color().contains("#ff0000")) << bad;
    EXPECT_EQ(shown_code(), "1301");  // still the previous stock
  }
  ASSERT_GE(codes_.size(), 3u);
  code->setText(QString::fromStdString(codes_[2]));
  EXPECT_EQ(shown_code(), codes_[2]);
  EXPECT_TRUE(code_color().contains("#0000ff"));

  // A code with a letter is a stock like any other: a copy of 1301's file under "130A".
  const std::string db = product_folder(docs_.str()) + "kabuka_db/";
  for (int year : {2023, 2024}) {
    std::string bytes = test::read_bytes(series_file_path(db, year, "1301"));
    if (bytes.empty()) continue;
    bytes.replace(0, 4, "130A");
    test::write_bytes(series_file_path(db, year, "130A"), bytes);
  }
  code->setText("130a");
  EXPECT_TRUE(code_color().contains("#ff0000")) << "codes are upper case";
  code->setText("130A");
  EXPECT_EQ(shown_code(), "130A");
  EXPECT_TRUE(code_color().contains("#0000ff"));
  EXPECT_TRUE(window_->scene().loaded);

  code->setText("9998");  // a valid code without data
  EXPECT_EQ(child<QLabel>("msg1_lb")->text(), "データがありません。");
  EXPECT_TRUE(child<QLineEdit>("meigara_txt")->text().isEmpty());
  EXPECT_FALSE(window_->scene().loaded);
  EXPECT_TRUE(child<QTableWidget>("MSFlexGrid2")->item(1, 3)->text().isEmpty());
  EXPECT_TRUE(window_->disp_ready());
}

TEST_F(ChartWindowTest, PeriodIsClampedAndSigmaParameterNeedsItsBox) {
  auto* kikan = child<QComboBox>("kikan_cmb");
  kikan->setEditText("-5");
  EXPECT_EQ(kikan->currentText(), "1");
  kikan->setEditText("9999");
  EXPECT_EQ(kikan->currentText(), "5000");
  EXPECT_EQ(window_->scene().n, 5000);
  kikan->setEditText("60");
  EXPECT_EQ(window_->scene().n, 60);

  child<QComboBox>("bol1_cmb")->setEditText("10");
  EXPECT_EQ(window_->scene().options.band_period, 20);  // no redraw with the box cleared
  child<QCheckBox>("bol1_chk")->click();
  EXPECT_EQ(window_->scene().options.band_period, 10);
}

TEST_F(ChartWindowTest, OnlyVolumeHidesThePricePane) {
  child<QCheckBox>("rousoku_chk")->click();
  child<QCheckBox>("mean_av1_check")->click();
  const PaneLayout& l = window_->scene().layout;
  EXPECT_FALSE(l.shown[kPricePane]);
  EXPECT_TRUE(l.shown[kVolumePane]);
  EXPECT_FALSE(child<QWidget>("Picture1_0")->isVisible());
  EXPECT_TRUE(child<QWidget>("Picture1_1")->isVisible());
}

TEST_F(ChartWindowTest, SteppingWrapsAndHistoryGoesBackAndForth) {
  ASSERT_GE(codes_.size(), 3u);
  auto* code = child<QLineEdit>("meigara_code_txt");
  code->setText(QString::fromStdString(codes_.front()));
  // Same caption, opposite ways: the tooltips say which.
  EXPECT_EQ(button(0)->text(), button(1)->text());
  EXPECT_EQ(button(0)->toolTip(), "前のコードへ");
  EXPECT_EQ(button(1)->toolTip(), "次のコードへ");
  button(0)->click();  // DW on the lowest code: the highest
  EXPECT_EQ(shown_code(), codes_.back());
  button(1)->click();  // UP on the highest: the lowest
  EXPECT_EQ(shown_code(), codes_.front());
  button(1)->click();
  EXPECT_EQ(shown_code(), codes_[1]);

  // History: 1301, lowest, highest, lowest, second. Back twice, forward once.
  button(3)->click();
  EXPECT_EQ(shown_code(), codes_.front());
  button(3)->click();
  EXPECT_EQ(shown_code(), codes_.back());
  EXPECT_TRUE(button(2)->isEnabled());
  button(2)->click();
  EXPECT_EQ(shown_code(), codes_.front());
  code->setText(QString::fromStdString(codes_[2]));
  EXPECT_EQ(window_->history().back_codes().front(), codes_[2]);
  button(2)->click();  // forward still leads to the code left behind
  EXPECT_EQ(shown_code(), codes_[1]);
  EXPECT_FALSE(button(2)->isEnabled());

  // Stepping resets a user's reference price.
  child<QCheckBox>("refer1_chk")->setChecked(true);
  button(1)->click();
  EXPECT_FALSE(child<QCheckBox>("refer1_chk")->isChecked());
}

TEST_F(ChartWindowTest, MouseReadOutLinksClipboardAndAlg2) {
  QWidget* pane = child<QWidget>("Picture1_0");
  const PaneGeometry& g = window_->scene().pane[kPricePane];
  auto* grid1 = child<QTableWidget>("MSFlexGrid1");
  // Day 10, and a loaded day older than the shown ones under the left margin.
  for (const int day : {10, 122}) {
    const double x = g.x(day) / kLogicalSize * pane->width();
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), pane->mapToGlobal(QPointF(x, 10)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &move);
    EXPECT_EQ(grid1->item(1, 0)->text().toStdString(), window_->scene().bars.date[day]) << day;
  }

  auto* links = child<QComboBox>("link_cmb");
  links->setCurrentIndex(1);
  emit links->activated(1);
  ASSERT_EQ(opened_.size(), 1);
  EXPECT_EQ(opened_[0], "|https://quote.example.jp/q/?code=1301");
  child<QCheckBox>("wopen_chk")->setChecked(true);
  emit links->activated(1);
  EXPECT_EQ(opened_.value(1), "x-www-browser|https://quote.example.jp/q/?code=1301");

  auto* grid2 = child<QTableWidget>("MSFlexGrid2");
  grid2->item(1, 3)->setText("1,234");
  grid2->item(1, 4)->setText("5,678");
  grid2->setRangeSelected(QTableWidgetSelectionRange(1, 3, 1, 4), true);
  QTest::mouseRelease(grid2->viewport(), Qt::LeftButton, {},
                      grid2->visualItemRect(grid2->item(1, 4)).center());
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "1234,5678");

  auto* alg2 = child<QCheckBox>("alg2_chk");
  alg2->click();
  EXPECT_FALSE(alg2->isChecked());
  EXPECT_FALSE(alg2->isEnabled());
  EXPECT_EQ(child<QLabel>("msg1_lb")->text(), "korinuさん、すみません。この機能は開発中です。");

  child<QCheckBox>("refer1_chk")->setChecked(true);
  child<QLineEdit>("refer1_txt")->setText("800");
  QTest::mouseClick(child<QLineEdit>("meigara_code_txt"), Qt::LeftButton);
  EXPECT_FALSE(child<QCheckBox>("refer1_chk")->isChecked());
  EXPECT_EQ(child<QLineEdit>("refer1_txt")->text(), "1000");
}

}  // namespace
}  // namespace lp::chart

namespace lp::chart {
namespace {

// 1301 has results summaries in the sample market: the info line shows its valuation and
// 「決算」 lists every disclosure known on the chart's day, newest first.
TEST_F(ChartWindowTest, KessanListsTheDisclosuresNewestFirstAndTheInfoShowsTheValuation) {
  EXPECT_TRUE(child<QLabel>("kessan_lb")->text().startsWith("予想PER "))
      << qPrintable(child<QLabel>("kessan_lb")->text());
  QTest::mouseClick(child<QPushButton>("kessan_cmd"), Qt::LeftButton);
  auto* dialog = window_->findChild<QWidget*>("kessan_frm");
  ASSERT_NE(dialog, nullptr);
  auto* grid = dialog->findChild<QTableWidget*>("kessan_grid");
  ASSERT_NE(grid, nullptr);
  std::vector<fins::Disclosure> list;
  ASSERT_TRUE(fins::read_fins_file(
      fins::fins_file_path(product_folder(docs_.str()) + "kabuka_db/", "1301"), list));
  ASSERT_FALSE(list.empty());
  ASSERT_EQ(grid->rowCount(), static_cast<int>(list.size()));
  const std::string newest = list.back()[fins::DiscDate];
  EXPECT_EQ(grid->item(0, 0)->text().toStdString(),
            newest.substr(0, 4) + "/" + newest.substr(4, 2) + "/" + newest.substr(6, 2));
  EXPECT_EQ(grid->horizontalHeaderItem(6)->text(), "予想EPS");
  dialog->grab().save("/tmp/chart_kessan.png");
  window_->grab().save("/tmp/chart_window_fins.png");
}

}  // namespace
}  // namespace lp::chart

namespace lp::chart {
namespace {

// Device x of bar `bar` in pane `p`, and the pane itself.
struct PanePoint {
  QWidget* pane;
  QPointF at;
};

class ChartViewTest : public ChartWindowTest {
 protected:
  PanePoint at_bar(int p, int bar, double value) {
    QWidget* pane = child<QWidget>(QStringLiteral("Picture1_%1").arg(p).toLatin1().constData());
    const PaneGeometry& g = window_->scene().pane[static_cast<std::size_t>(p)];
    return {pane, QPointF(g.x(bar) / kLogicalSize * pane->width(),
                          g.y(value) / kLogicalSize * pane->height())};
  }
  void wheel(const PanePoint& pt, int delta) {
    QWheelEvent e(pt.at, pt.pane->mapToGlobal(pt.at), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(pt.pane, &e);
  }
  void move(QWidget* pane, QPointF at, Qt::MouseButtons buttons) {
    QMouseEvent e(QEvent::MouseMove, at, pane->mapToGlobal(at), Qt::NoButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(pane, &e);
  }
};

TEST_F(ChartViewTest, WheelDragKeysAndDoubleClickMoveThroughTime) {
  const ChartScene& s = window_->scene();
  ASSERT_EQ(s.first, 1);
  ASSERT_EQ(s.n, 120);
  // The wheel zooms around the bar under the pointer: bar 30 stays under it.
  wheel(at_bar(kPricePane, 30, 0), 120);
  EXPECT_EQ(s.n, 96);
  EXPECT_EQ(s.first, 7);  // 30 sat 29 bars from the right of 120; 23 of 96 now
  wheel(at_bar(kPricePane, 30, 0), -120);
  EXPECT_EQ(s.n, 120);
  // Dragging ten bars' width to the right brings ten older bars in.
  QWidget* pane = child<QWidget>("Picture1_0");
  const double per_bar = pane->width() * 0.91 / s.n;
  const int first = s.first;
  QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(400, 100));
  move(pane, QPointF(400 + per_bar * 10, 100), Qt::LeftButton);
  QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(static_cast<int>(400 + per_bar * 10), 100));
  EXPECT_EQ(s.first, first + 10);
  // The keys: ← older by a tenth of the view, End the newest, Home the oldest, + - zoom.
  QTest::keyClick(pane, Qt::Key_End);
  EXPECT_EQ(s.first, 1);
  QTest::keyClick(pane, Qt::Key_Left);
  EXPECT_EQ(s.first, 13);
  QTest::keyClick(pane, Qt::Key_Right);
  EXPECT_EQ(s.first, 1);
  QTest::keyClick(pane, Qt::Key_Home);
  EXPECT_EQ(s.first, s.bars.count - kMinViewBars + 1);
  EXPECT_EQ(s.last, s.bars.count);
  QTest::keyClick(pane, Qt::Key_Minus);
  EXPECT_EQ(s.n, 150);
  // A double click returns to the period's span.
  QTest::mouseDClick(pane, Qt::LeftButton, {}, QPoint(300, 100));
  EXPECT_EQ(s.first, 1);
  EXPECT_EQ(s.n, 120);
  // Zooming out past the loaded days loads the whole history held, down to one view of it.
  child<QComboBox>("kikan_cmb")->setEditText(QStringLiteral("60"));  // loads 60 + 260 days
  ASSERT_EQ(s.n, 60);
  const int loaded = s.bars.count;
  for (int i = 0; i < 12; ++i) wheel(at_bar(kPricePane, 1, 0), -120);
  EXPECT_TRUE(window_->whole_history());
  EXPECT_GT(s.bars.count, loaded);
  EXPECT_EQ(s.n, s.bars.count);
  EXPECT_EQ(s.last, s.bars.count);
  // ... and in to 20 bars at the least.
  for (int i = 0; i < 40; ++i) wheel(at_bar(kPricePane, 1, 0), 120);
  EXPECT_EQ(s.n, kMinViewBars);
}

TEST_F(ChartViewTest, CrosshairReadsTheBarAndEachPanesValues) {
  for (const char* box : {"rsi_chk", "macd_chk"}) child<QCheckBox>(box)->click();
  const ChartScene& s = window_->scene();
  ASSERT_TRUE(s.layout.shown[kMacdPane]);
  int bar = 10;
  while (!s.bars.traded(bar)) ++bar;
  const auto k = static_cast<std::size_t>(bar);
  const double price = s.bars.close[k];
  const PanePoint pt = at_bar(kPricePane, bar, price);
  move(pt.pane, pt.at, Qt::NoButton);
  EXPECT_EQ(window_->crosshair_bar(), bar);
  EXPECT_EQ(window_->crosshair_pane(), kPricePane);
  // The value at the pointer's height, to within a pixel of the price scale.
  const PaneGeometry& g = s.pane[kPricePane];
  EXPECT_NEAR(window_->crosshair_value(), price, g.span / pt.pane->height() * 1.5);
  const std::string& d = s.bars.date[k];
  const QString date =
      QString::fromStdString(d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2));
  const QString top = window_->crosshair_text(kPricePane);
  EXPECT_TRUE(top.startsWith(date)) << top.toStdString();
  EXPECT_TRUE(top.contains(QStringLiteral("終 ") +
                           QString::fromStdString(format_pattern(price, "#,##0.##"))))
      << top.toStdString();
  EXPECT_TRUE(top.contains(QStringLiteral("MA5 "))) << top.toStdString();
  EXPECT_TRUE(window_->crosshair_text(kVolumePane).contains(QStringLiteral("出来高 ")));
  const QString macd = window_->crosshair_text(kMacdPane);
  EXPECT_TRUE(macd.contains(QStringLiteral("MACD ")) && macd.contains(QStringLiteral("シグナル ")))
      << macd.toStdString();
  EXPECT_EQ(window_->crosshair_text(kStochPane), "");  // a pane that is off says nothing
  // Hovering an event mark (a results disclosure of the sample's stock) says what it is.
  const EventMark* mark = nullptr;
  for (const EventMark& m : s.events) {
    if (m.bar >= s.first && m.bar <= s.last) mark = &m;
  }
  ASSERT_NE(mark, nullptr);
  const double mx = g.x(mark->bar) / kLogicalSize * pt.pane->width();
  const double my =
      (event_strip(g).top + event_strip(g).bottom) / 2 / kLogicalSize * pt.pane->height();
  EXPECT_EQ(window_->event_text_at(kPricePane, mx + 2, my, pt.pane->width(), pt.pane->height()),
            QString::fromStdString(mark->text));
  EXPECT_TRUE(QString::fromStdString(mark->text).startsWith(QStringLiteral("決算")) ||
              QString::fromStdString(mark->text).startsWith(QStringLiteral("株式")));
  EXPECT_EQ(window_->event_text_at(kPricePane, mx, 5, pt.pane->width(), pt.pane->height()), "");
  // Leaving the pane takes the crosshair away.
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(pt.pane, &leave);
  EXPECT_EQ(window_->crosshair_bar(), 0);
}

TEST_F(ChartViewTest, TrendLinesDrawnWithShiftAreKeptAndRightClickDeletesThem) {
  const ChartScene& s = window_->scene();
  int a = 30, b = 5;
  while (!s.bars.traded(a)) ++a;
  while (!s.bars.traded(b)) ++b;
  const PanePoint from = at_bar(kPricePane, a, s.bars.close_at(a));
  const PanePoint to = at_bar(kPricePane, b, s.bars.close_at(b));
  QTest::mousePress(from.pane, Qt::LeftButton, Qt::ShiftModifier, from.at.toPoint());
  move(from.pane, to.at, Qt::LeftButton);
  QTest::mouseRelease(from.pane, Qt::LeftButton, Qt::ShiftModifier, to.at.toPoint());
  EXPECT_EQ(s.first, 1);  // drawing a line does not pan
  ASSERT_EQ(window_->trend_lines().size(), 1u);
  const TrendLine line = window_->trend_lines()[0];
  EXPECT_EQ(line.date1, s.bars.date[static_cast<std::size_t>(a)]);
  EXPECT_EQ(line.date2, s.bars.date[static_cast<std::size_t>(b)]);
  const PaneGeometry& g = s.pane[kPricePane];
  EXPECT_NEAR(line.price1, s.bars.close_at(a), g.span / from.pane->height() * 1.5);
  // Kept per stock in the user folder, and back when the stock is drawn again.
  const AppFolders folders = read_settei_sub(docs_.str(), docs_.str());
  const auto file = trend_lines_path(folders.user_folder, "1301");
  EXPECT_EQ(read_trend_lines(file), window_->trend_lines());
  std::string other;
  for (const std::string& c : codes_) {
    if (c != "1301" && c != "1001") other = c;
  }
  child<QLineEdit>("meigara_code_txt")->setText(QString::fromStdString(other));
  EXPECT_TRUE(window_->trend_lines().empty());
  child<QLineEdit>("meigara_code_txt")->setText(QStringLiteral("1301"));
  ASSERT_EQ(window_->trend_lines().size(), 1u);
  // A right click beside the line deletes it; one far from it does nothing.
  const int mid = (a + b) / 2;
  const double mid_price = line.price1 + (line.price2 - line.price1) * (a - mid) / (a - b);
  const PanePoint near = at_bar(kPricePane, mid, mid_price);
  QTest::mouseClick(near.pane, Qt::RightButton, {}, QPoint(static_cast<int>(near.at.x()), 5));
  EXPECT_EQ(window_->trend_lines().size(), 1u);
  QTest::mouseClick(near.pane, Qt::RightButton, {}, near.at.toPoint());
  EXPECT_TRUE(window_->trend_lines().empty());
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(ChartViewTest, WeeklyBarsWithMacdAndTheCloudAt1024x700) {
  child<QComboBox>("ashi_cmb")->setEditText(QStringLiteral("週足"));
  for (const char* box : {"macd_chk", "ichimoku_chk", "stoch_chk", "rci_chk", "rsi_chk"})
    child<QCheckBox>(box)->click();
  const ChartScene& s = window_->scene();
  EXPECT_EQ(s.options.bar_period, BarPeriod::week);
  ASSERT_GT(s.bars.count, 60);
  for (int i = 1; i < 60; ++i) {
    EXPECT_NE(bar_key(s.bars.date[static_cast<std::size_t>(i)], BarPeriod::week),
              bar_key(s.bars.date[static_cast<std::size_t>(i + 1)], BarPeriod::week));
  }
  EXPECT_TRUE(child<QWidget>("Picture1_5")->isVisible());
  EXPECT_TRUE(s.lines.macd.at(1).valid);
  EXPECT_TRUE(s.lines.span_a.at(-24).valid);  // the cloud reaches 25 weeks ahead
  // The window can be made 1024 x 700 with every pane shown, the newest bar still in view.
  window_->resize(1024, 700);
  QApplication::processEvents();
  EXPECT_LE(window_->minimumSizeHint().width(), 1024);
  EXPECT_LE(window_->minimumSizeHint().height(), 700);
  EXPECT_EQ(window_->size(), QSize(1024, 700));
  QWidget* price = child<QWidget>("Picture1_0");
  EXPECT_LE(price->mapTo(window_.get(), QPoint(price->width(), 0)).x(), 1024);
  const QString png = QString::fromStdString((docs_.path() / "chart_1024x700.png").string());
  EXPECT_TRUE(window_->grab().save(png));
  // A folder to keep the picture in for a person to look at, when one is given.
  const QString keep = qEnvironmentVariable("LP_KEEP_SCREENSHOTS");
  if (!keep.isEmpty()) window_->grab().save(keep + QStringLiteral("/chart_1024x700.png"));
}

}  // namespace
}  // namespace lp::chart
