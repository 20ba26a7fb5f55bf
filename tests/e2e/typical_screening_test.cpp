// The typical screening walked through the real windows, offscreen: a sample market served by
// the local price server on loopback, the years downloaded through the main window, a screening
// with criteria 1, 2, 8 and 10, the results handed to the results window, a row charted, a
// stock found by a hiragana query, a holding valued in the portfolio, and the main window
// closing everything. Each step checks what the user sees: labels, counts and grid cells.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "price-server/price_server.h"
#include "sample-market/sample_market.h"
#include "shell/main_window.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"
#include "support/gui_checks.h"

QT_BEGIN_NAMESPACE
// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace lp::gui {
namespace {

namespace fs = std::filesystem;

constexpr int kStepLimitMs = 60000;
constexpr const char* kEndDate = "20240614";  // a Friday: the market's last trading day
constexpr const char* kToday = "20240617";    // the Monday after

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

// Processes events until `done` holds or the time is up; returns whether it holds.
template <class Pred>
bool wait_until(Pred done, int ms = kStepLimitMs) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return done();
}

template <class T>
T* find(QWidget* window, const QString& name) {
  return window ? window->findChild<T*>(name) : nullptr;
}
template <class T>
T* find(QWidget* window, const char* name) {
  return find<T>(window, QString::fromLatin1(name));
}

// "1,234.5" -> 1234.5; the grids and totals show thousands separators.
double shown_number(const QString& text) {
  QString t = text.trimmed();
  t.remove(QLatin1Char(','));
  bool ok = false;
  const double v = t.toDouble(&ok);
  return ok ? v : -1e300;
}

// A CP932 file of the database or the user folder as rows of fields (quotes dropped).
std::vector<std::vector<QString>> read_rows(const fs::path& path) {
  std::vector<std::vector<QString>> rows;
  const QString text = q(test::read_cp932(path));
  for (const QString& line : text.split(QRegularExpression(QStringLiteral("\r?\n")))) {
    if (line.trimmed().isEmpty()) continue;
    std::vector<QString> fields;
    for (QString f : line.split(QLatin1Char(','))) {
      f = f.trimmed();
      if (f.size() >= 2 && f.startsWith(QLatin1Char('"')) && f.endsWith(QLatin1Char('"'))) {
        f = f.mid(1, f.size() - 2);
      }
      fields.push_back(f);
    }
    rows.push_back(std::move(fields));
  }
  return rows;
}

// One stock of the latest trading day as its day file gives it.
struct DayLine {
  QString code, market, name;
  double close = 0;
};

// Saves what the user would see of a window into the build folder, for a look by eye, as
// e2e_NAME@Nx.png at the device pixel ratio N the run uses; no caption may be cut off.
void snapshot(QWidget* window, const char* name) {
  if (!window) return;
  const QString path = QDir(QCoreApplication::applicationDirPath())
                           .absoluteFilePath(QStringLiteral("../e2e_%1@%2x.png")
                                                 .arg(name)
                                                 .arg(std::lround(window->devicePixelRatioF())));
  window->grab().save(path);
  EXPECT_EQ(test::clipped_captions(window), QStringList()) << name;
}

class TypicalScreening : public ::testing::Test {
 protected:
  void SetUp() override {
    docs_ = dir_.str() + "/documents";
    install_ = dir_.str() + "/install";
    fs::create_directories(docs_);
    fs::create_directories(install_);
    // The installation folder holds the three templates the main window copies at first start.
    const fs::path shipped = QCoreApplication::applicationDirPath().toStdString();
    for (const char* t : {"cmd.txt", "init.txt", "settei.txt"}) {
      ASSERT_TRUE(fs::exists(shipped / t)) << "template not next to the test program: " << t;
      fs::copy_file(shipped / t, fs::path(install_) / t);
    }

    sample::Options opt;
    opt.codes = 300;
    opt.years = 2;
    opt.end_date = kEndDate;
    opt.packed_root = dir_.str() + "/server";
    std::string error;
    ASSERT_TRUE(sample::generate(opt, error, market_)) << error;
    ASSERT_EQ(market_.end_date, kEndDate);
    server_ = std::make_unique<tools::PriceServer>(q(opt.packed_root));
    ASSERT_NE(server_->listen(0), 0) << "the price server cannot listen on loopback";

    Platform p;
    p.documents_folder = docs_;
    p.desktop_folder = dir_.str() + "/desktop";
    p.install_folder = install_;
    p.today = [] { return std::string(kToday); };
    p.yield = [] { QCoreApplication::processEvents(); };
    WindowHub::instance().set_platform(p);
    WindowHub::instance().reset_quit();
  }

  void TearDown() override {
    // Whatever step failed, no window outlives the folders it reads.
    auto& hub = WindowHub::instance();
    for (const char* name :
         {"m_kensaku_frm", "portforio", "graph", "meigarasel_out_frm", "meigarasel2", "main"}) {
      if (QWidget* w = hub.window(QLatin1String(name), false)) w->close();
    }
    wait_until(
        [&] {
          for (const char* name : {"m_kensaku_frm", "portforio", "graph", "meigarasel_out_frm",
                                   "meigarasel2", "main"}) {
            if (hub.window(QLatin1String(name), false)) return false;
          }
          return true;
        },
        5000);
    server_.reset();
    QCoreApplication::processEvents();
  }

  std::string product() const { return docs_ + "/nordhaven/lumenpick/"; }
  std::string db() const { return product() + "kabuka_db/"; }
  std::string user() const { return product() + "user/"; }
  QString latest() const { return QString::fromLatin1(kEndDate); }

  // The stocks of the latest trading day, by code, read straight from the database.
  std::map<QString, DayLine> latest_day() const {
    std::map<QString, DayLine> out;
    const auto rows = read_rows(db() + "2024/data_d/" + kEndDate + ".csv");
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const auto& f = rows[i];
      if (f.size() < 8) continue;
      out[f[0]] = {f[0], f[1], f[2], shown_number(f[6])};
    }
    return out;
  }

  // How many of the 22 files a chosen-year download asks for the server really has.
  int served_files(int year) const {
    const fs::path y = fs::path(dir_.str()) / "server/html/kabuka_db" / std::to_string(year);
    int n = fs::exists(y / "data_mhg" / (std::to_string(year) + ".csv")) ? 1 : 0;
    for (int k = 1; k <= 9; ++k) n += fs::exists(y / "data_mg" / (std::to_string(k) + "000.csv"));
    for (int m = 1; m <= 12; ++m) {
      char name[16];
      std::snprintf(name, sizeof name, "%04d%02d.csv", year, m);
      n += fs::exists(y / "data_dg" / name);
    }
    return n;
  }

  void download_years();
  void screen();
  void results_handed_over();
  void chart_a_row();
  void search_by_hiragana();
  void value_a_holding();
  void close_everything();

  test::TempDir dir_;
  std::string docs_, install_;
  sample::Summary market_;
  std::unique_ptr<tools::PriceServer> server_;
  QPointer<MainWindow> main_;
  // Carried from one step to the next, as the user carries them.
  std::vector<std::vector<QString>> results_;  // sel0_out.csv
  QString charted_code_;
};

// --------------------------------------------------------------- 1-3: the price database

void TypicalScreening::download_years() {
  auto& hub = WindowHub::instance();
  main_ = qobject_cast<MainWindow*>(hub.show_window(QStringLiteral("main")));
  ASSERT_TRUE(main_) << "no main window built in";
  // A fresh documents folder: the product folder with the templates, and no data yet.
  EXPECT_TRUE(fs::exists(product() + "settei.txt"));
  EXPECT_EQ(find<QLabel>(main_, "Label1")->text(),
            QStringLiteral("株価データがありません。株価をダウンロードしてください。"));
  EXPECT_EQ(find<QComboBox>(main_, "yyyy_delet_cmb")->count(), 0);

  // The "local　host" option with the local server's address (its port is the test's own).
  main_->set_local_base(server_->base_url().toStdString() + "html/kabuka_db/");
  auto* local = find<QRadioButton>(main_, "url_opt_2");
  ASSERT_TRUE(local);
  EXPECT_EQ(local->text(), QStringLiteral("local　host"));
  QTest::mouseClick(local, Qt::LeftButton);
  ASSERT_TRUE(local->isChecked());

  auto* years = find<QComboBox>(main_, "yyyy_dl_cmb");
  auto* button = find<QPushButton>(main_, "yyyy_dl_cmd");
  ASSERT_TRUE(years && button);
  for (int year : {2024, 2023}) {
    SCOPED_TRACE(year);
    const int entry = years->findText(QStringLiteral("%1年").arg(year));
    ASSERT_GE(entry, 0) << "year not offered for download";
    years->setCurrentIndex(entry);
    QTest::mouseClick(button, Qt::LeftButton);
    auto* message = find<QLabel>(main_, "Label1");
    // The download ends with its summary, or early with a warning or an error.
    ASSERT_TRUE(wait_until([&] {
      const QString text = message->text();
      return main_ && !main_->running() &&
             (text.startsWith(QStringLiteral("ダウンロードを完了しました。")) ||
              text.startsWith(QStringLiteral("警告")) ||
              text.startsWith(QStringLiteral("エラー")));
    })) << message->text().toStdString();
    const int fetched = served_files(year);
    EXPECT_EQ(message->text(),
              QStringLiteral("ダウンロードを完了しました。（取得 %1 件・失敗 %2 件）")
                  .arg(fetched)
                  .arg(22 - fetched));
    EXPECT_TRUE(button->isEnabled());
  }

  EXPECT_EQ(find<QLabel>(main_, "Label3")->text(),
            QStringLiteral("株価データベース:　～") + latest());
  for (const char* name : {"yyyy_delet_cmb", "yyyy_cmb"}) {
    auto* list = find<QComboBox>(main_, name);
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    EXPECT_EQ(items, QStringList({QStringLiteral("2024年"), QStringLiteral("2023年")})) << name;
  }
  ASSERT_GT(years->count(), 0);
  EXPECT_EQ(years->itemText(0), QStringLiteral("2022年"));
  EXPECT_EQ(years->findText(QStringLiteral("2024年")), -1);
  snapshot(main_, "main");
}

// --------------------------------------------------------------- 4: the screening run

void TypicalScreening::screen() {
  auto& hub = WindowHub::instance();
  QTest::mouseClick(find<QPushButton>(main_, "meigara_sel2_cmd"), Qt::LeftButton);
  QWidget* sel = hub.window(QStringLiteral("meigarasel2"), false);
  ASSERT_TRUE(sel) << "the screening window did not open";
  ASSERT_TRUE(wait_until([&] { return sel->isVisible(); }, 5000));

  auto set_text = [&](const char* name, const QString& text) {
    auto* box = find<QLineEdit>(sel, name);
    ASSERT_TRUE(box) << name;
    box->selectAll();
    QTest::keyClicks(box, text);
    ASSERT_EQ(box->text(), text) << name;
  };
  auto set_combo = [&](const char* name, const QString& text) {
    auto* box = find<QComboBox>(sel, name);
    ASSERT_TRUE(box) << name;
    box->setEditText(text);
    ASSERT_EQ(box->currentText(), text) << name;
  };
  // 1: price 100 to 3000 yen; 2: the lowest price of 250 days within the last 120 days;
  // 8: a golden cross of the 5- and 25-day averages within 60 days (the run allows 50 at
  // most); 10: a 14-day RSI of 50 to 100. Wide enough that stocks survive all four, narrow
  // enough that each one bites.
  ASSERT_NO_FATAL_FAILURE(set_text("kabukamin", QStringLiteral("100")));
  ASSERT_NO_FATAL_FAILURE(set_text("kabukamax", QStringLiteral("3000")));
  ASSERT_NO_FATAL_FAILURE(set_combo("yasune1_kikan_cmb", QStringLiteral("250")));
  ASSERT_NO_FATAL_FAILURE(set_text("yasune1_kikan_txt", QStringLiteral("120")));
  ASSERT_NO_FATAL_FAILURE(set_text("gcdc_txt_0", QStringLiteral("60")));
  ASSERT_NO_FATAL_FAILURE(set_text("gcdc_txt_1", QStringLiteral("5")));
  ASSERT_NO_FATAL_FAILURE(set_text("gcdc_txt_2", QStringLiteral("25")));
  auto* gc = find<QRadioButton>(sel, "gc_dc_opt_0");
  ASSERT_TRUE(gc);
  QTest::mouseClick(gc, Qt::LeftButton);
  EXPECT_TRUE(gc->isChecked());
  ASSERT_NO_FATAL_FAILURE(set_combo("rsi1_kikan_cmb", QStringLiteral("14")));
  ASSERT_NO_FATAL_FAILURE(set_text("rsi1_min_txt", QStringLiteral("50")));
  ASSERT_NO_FATAL_FAILURE(set_text("rsi1_max_txt", QStringLiteral("100")));

  const int ticked[] = {1, 2, 8, 10};
  for (int n = 1; n <= 40; ++n) {
    auto* box = find<QCheckBox>(sel, QStringLiteral("pr_chk_%1").arg(n));
    ASSERT_TRUE(box) << n;
    const bool want = std::find(std::begin(ticked), std::end(ticked), n) != std::end(ticked);
    if (box->isChecked() != want) QTest::mouseClick(box, Qt::LeftButton);
    ASSERT_EQ(box->isChecked(), want) << "pr_chk_" << n;
  }

  auto* start = find<QPushButton>(sel, "select_cal1_cmd");
  ASSERT_TRUE(start);
  EXPECT_EQ(start->text(), QStringLiteral("開始"));
  QTest::mouseClick(start, Qt::LeftButton);
  ASSERT_TRUE(wait_until([&] {
    return start->isEnabled() && !find<QLabel>(sel, "result1_lb_10")->text().isEmpty();
  })) << "the run did not end";

  // The universe is every stock of the latest day (all segments ticked); each criterion
  // starts from what the one before kept.
  const auto day = latest_day();
  int before = static_cast<int>(day.size());
  ASSERT_GT(before, 100);
  QRegularExpression count_text(QStringLiteral("^(\\d+)/(\\d+)$"));
  for (int n : ticked) {
    const QString label = find<QLabel>(sel, QStringLiteral("result1_lb_%1").arg(n))->text();
    SCOPED_TRACE(QStringLiteral("result1_lb_%1 = %2").arg(n).arg(label).toStdString());
    const auto m = count_text.match(label);
    ASSERT_TRUE(m.hasMatch());
    const int kept = m.captured(1).toInt();
    EXPECT_EQ(m.captured(2).toInt(), before);
    EXPECT_LE(kept, before);
    EXPECT_GT(kept, 0) << "the parameters should leave stocks";
    EXPECT_LT(kept, before) << "each ticked criterion should drop some stocks here";
    before = kept;
  }
  for (int n : {3, 4, 5, 6, 7, 9}) {
    EXPECT_TRUE(find<QLabel>(sel, QStringLiteral("result1_lb_%1").arg(n))->text().isEmpty())
        << "criterion " << n << " was not ticked";
  }
  EXPECT_EQ(find<QLabel>(sel, "hiduke1_lb")->text(), QStringLiteral("最新取引日：") + latest());
  // Criterion 8 looks back at most 50 days; the box shows the value the run used.
  EXPECT_EQ(find<QLineEdit>(sel, "gcdc_txt_0")->text(), QStringLiteral("50"));

  results_ = read_rows(user() + "sel0_out.csv");
  ASSERT_FALSE(results_.empty());
  ASSERT_GE(results_[0].size(), 2u);
  EXPECT_EQ(results_[0][0].toInt(), before) << "sel0_out.csv holds the last criterion's survivors";
  EXPECT_EQ(results_[0][1], latest());
  EXPECT_EQ(static_cast<int>(results_.size()) - 1, before);
  // Every survivor is a stock of the latest day, priced within criterion 1's range.
  for (std::size_t i = 1; i < results_.size(); ++i) {
    const auto it = day.find(results_[i][0]);
    ASSERT_NE(it, day.end()) << results_[i][0].toStdString();
    EXPECT_GE(it->second.close, 100);
    EXPECT_LE(it->second.close, 3000);
  }
  snapshot(sel, "meigarasel2");
}

// --------------------------------------------------------------- 5: the results window

void TypicalScreening::results_handed_over() {
  auto& hub = WindowHub::instance();
  QWidget* out = hub.window(QStringLiteral("meigarasel_out_frm"), false);
  ASSERT_TRUE(out) << "the results window was not opened by the run";
  auto* flag = find<QLabel>(out, "startflag_lb");
  ASSERT_TRUE(flag);
  ASSERT_TRUE(wait_until([&] { return flag->text() == QStringLiteral("done"); }))
      << flag->text().toStdString();
  EXPECT_TRUE(out->isVisible());

  auto* grid = find<QTableWidget>(out, "MSFlexGrid1");
  ASSERT_TRUE(grid);
  EXPECT_EQ(find<QLabel>(out, "hiduke1_lb")->text(), QStringLiteral("最新取引日：") + latest());
  EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("ｺｰﾄﾞ"));
  EXPECT_EQ(grid->item(0, 2)->text(), QStringLiteral("銘柄"));
  const int n = static_cast<int>(results_.size()) - 1;
  for (int r = 1; r < grid->rowCount(); ++r) {
    SCOPED_TRACE(r);
    if (r <= n) {
      const auto& f = results_[static_cast<std::size_t>(r)];
      EXPECT_EQ(grid->item(r, 0)->text(), QString::number(r));
      EXPECT_EQ(grid->item(r, 1)->text(), f[0]);
      EXPECT_EQ(grid->item(r, 2)->text(), f[2].left(8));
      EXPECT_DOUBLE_EQ(shown_number(grid->item(r, 3)->text()), shown_number(f[7]));
    } else {
      EXPECT_TRUE(grid->item(r, 1)->text().isEmpty());
    }
  }
  auto* pages = find<QComboBox>(out, "page1_cmb");
  EXPECT_EQ(pages->count(), (n - 1) / 25 + 1);
  EXPECT_EQ(find<QPushButton>(out, "next1_cmd")->isEnabled(), n > 25);
  snapshot(out, "meigarasel_out_frm");
}

// --------------------------------------------------------------- 6: a row to the chart

void TypicalScreening::chart_a_row() {
  auto& hub = WindowHub::instance();
  QWidget* out = hub.window(QStringLiteral("meigarasel_out_frm"), false);
  ASSERT_TRUE(out);
  auto* grid = find<QTableWidget>(out, "MSFlexGrid1");
  const int n = static_cast<int>(results_.size()) - 1;
  // The grid starts on row 1, column 1: the user clicks another cell to choose a stock.
  const int row = n >= 2 ? 2 : 1;
  const int column = row == 1 ? 2 : 1;
  const QRect cell = grid->visualItemRect(grid->item(row, column));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  charted_code_ = results_[static_cast<std::size_t>(row)][0];

  QWidget* chart = nullptr;
  ASSERT_TRUE(wait_until([&] {
    chart = hub.window(QStringLiteral("graph"), false);
    auto* code = find<QLineEdit>(chart, "meigara_code_txt");
    auto* busy = find<QLabel>(chart, "busy_flag_lb");
    return code && busy && code->text() == charted_code_ && busy->text() != QStringLiteral("busy");
  })) << "the chart did not take "
      << charted_code_.toStdString();
  EXPECT_TRUE(chart->isVisible());
  auto* summary = find<QTableWidget>(chart, "MSFlexGrid2");
  auto* day = find<QTableWidget>(chart, "MSFlexGrid1");
  ASSERT_TRUE(summary && day);
  const auto latest_day_lines = latest_day();
  const DayLine& stock = latest_day_lines.at(charted_code_);
  EXPECT_EQ(summary->item(1, 0)->text(), charted_code_);
  EXPECT_EQ(summary->item(1, 2)->text(), latest());
  EXPECT_DOUBLE_EQ(shown_number(summary->item(1, 6)->text()), stock.close);
  EXPECT_EQ(day->item(1, 0)->text(), latest());
  EXPECT_DOUBLE_EQ(shown_number(day->item(1, 4)->text()), stock.close);
  EXPECT_FALSE(find<QLineEdit>(chart, "meigara_txt")->text().isEmpty());
  EXPECT_TRUE(find<QLabel>(chart, "msg1_lb")->text().isEmpty())
      << find<QLabel>(chart, "msg1_lb")->text().toStdString();
  snapshot(chart, "graph");
}

// --------------------------------------------------------------- 7: the search

void TypicalScreening::search_by_hiragana() {
  auto& hub = WindowHub::instance();
  QWidget* chart = hub.window(QStringLiteral("graph"), false);
  ASSERT_TRUE(chart);
  // Which stocks of the day the user would expect: names with サクラ in either width.
  std::vector<QString> sakura;
  for (const auto& [code, line] : latest_day()) {
    if (line.name.contains(QStringLiteral("サクラ")) || line.name.contains(QStringLiteral("ｻｸﾗ"))) {
      sakura.push_back(code);
    }
  }
  ASSERT_FALSE(sakura.empty()) << "the sample market has no サクラ name on its latest day";

  auto* name = find<QLineEdit>(chart, "meigara_txt");
  name->clear();
  name->setFocus();
  // Kana arrive from the input method as a committed string, not as key presses.
  QInputMethodEvent typed;
  typed.setCommitString(QStringLiteral("さくら"));
  QCoreApplication::sendEvent(name, &typed);
  ASSERT_EQ(name->text(), QStringLiteral("さくら"));
  auto* search_cmd = find<QPushButton>(chart, "m_kensaku_cmd");
  ASSERT_TRUE(search_cmd);
  EXPECT_EQ(search_cmd->text(), QStringLiteral("銘柄検索"));
  QTest::mouseClick(search_cmd, Qt::LeftButton);

  QWidget* search = nullptr;
  QListWidget* list = nullptr;
  ASSERT_TRUE(wait_until([&] {
    search = hub.window(QStringLiteral("m_kensaku_frm"), false);
    list = find<QListWidget>(search, "List1");
    auto* flag = find<QLabel>(search, "flg_lb");
    return list && flag && flag->text().isEmpty() && list->count() > 0 &&
           !list->item(0)->text().startsWith(QStringLiteral("処理中"));
  })) << "the search did not answer";
  EXPECT_TRUE(search->isVisible());
  snapshot(search, "m_kensaku_frm");

  // Every サクラ stock is listed, and the best match heads the list.
  auto is_sakura = [](const QString& text) {
    return text.contains(QStringLiteral("サクラ")) || text.contains(QStringLiteral("ｻｸﾗ"));
  };
  std::vector<QString> listed;
  for (int i = 0; i < list->count(); ++i) {
    listed.push_back(list->item(i)->text().section(QStringLiteral("　"), 0, 0));
  }
  for (const QString& code : sakura) {
    EXPECT_NE(std::find(listed.begin(), listed.end(), code), listed.end())
        << code.toStdString() << " not found by さくら";
  }
  EXPECT_TRUE(is_sakura(list->item(0)->text())) << list->item(0)->text().toStdString();

  // The user picks a サクラ line other than the stock on the chart.
  int line = -1;
  for (int i = 0; i < list->count() && line < 0; ++i) {
    if (is_sakura(list->item(i)->text()) && listed[static_cast<std::size_t>(i)] != charted_code_) {
      line = i;
    }
  }
  ASSERT_GE(line, 0);
  const QString picked = listed[static_cast<std::size_t>(line)];
  const QRect rect = list->visualItemRect(list->item(line));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  auto* code = find<QLineEdit>(chart, "meigara_code_txt");
  auto* busy = find<QLabel>(chart, "busy_flag_lb");
  ASSERT_TRUE(wait_until([&] {
    return code->text() == picked && busy->text() != QStringLiteral("busy");
  })) << "the chart did not take "
      << picked.toStdString();
  charted_code_ = picked;
  auto* summary = find<QTableWidget>(chart, "MSFlexGrid2");
  EXPECT_EQ(summary->item(1, 0)->text(), picked);
  EXPECT_EQ(summary->item(1, 2)->text(), latest());
  EXPECT_TRUE(is_sakura(name->text())) << name->text().toStdString();
  EXPECT_DOUBLE_EQ(shown_number(summary->item(1, 6)->text()), latest_day().at(picked).close);
  snapshot(chart, "graph_search");
}

// --------------------------------------------------------------- 8: the portfolio

void TypicalScreening::value_a_holding() {
  auto& hub = WindowHub::instance();
  QTest::mouseClick(find<QPushButton>(main_, "portforio_cmd"), Qt::LeftButton);
  QWidget* ptf = hub.window(QStringLiteral("portforio"), false);
  ASSERT_TRUE(ptf) << "the portfolio did not open: "
                   << find<QLabel>(main_, "Label1")->text().toStdString();
  auto* add = find<QPushButton>(ptf, "regist_cmd1");
  ASSERT_TRUE(add);
  ASSERT_TRUE(wait_until([&] { return add->isEnabled(); })) << "the portfolio did not get ready";

  const std::map<QString, DayLine> day = latest_day();
  const double close = day.at(charted_code_).close;
  const std::pair<const char*, QString> entries[] = {{"code_txt1", charted_code_},
                                                     {"yyyymmdd_txt1", QStringLiteral("20240301")},
                                                     {"kabusuu_txt1", QStringLiteral("200")},
                                                     {"kaine_txt1", QStringLiteral("1000")}};
  for (const auto& [field, text] : entries) {
    auto* box = find<QLineEdit>(ptf, field);
    ASSERT_TRUE(box) << field;
    box->clear();
    QTest::keyClicks(box, text);
  }
  EXPECT_EQ(add->text(), QStringLiteral("追加"));
  QTest::mouseClick(add, Qt::LeftButton);
  auto* grid = find<QTableWidget>(ptf, "MSFlexGrid1");
  ASSERT_TRUE(wait_until([&] {
    return add->isEnabled() && grid->item(0, 1)->text() == charted_code_;
  })) << find<QLabel>(ptf, "alart_lb1")->text().toStdString();

  EXPECT_EQ(grid->item(0, 0)->text(), QStringLiteral("1"));
  EXPECT_EQ(grid->item(0, 2)->text(), day.at(charted_code_).name.left(8));
  EXPECT_EQ(grid->item(0, 3)->text(), QStringLiteral("20240301"));
  EXPECT_DOUBLE_EQ(shown_number(grid->item(0, 4)->text()), 200);
  EXPECT_DOUBLE_EQ(shown_number(grid->item(0, 5)->text()), 1000);
  EXPECT_NEAR(shown_number(grid->item(0, 6)->text()), close, 0.005) << "current price";
  EXPECT_NEAR(shown_number(grid->item(0, 7)->text()), close - 1000, 0.005);
  EXPECT_NEAR(shown_number(grid->item(0, 8)->text()), 200000, 0.5);
  EXPECT_NEAR(shown_number(grid->item(0, 9)->text()), 200 * close, 0.5);
  EXPECT_NEAR(shown_number(grid->item(0, 10)->text()), 200 * close - 200000, 0.5);
  EXPECT_TRUE(grid->item(1, 1)->text().isEmpty());

  const double profit = 200 * close - 200000;
  EXPECT_NEAR(shown_number(find<QLabel>(ptf, "kounyuu_total_lb1")->text()), 200000, 0.5);
  EXPECT_NEAR(shown_number(find<QLabel>(ptf, "hyouka_total_lb1")->text()), 200 * close, 0.5);
  EXPECT_NEAR(shown_number(find<QLabel>(ptf, "profit_lb1")->text()), profit, 0.5);
  EXPECT_NEAR(shown_number(find<QLabel>(ptf, "profit_ratio_lb1")->text()), profit / 2000, 0.051);
  EXPECT_TRUE(fs::exists(user() + "ptf0.csv"));
  snapshot(ptf, "portforio");
}

// --------------------------------------------------------------- 9: closing

void TypicalScreening::close_everything() {
  auto& hub = WindowHub::instance();
  const char* others[] = {"meigarasel2", "meigarasel_out_frm", "graph", "m_kensaku_frm",
                          "portforio"};
  std::map<std::string, QPointer<QWidget>> open;
  for (const char* name : others) {
    open[name] = hub.window(QLatin1String(name), false);
    ASSERT_TRUE(open[name] && open[name]->isVisible()) << name << " should be open by now";
  }
  ASSERT_TRUE(main_);
  main_->close();
  EXPECT_TRUE(hub.quit_requested());
  EXPECT_TRUE(wait_until([&] { return main_.isNull(); }, 5000)) << "the main window stays";
  for (const char* name : others) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(wait_until(
        [&] {
          QWidget* w = hub.window(QLatin1String(name), false);
          return w == nullptr || !w->isVisible();
        },
        5000));
    QPointer<QWidget>& was = open[name];
    EXPECT_TRUE(was.isNull() || !was->isVisible());
  }
}

TEST_F(TypicalScreening, FromDownloadToAValuedHolding) {
  {
    SCOPED_TRACE("download through the main window");
    ASSERT_NO_FATAL_FAILURE(download_years());
  }
  {
    SCOPED_TRACE("screening with criteria 1, 2, 8 and 10");
    ASSERT_NO_FATAL_FAILURE(screen());
  }
  {
    SCOPED_TRACE("results window");
    ASSERT_NO_FATAL_FAILURE(results_handed_over());
  }
  {
    SCOPED_TRACE("a row to the chart");
    ASSERT_NO_FATAL_FAILURE(chart_a_row());
  }
  {
    SCOPED_TRACE("search by a hiragana name");
    ASSERT_NO_FATAL_FAILURE(search_by_hiragana());
  }
  {
    SCOPED_TRACE("a holding in the portfolio");
    ASSERT_NO_FATAL_FAILURE(value_a_holding());
  }
  {
    SCOPED_TRACE("closing the main window");
    ASSERT_NO_FATAL_FAILURE(close_everything());
  }
}

}  // namespace
}  // namespace lp::gui
