// 監視結果: the main window's update runs the watched screens, its badge counts the new
// entrants, the window lists them and charts one on a double click; the daily schedule from
// the window; the report as a real browser shows it.
#include "watch/watch_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "common/csv.h"
#include "sample-market/sample_market.h"
#include "screening/formula/formula_step.h"
#include "screening/saved_screens.h"
#include "common/settings.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"
#include "support/gui_checks.h"
#include "watch/report_painter.h"
#include "watch/watch_report.h"
#include "watch/watch_schedule.h"

namespace lp::gui {
namespace {

namespace fs = std::filesystem;

class WatchWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folders = read_settei_sub(dir.str(), dir.str());
    test::write_cp932(folders.app_folder + "settei.txt", "EOF,0\r\n");
    generate("20250612");
    fs::create_directories(folders.user_folder);
    for (auto [name, formula] : {std::pair{"上抜け", "C > MA(C,5)"}, {"下抜け", "C < MA(C,5)"}}) {
      screening::ControlSet c = screening::ControlSet::with_builtins();
      for (int i = 0; i < 6; ++i) c.set_checked(screening::indexed("shijyou_chk", i), true);
      c.set_checked(screening::indexed("pr_chk", 41), true);
      c.set_text(screening::formula_text_control(41), formula);
      std::string error;
      ASSERT_TRUE(screening::save_screen(folders.user_folder, name, c, {true, ""}, error));
    }
    Platform p;
    p.documents_folder = p.desktop_folder = dir.str();
    p.install_folder = QCoreApplication::applicationDirPath().toStdString();
    p.today = [] { return std::string("20250613"); };
    WindowHub::instance().set_platform(p);
  }
  void TearDown() override {
    for (const char* name : {"kanshi_frm", "main", "graph"})
      delete WindowHub::instance().window(name, false);
    QApplication::processEvents();
  }
  void generate(const std::string& end) {
    std::error_code ec;
    fs::remove_all(folders.db_folder, ec);
    sample::Options o;
    o.codes = 80;
    o.years = 1;
    o.end_date = end;
    o.seed = 3;
    o.db_folder = folders.db_folder;
    std::string error;
    ASSERT_TRUE(sample::generate(o, error)) << error;
  }

  test::TempDir dir;
  AppFolders folders;
};

TEST_F(WatchWindowTest, AnUpdateRunsTheScreensAndTheWindowShowsWhatIsNew) {
  // The main window takes the trading days at its start; the update then adds 20250613.
  QWidget* main = WindowHub::instance().show_window("main");
  ASSERT_NE(main, nullptr);
  auto* w = qobject_cast<WatchWindow*>(WindowHub::instance().window("kanshi_frm", false));
  ASSERT_NE(w, nullptr) << "the main window's start prepares the watched screens";
  QStringList notified;
  w->notify = [&](const QString& title, const QString& body) {
    notified << title + "|" + body;
    return true;
  };
  generate("20250613");
  w->database_changed();
  const watch::AfterUpdateResult& r = w->last_run();
  ASSERT_EQ(r.run.screens.size(), 2u);
  for (const auto& s : r.run.screens) {
    EXPECT_TRUE(s.error.empty()) << s.error;
    EXPECT_EQ(s.days_written, (std::vector<std::string>{"20250612", "20250613"}));
  }
  const int entered = r.run.entered_count();
  ASSERT_GT(entered, 0) << "the sample market has new entrants on a day";
  ASSERT_EQ(notified.size(), 1);
  EXPECT_TRUE(notified[0].startsWith(QStringLiteral("LumenPick: 新規 %1 銘柄|").arg(entered)));
  EXPECT_TRUE(fs::exists(folders.user_folder + "reports/20250613.html"));

  // The badge of the main window's button counts them.
  auto* badge = main->findChild<QLabel*>("kanshi_badge_lb");
  ASSERT_NE(badge, nullptr);
  EXPECT_EQ(badge->text(), QString::number(entered));
  EXPECT_FALSE(badge->isHidden());
  test::save_snapshot(main, "main_window_watch");

  // The window: two days, a heading per screen, the 新規 rows first under it.
  main->findChild<QPushButton*>("kanshi_cmd")->click();
  ASSERT_TRUE(w->isVisible());
  auto* dates = w->findChild<QListWidget*>("hiduke_lst");
  ASSERT_EQ(dates->count(), 2);
  EXPECT_EQ(dates->currentItem()->text(), "2025/06/13");
  auto* grid = w->findChild<QTableWidget*>("kekka_grd");
  int headings = 0, new_rows = 0, first_new = -1;
  for (int row = 0; row < grid->rowCount(); ++row) {
    const QString kind = grid->item(row, 0)->text();
    if (kind.startsWith(QStringLiteral("■"))) ++headings;
    if (kind == QStringLiteral("新規")) {
      ++new_rows;
      if (first_new < 0) first_new = row;
    }
  }
  EXPECT_EQ(headings, 2);
  EXPECT_EQ(new_rows, entered);
  test::save_snapshot(w, "watch_window");
  // The earlier day has no yesterday to compare with: nothing is new there.
  dates->setCurrentRow(1);
  EXPECT_EQ(w->shown_day(), "20250612");
  for (int row = 0; row < grid->rowCount(); ++row)
    EXPECT_NE(grid->item(row, 0)->text(), QStringLiteral("新規"));
  dates->setCurrentRow(0);

  // A double click charts the stock, as the results window does.
  for (int row = 0; row < grid->rowCount(); ++row) {
    if (grid->item(row, 0)->text() != QStringLiteral("新規")) continue;
    first_new = row;
    break;
  }
  const QString code = grid->item(first_new, 1)->text();
  emit grid->cellDoubleClicked(first_new, 1);
  QWidget* chart = WindowHub::instance().window("graph", false);
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(chart->findChild<QLineEdit*>("meigara_code_txt")->text(), code);

  // The same update seen again adds nothing and notifies nothing.
  w->database_changed();
  EXPECT_EQ(notified.size(), 1);
}

TEST_F(WatchWindowTest, AtStartTheBadgeShowsARunOfTheTimerAndTheContinuingRowsUnfold) {
  // The timer (or the command line) ran the screens while no window was open.
  generate("20250613");
  watch::RunRequest run;
  run.platform = WindowHub::instance().platform();
  run.days = {"20250613"};
  const int entered = watch::run_watched(run).entered_count();
  ASSERT_GT(entered, 0);
  QWidget* main = WindowHub::instance().show_window("main");
  auto* badge = main->findChild<QLabel*>("kanshi_badge_lb");
  EXPECT_EQ(badge->text(), QString::number(entered));
  EXPECT_FALSE(badge->isHidden());

  // Under each heading 新規 and 除外 first; the 継続 rows hidden behind a row that unfolds them.
  auto* w = qobject_cast<WatchWindow*>(WindowHub::instance().window("kanshi_frm", false));
  ASSERT_NE(w, nullptr);
  auto* grid = w->findChild<QTableWidget*>("kekka_grd");
  int toggle = -1, continuing = 0;
  bool folded_part = false;
  for (int row = 0; row < grid->rowCount(); ++row) {
    const QString kind = grid->item(row, 0)->text();
    if (kind.startsWith(QStringLiteral("■"))) folded_part = false;
    if (kind.startsWith(QStringLiteral("▶ 継続"))) {
      folded_part = true;
      if (toggle < 0) toggle = row;
    }
    if (kind == QStringLiteral("新規") || kind == QStringLiteral("除外")) {
      EXPECT_FALSE(folded_part) << "row " << row << " comes after the 継続";
    }
    if (kind == QStringLiteral("継続")) {
      ++continuing;
      EXPECT_TRUE(grid->isRowHidden(row)) << row;
    }
  }
  ASSERT_GE(toggle, 0);
  ASSERT_GT(continuing, 0);
  emit grid->cellClicked(toggle, 0);
  for (int row = 0; row < grid->rowCount(); ++row) {
    if (grid->item(row, 0)->text() == QStringLiteral("継続")) {
      EXPECT_FALSE(grid->isRowHidden(row)) << row;
    }
  }
}

TEST_F(WatchWindowTest, DailyScheduleFromTheWindow) {
  WatchWindow w;
  w.unit_folder = dir.str() + "/units";
  std::vector<std::string> calls;
  w.systemctl = [&](const std::string& args, std::string& out) {
    calls.push_back(args);
    out = "Failed to connect to bus";
    return 1;
  };
  w.findChild<QCheckBox*>("jidou_chk")->setChecked(true);
  w.findChild<QPushButton*>("settei_cmd")->click();
  const auto* msg = w.findChild<QLabel*>("msg1_lb");
  const bool cli_built =
      fs::exists(QCoreApplication::applicationDirPath().toStdString() + "/lumenpick-cli");
  if (!cli_built) GTEST_SKIP() << "lumenpick-cli is not built beside the test";
  // Without a user manager the files stay, the box unticks itself and the window says why
  // in its own words, systemd's only as the detail.
  EXPECT_TRUE(msg->text().contains(QStringLiteral("タイマーを有効にできません")))
      << msg->text().toStdString();
  EXPECT_TRUE(msg->text().contains(QStringLiteral("詳細: Failed to connect to bus")));
  EXPECT_FALSE(w.findChild<QCheckBox*>("jidou_chk")->isChecked());
  {
    WatchWindow again;  // a window opened later shows the same
    again.unit_folder = w.unit_folder;
    again.systemctl = w.systemctl;
    again.show_schedule();
    EXPECT_FALSE(again.findChild<QCheckBox*>("jidou_chk")->isChecked());
  }
  EXPECT_TRUE(watch::read_schedule(w.unit_folder).installed);
  EXPECT_EQ(watch::read_schedule(w.unit_folder).time, "18:00");
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "daemon-reload");
  w.findChild<QCheckBox*>("jidou_chk")->setChecked(false);
  w.findChild<QPushButton*>("settei_cmd")->click();
  EXPECT_FALSE(watch::read_schedule(w.unit_folder).installed);
}

// Pixels of the chart's pure candle colours in a screenshot.
int candle_pixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      const bool red = c.red() > 235 && c.green() < 25 && c.blue() < 25;
      const bool blue = c.blue() > 235 && c.red() < 25 && c.green() < 25;
      n += red || blue;
    }
  }
  return n;
}

TEST_F(WatchWindowTest, TheReportInARealBrowserShowsItsCharts) {
  const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
  if (chromium.isEmpty()) GTEST_SKIP() << "chromium is not installed (Debian package chromium)";
  generate("20250613");
  watch::RunRequest run;
  run.platform = WindowHub::instance().platform();
  run.days = {"20250613"};
  ASSERT_GT(watch::run_watched(run).entered_count(), 0);
  auto shot = [&](bool charts) {
    std::string path, error;
    const watch::ChartPicture none = [](const std::string&, const std::string&) {
      return std::string();
    };
    EXPECT_TRUE(watch::write_report(
        folders, "20250613", charts ? watch::report_chart_picture(folders) : none, path, error))
        << error;
    const QString png = QString::fromStdString(dir.str()) + (charts ? "/with.png" : "/without.png");
    QProcess p;
    p.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                       "--window-size=1200,2400", "--screenshot=" + png,
                       "file://" + QString::fromStdString(path)});
    EXPECT_TRUE(p.waitForFinished(120000));
    QImage image(png);
    EXPECT_FALSE(image.isNull()) << p.readAllStandardError().toStdString();
    return image;
  };
  const int without = candle_pixels(shot(false));
  const int with = candle_pixels(shot(true));
  EXPECT_GT(with, without + 300) << "with charts " << with << ", without " << without;
}

}  // namespace
}  // namespace lp::gui
