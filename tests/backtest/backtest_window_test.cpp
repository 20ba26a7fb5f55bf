// 「検証」 from the screening window: the dialog's period and progress, the cancel, the backtest
// window's tables and picture, and the hand-over of a trade to the chart.
#include "backtest/backtest_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <cstdlib>
#include <filesystem>

#include "backtest/backtest_dialog_window.h"
#include "chart/chart_window.h"
#include "common/numbers.h"
#include "common/settings.h"
#include "sample-market/sample_market.h"
#include "screening/saved_screens.h"
#include "screening/screening_window.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"

namespace lp::gui {
namespace {

namespace fs = std::filesystem;

class BacktestWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folders = read_settei_sub(dir.str(), dir.str());
    test::write_cp932(folders.app_folder + "settei.txt", "EOF,0\r\n");
    sample::Options o;
    o.codes = 80;
    o.years = 2;
    o.end_date = "20250613";
    o.seed = 3;
    o.db_folder = folders.db_folder;
    std::string error;
    ASSERT_TRUE(sample::generate(o, error)) << error;
    Platform p;
    p.documents_folder = p.desktop_folder = dir.str();
    p.today = [] { return std::string("20250613"); };
    WindowHub::instance().set_platform(p);
  }
  void TearDown() override {
    for (const char* name : {"kensho_out_frm", "kensho_frm", "meigarasel2", "graph"})
      delete WindowHub::instance().window(name, false);
    QApplication::processEvents();
  }

  ScreeningWindow* screening() {
    auto* w = qobject_cast<ScreeningWindow*>(WindowHub::instance().show_window("meigarasel2"));
    for (int n = 1; n <= 40; ++n)
      if (auto* c = w->findChild<QCheckBox*>(QStringLiteral("pr_chk_%1").arg(n)))
        c->setChecked(false);
    w->findChild<QCheckBox*>("pr_chk_1")->setChecked(true);
    w->findChild<QLineEdit*>("kabukamin")->setText("30");
    w->findChild<QLineEdit*>("kabukamax")->setText("400");
    return w;
  }
  template <class T>
  static T* ctl(QWidget* w, const char* name) {
    T* c = w ? w->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    EXPECT_NE(c, nullptr) << name;
    return c;
  }

  test::TempDir dir;
  AppFolders folders;
};

TEST_F(BacktestWindowTest, KenshoRunsTheWindowsScreenAndShowsTradesThatChart) {
  ScreeningWindow* sw = screening();
  auto* kensho = ctl<QPushButton>(sw, "kensho_cmd");
  ASSERT_EQ(kensho->text(), QStringLiteral("検証"));
  sw->grab().save(QString::fromStdString(dir.str() + "/screening_kensho.png"));
  kensho->click();
  auto* dialog = qobject_cast<BacktestDialog*>(WindowHub::instance().window("kensho_frm", false));
  ASSERT_NE(dialog, nullptr);
  auto* from = ctl<QComboBox>(dialog, "kensho_from_cmb");
  auto* to = ctl<QComboBox>(dialog, "kensho_to_cmb");
  ASSERT_GT(from->count(), 300);
  EXPECT_EQ(to->currentText(), "20250613");  // the latest trading day first
  from->setCurrentText("20241202");
  to->setCurrentText("20250131");
  ctl<QSpinBox>(dialog, "kensho_hold_txt")->setValue(5);
  ctl<QSpinBox>(dialog, "kensho_every_txt")->setValue(5);
  std::vector<int> seen;
  QObject::connect(ctl<QProgressBar>(dialog, "kensho_pb"), &QProgressBar::valueChanged,
                   [&seen](int v) { seen.push_back(v); });
  ctl<QPushButton>(dialog, "kensho_run_cmd")->click();
  auto* bar = ctl<QProgressBar>(dialog, "kensho_pb");
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_GE(seen.size(), 8u);  // signal day i of n, one by one
  EXPECT_TRUE(ctl<QLabel>(dialog, "kensho_msg_lb")->text().startsWith("完了"));

  auto* result =
      qobject_cast<BacktestWindow*>(WindowHub::instance().window("kensho_out_frm", false));
  ASSERT_NE(result, nullptr);
  auto* summary = ctl<QTableWidget>(result, "kensho_summary_grd");
  ASSERT_GE(summary->rowCount(), 2);  // all days, then 2024 and 2025
  EXPECT_EQ(summary->item(0, 0)->text(), "全体");
  const int trades = summary->item(0, 3)->text().toInt();
  auto* grid = ctl<QTableWidget>(result, "kensho_trades_grd");
  ASSERT_GT(trades, 0);
  EXPECT_EQ(grid->rowCount(), trades);
  const fs::path out = fs::path(folders.user_folder) / "backtest" / "screen-20241202-20250131";
  for (const char* f : {"trades.csv", "summary.csv", "equity.csv", "equity.png"})
    EXPECT_TRUE(fs::exists(out / f)) << f;

  // Sorting by the return column orders the rows by value, not by text.
  grid->sortItems(7, Qt::DescendingOrder);
  for (int r = 1; r < grid->rowCount(); ++r) {
    EXPECT_GE(grid->item(r - 1, 7)->data(Qt::DisplayRole).toDouble(),
              grid->item(r, 7)->data(Qt::DisplayRole).toDouble());
  }
  // The window says what the figures are: the unsaved screen, the benchmark by code and name,
  // no costs or taxes, and what the less obvious columns count.
  EXPECT_TRUE(ctl<QLabel>(result, "kensho_caption_lb")
                  ->text()
                  .startsWith(QStringLiteral("検証（保存していない条件）  20241202 - 20250131")));
  const QString note = ctl<QLabel>(result, "kensho_note_lb")->text();
  EXPECT_TRUE(note.contains(QRegularExpression(QStringLiteral("基準：1001 \\S+　"))))
      << note.toStdString();
  EXPECT_TRUE(note.contains(QStringLiteral("手数料・税金は含みません"))) << note.toStdString();
  for (int c : {4, 5, 9}) {
    EXPECT_FALSE(summary->horizontalHeaderItem(c)->toolTip().isEmpty())
        << summary->horizontalHeaderItem(c)->text().toStdString();
  }
  EXPECT_TRUE(summary->horizontalHeaderItem(9)->toolTip().contains(QStringLiteral("1001")));
  result->show();
  QApplication::processEvents();
  EXPECT_GT(grid->viewport()->height() / grid->verticalHeader()->defaultSectionSize(), 6)
      << "more than six trade rows are visible";
  result->grab().save(QString::fromStdString(dir.str() + "/backtest_window.png"));
  dialog->grab().save(QString::fromStdString(dir.str() + "/backtest_dialog.png"));

  // A double click charts the trade's stock up to its exit day, the entry as reference.
  const QString code = grid->item(0, 1)->text();
  const QString exit_day = grid->item(0, 5)->text();
  emit grid->cellDoubleClicked(0, 1);
  auto* chart = dynamic_cast<lp::chart::ChartWindow*>(WindowHub::instance().window("graph", false));
  ASSERT_NE(chart, nullptr);
  for (int i = 0; i < 200 && !chart->disp_ready(); ++i) QApplication::processEvents();
  EXPECT_EQ(ctl<QLineEdit>(chart, "meigara_code_txt")->text(), code);
  EXPECT_EQ(ctl<QLineEdit>(chart, "refer1_txt")->text(),
            grid->item(0, 4)->data(Qt::UserRole).toString());
  EXPECT_TRUE(ctl<QCheckBox>(chart, "refer1_chk")->isChecked());
  ASSERT_TRUE(chart->scene().loaded);
  EXPECT_LE(parse_integer(chart->scene().bars.date[1]), parse_integer(exit_day.toStdString()));
  EXPECT_GE(parse_integer(chart->scene().bars.date[1]),
            parse_integer(grid->item(0, 3)->text().toStdString()));
}

TEST_F(BacktestWindowTest, AccountModeShowsItsReportAndKeepsItsSettingsWithTheSavedScreen) {
  ScreeningWindow* sw = screening();
  sw->pull_controls();
  std::string error;
  ASSERT_TRUE(screening::save_screen(folders.user_folder, "bt1", sw->session().controls(), error))
      << error;
  ctl<QComboBox>(sw, "hozon_cmb")->setEditText("bt1");
  ctl<QPushButton>(sw, "kensho_cmd")->click();
  auto* dialog = qobject_cast<BacktestDialog*>(WindowHub::instance().window("kensho_frm", false));
  ASSERT_NE(dialog, nullptr);
  ctl<QComboBox>(dialog, "kensho_from_cmb")->setCurrentText("20240603");
  ctl<QComboBox>(dialog, "kensho_to_cmb")->setCurrentText("20250613");
  ctl<QGroupBox>(dialog, "kensho_account_chk")->setChecked(true);
  ctl<QLineEdit>(dialog, "kensho_capital_txt")->setText("3000000");
  ctl<QLineEdit>(dialog, "kensho_positions_txt")->setText("5");
  ctl<QLineEdit>(dialog, "kensho_stop_txt")->setText("8");
  ctl<QLineEdit>(dialog, "kensho_target_txt")->setText("20");
  ctl<QLineEdit>(dialog, "kensho_commission_txt")->setText("0.1%,min=100");
  ctl<QLineEdit>(dialog, "kensho_rank_txt")->setText("C / REF(C,20)");
  ctl<QSpinBox>(dialog, "kensho_hold_txt")->setValue(0);  // なし: the stop and target only
  ctl<QPushButton>(dialog, "kensho_run_cmd")->click();
  const QString msg = ctl<QLabel>(dialog, "kensho_msg_lb")->text();
  ASSERT_TRUE(msg.startsWith("完了")) << msg.toStdString();

  auto* result =
      qobject_cast<BacktestWindow*>(WindowHub::instance().window("kensho_out_frm", false));
  ASSERT_NE(result, nullptr);
  result->show();
  QApplication::processEvents();
  auto* report = ctl<QTableWidget>(result, "kensho_report_grd");
  auto* monthly = ctl<QTableWidget>(result, "kensho_monthly_grd");
  EXPECT_TRUE(report->isVisible());
  EXPECT_FALSE(ctl<QTableWidget>(result, "kensho_summary_grd")->isVisible());
  QStringList keys;
  for (int r = 0; r < report->rowCount(); ++r) keys << report->item(r, 0)->text();
  for (const char* k : {"最大ドローダウン", "シャープレシオ", "プロフィットファクター", "取引数"})
    EXPECT_TRUE(keys.contains(QString::fromUtf8(k))) << k;
  ASSERT_EQ(monthly->columnCount(), 14);
  EXPECT_EQ(monthly->horizontalHeaderItem(13)->text(), QStringLiteral("年間"));
  EXPECT_EQ(monthly->rowCount(), 2);  // 2024 and 2025
  // A month with a gain is red, one with a loss blue.
  for (int r = 0; r < monthly->rowCount(); ++r) {
    for (int c = 1; c < 14; ++c) {
      const QTableWidgetItem* cell = monthly->item(r, c);
      if (!cell || cell->text().isEmpty() || cell->text().toDouble() == 0) continue;
      const QColor bg = cell->background().color();
      EXPECT_EQ(cell->text().toDouble() > 0, bg.red() > bg.blue()) << cell->text().toStdString();
    }
  }
  auto* grid = ctl<QTableWidget>(result, "kensho_trades_grd");
  ASSERT_GT(grid->rowCount(), 0);
  EXPECT_EQ(grid->horizontalHeaderItem(10)->text(), QStringLiteral("決済理由"));
  EXPECT_EQ(grid->horizontalHeaderItem(7)->text(), QStringLiteral("株数"));
  for (int r = 0; r < grid->rowCount(); ++r) {
    const QString why = grid->item(r, 10)->text();
    EXPECT_TRUE(why == "stop" || why == "target" || why == "end") << why.toStdString();
    EXPECT_EQ(grid->item(r, 7)->data(Qt::DisplayRole).toLongLong() % 100, 0);
  }
  const fs::path out = fs::path(folders.user_folder) / "backtest" / "bt1-20240603-20250613";
  for (const char* f : {"trades.csv", "summary.csv", "equity.csv", "equity.png", "stats.txt",
                        "monthly.csv"})
    EXPECT_TRUE(fs::exists(out / f)) << f;
  if (const char* shots = std::getenv("LP_TEST_SHOTS")) {
    result->grab().save(QString::fromUtf8(shots) + "/account_window.png");
    dialog->grab().save(QString::fromUtf8(shots) + "/account_dialog.png");
  }

  // The settings went with the saved screen, and come back in a new dialog for it.
  screening::ScreenMarks marks;
  ASSERT_TRUE(screening::read_screen_marks(folders.user_folder, "bt1", marks, error)) << error;
  EXPECT_EQ(marks.backtest["口座"], "ON");
  EXPECT_EQ(marks.backtest["損切"], "8");
  EXPECT_EQ(marks.backtest["手数料"], "0.1%,min=100");
  delete dialog;
  ctl<QPushButton>(sw, "kensho_cmd")->click();
  dialog = qobject_cast<BacktestDialog*>(WindowHub::instance().window("kensho_frm", false));
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(ctl<QGroupBox>(dialog, "kensho_account_chk")->isChecked());
  EXPECT_EQ(ctl<QLineEdit>(dialog, "kensho_target_txt")->text(), "20");
  EXPECT_EQ(ctl<QLineEdit>(dialog, "kensho_rank_txt")->text(), "C / REF(C,20)");
  EXPECT_EQ(ctl<QSpinBox>(dialog, "kensho_hold_txt")->value(), 0);

  // A wrong setting is refused with its name, before any run.
  ctl<QLineEdit>(dialog, "kensho_commission_txt")->setText("0.1%,min=x");
  ctl<QPushButton>(dialog, "kensho_run_cmd")->click();
  EXPECT_TRUE(ctl<QLabel>(dialog, "kensho_msg_lb")->text().contains("--commission"));
}

TEST_F(BacktestWindowTest, CancelKeepsTheOlderOutputAndOpensNoResult) {
  screening();
  ctl<QPushButton>(WindowHub::instance().window("meigarasel2", false), "kensho_cmd")->click();
  auto* dialog = qobject_cast<BacktestDialog*>(WindowHub::instance().window("kensho_frm", false));
  ASSERT_NE(dialog, nullptr);
  ctl<QComboBox>(dialog, "kensho_from_cmb")->setCurrentText("20241202");
  ctl<QComboBox>(dialog, "kensho_to_cmb")->setCurrentText("20241227");
  const fs::path out = fs::path(folders.user_folder) / "backtest" / "screen-20241202-20241227";
  test::write_bytes(out / "trades.csv", "older complete run");
  auto* cancel = ctl<QPushButton>(dialog, "kensho_cancel_cmd");
  QObject::connect(ctl<QProgressBar>(dialog, "kensho_pb"), &QProgressBar::valueChanged,
                   [cancel](int v) {
                     if (v == 3) cancel->click();
                   });
  ctl<QPushButton>(dialog, "kensho_run_cmd")->click();
  EXPECT_EQ(ctl<QLabel>(dialog, "kensho_msg_lb")->text(), QStringLiteral("中止しました。"));
  EXPECT_EQ(test::read_bytes(out / "trades.csv"), "older complete run");
  EXPECT_EQ(WindowHub::instance().window("kensho_out_frm", false), nullptr);
  EXPECT_TRUE(ctl<QPushButton>(dialog, "kensho_run_cmd")->isEnabled());
}

}  // namespace
}  // namespace lp::gui
