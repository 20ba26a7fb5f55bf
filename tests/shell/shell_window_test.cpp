#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "price-server/price_server.h"
#include "sample-market/sample_market.h"
#include "shell/main_window.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"

namespace lp::gui {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::write_bytes;

QStringList items(QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

QStringList years(int from, int to) {
  QStringList out;
  for (int y = from; y >= to; --y) out << QStringLiteral("%1年").arg(y);
  return out;
}

QColor text_color(QLabel* label) {
  return label->palette().color(QPalette::WindowText);
}

// A documents folder, an installation folder with the three templates, a fixed today.
struct Session {
  TempDir dir;
  std::string docs = dir.str() + "/docs";
  std::string install = dir.str() + "/install";
  std::string db = docs + "/nordhaven/lumenpick/kabuka_db/";
  explicit Session(std::string today = "20130315") {
    fs::create_directories(docs);
    for (const char* t : {"cmd.txt", "init.txt", "settei.txt"}) {
      write_bytes(fs::path(install) / t, std::string(t) + "\r\nEOF\r\n");
    }
    Platform p;
    p.documents_folder = docs;
    p.desktop_folder = dir.str() + "/desktop";
    p.install_folder = install;
    p.today = [today] { return today; };
    p.yield = [] { QCoreApplication::processEvents(); };
    WindowHub::instance().set_platform(p);
  }
  std::unique_ptr<MainWindow> open() {
    auto w = std::make_unique<MainWindow>();
    w->open_url = [this](const QUrl& url) { opened << url.toString(); };
    return w;
  }
  QStringList opened;
};

template <class T>
T* find(QWidget* w, const char* name) {
  T* c = w->findChild<T*>(QLatin1String(name));
  EXPECT_NE(c, nullptr) << name;
  return c;
}

TEST(MainWindowStart, EveryControlWithItsCaption) {
  Session s;
  auto w = s.open();
  EXPECT_EQ(w->objectName(), "main");
  EXPECT_EQ(w->windowTitle(), "ルーメンピックソフトウェア　- NORDHAVEN -");
  const std::vector<std::pair<const char*, const char*>> buttons = {
      {"download_cmd", "データ更新"},
      {"meigara_sel2_cmd", "銘柄選択"},
      {"graph_cmd", "チャート"},
      {"portforio_cmd", "ポートフォリオ"},
      {"vup1_cmd", "ﾊﾞｰｼﾞｮﾝ ｱｯﾌﾟ"},
      {"end_cmd", "終了"},
      {"yyyy_dl_cmd", "株価ダウンロード"},
      {"yyyy_del_cmd", "株価削除"},
      {"see_data_cmd", "株価データ確認"},
      {"url_opt_0", "nordhaven"},
      {"url_opt_1", "内部LAN"},
      {"url_opt_2", "local　host"},
  };
  for (const auto& [name, caption] : buttons) {
    auto* b = find<QAbstractButton>(w.get(), name);
    if (b) {
      EXPECT_EQ(b->text(), QString::fromUtf8(caption)) << name;
    }
  }
  EXPECT_TRUE(find<QRadioButton>(w.get(), "url_opt_0")->isChecked());
  EXPECT_EQ(find<QGroupBox>(w.get(), "mnt_frm")->title(), "株価データベースのメインテナンス");
  EXPECT_EQ(find<QGroupBox>(w.get(), "Frame1")->title(), "ダウンロードホスト");
  for (const char* name : {"cmd_frm", "yyyy_dl_cmb", "yyyy_delet_cmb", "yyyy_cmb", "Label1",
                           "Label2", "Label3", "label4", "Image1"}) {
    find<QWidget>(w.get(), name);
  }
  auto* label2 = find<QLabel>(w.get(), "Label2");
  EXPECT_EQ(label2->text(), "v20130515");
  EXPECT_EQ(text_color(label2), QColor(0, 0, 255));
  auto* timer3 = find<QTimer>(w.get(), "Timer3");
  EXPECT_EQ(timer3->interval(), 100);
  EXPECT_FALSE(timer3->isActive());
  auto* timer1 = find<QTimer>(w.get(), "Timer1");
  EXPECT_TRUE(timer1->isActive());
  EXPECT_EQ(timer1->interval(), 1000);
  QTRY_COMPARE_WITH_TIMEOUT(w->windowTitle(), QStringLiteral("銘柄選択用ツール　NORDHAVEN"), 5000);
  EXPECT_FALSE(timer1->isActive());
}

TEST(MainWindowStart, FirstStartOnAnEmptyDocumentsFolder) {
  Session s;
  auto w = s.open();
  const fs::path product = fs::path(s.docs) / "nordhaven/lumenpick";
  for (const char* t : {"cmd.txt", "init.txt", "settei.txt"}) {
    EXPECT_TRUE(fs::exists(product / t)) << t;
  }
  EXPECT_TRUE(fs::is_directory(s.db));
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_dl_cmb")), years(2013, 1983));
  EXPECT_EQ(find<QComboBox>(w.get(), "yyyy_dl_cmb")->currentText(), "2013年");
  EXPECT_TRUE(items(find<QComboBox>(w.get(), "yyyy_delet_cmb")).isEmpty());
  EXPECT_TRUE(items(find<QComboBox>(w.get(), "yyyy_cmb")).isEmpty());
  auto* label3 = find<QLabel>(w.get(), "Label3");
  EXPECT_EQ(label3->text(), "株価データベース:　データ無");
  EXPECT_EQ(text_color(label3), QColor(0, 0, 255));
  auto* label1 = find<QLabel>(w.get(), "Label1");
  EXPECT_EQ(label1->text(), "株価データがありません。株価をダウンロードしてください。");
  EXPECT_EQ(text_color(label1), QColor(255, 0, 0));
  // Without data every command stays available, so the user can download.
  for (const char* name : {"download_cmd", "graph_cmd", "yyyy_dl_cmd", "yyyy_del_cmd"}) {
    EXPECT_TRUE(find<QWidget>(w.get(), name)->isEnabled()) << name;
  }
}

TEST(MainWindowStart, ASecondStartDoesNotRestoreADeletedTemplate) {
  Session s;
  s.open();
  const fs::path cmd = fs::path(s.docs) / "nordhaven/lumenpick/cmd.txt";
  fs::remove(cmd);
  s.open();
  EXPECT_FALSE(fs::exists(cmd));
}

TEST(MainWindowStart, YearListsFromTheDatabaseFolders) {
  Session s;
  for (const char* f : {"2012", "2013", "old2012"}) fs::create_directories(s.db + f);
  test::write_series_file(s.db, 2012, "1001", "基準", {{"20121228", 1, 1, 1, 1, 10}});
  auto w = s.open();
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_delet_cmb")), years(2013, 2012));
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_cmb")), years(2013, 2012));
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_dl_cmb")), years(2011, 1983));
  EXPECT_EQ(find<QLabel>(w.get(), "Label3")->text(), "株価データベース:　～20121228");
  EXPECT_TRUE(find<QLabel>(w.get(), "Label1")->text().isEmpty());
}

TEST(MainWindowStatus, TheStatusTableOnTheWidgets) {
  Session s;
  auto w = s.open();
  const char* six[] = {"download_cmd",  "meigara_sel2_cmd", "graph_cmd",
                       "portforio_cmd", "vup1_cmd",         "end_cmd"};
  const char* maintenance[] = {"yyyy_dl_cmb", "yyyy_dl_cmd", "yyyy_delet_cmb", "yyyy_del_cmd"};
  struct Case {
    const char* status;
    bool commands;
    bool maintenance;
    bool see_data;  // effective state (a disabled frame disables its content)
  };
  const std::vector<Case> cases = {
      {"株価ダウンローﾄﾞ開始", false, false, false},
      {"株価ダウンローﾄﾞ完了", true, true, true},
      {"株価削除開始", false, false, true},
      {"株価削除完了", true, true, true},
      {"どれでもない", true, true, true},
      {"idle", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    w->set_main_status(QString::fromUtf8(c.status));
    for (const char* n : six) EXPECT_EQ(find<QWidget>(w.get(), n)->isEnabled(), c.commands) << n;
    for (const char* n : maintenance) {
      EXPECT_EQ(find<QWidget>(w.get(), n)->isEnabled(), c.maintenance) << n;
    }
    EXPECT_EQ(find<QWidget>(w.get(), "see_data_cmd")->isEnabled(), c.see_data);
  }
}

TEST(MainWindowCommands, ChartAndPortfolioAreRefusedWithoutData) {
  Session s;
  auto w = s.open();
  for (const char* name : {"graph_cmd", "portforio_cmd"}) {
    SCOPED_TRACE(name);
    find<QLabel>(w.get(), "Label1")->setText(QStringLiteral("old"));
    QTest::mouseClick(find<QPushButton>(w.get(), name), Qt::LeftButton);
    auto* label1 = find<QLabel>(w.get(), "Label1");
    EXPECT_EQ(label1->text(), "株価データベースにデータがありません。");
    EXPECT_EQ(text_color(label1), QColor(255, 0, 0));
    EXPECT_EQ(WindowHub::instance().window(QStringLiteral("graph"), false), nullptr);
  }
  // The folder view opens the database folder in the file manager.
  QTest::mouseClick(find<QPushButton>(w.get(), "see_data_cmd"), Qt::LeftButton);
  ASSERT_EQ(s.opened.size(), 1);
  EXPECT_TRUE(s.opened[0].endsWith(QStringLiteral("kabuka_db/"))) << s.opened[0].toStdString();
}

struct TwoYears : Session {
  TwoYears() {
    test::write_series_file(db, 2012, "1001", "基準", {{"20121228", 1, 1, 1, 1, 10}});
    test::write_series_file(db, 2013, "1001", "基準", {{"20130315", 1, 1, 1, 1, 10}});
  }
};

TEST(MainWindowDelete, DeletingMovesTheYearBetweenTheLists) {
  TwoYears s;
  auto w = s.open();
  QStringList questions;
  w->confirm = [&](const QString& q) {
    questions << q;
    return true;
  };
  auto* delete_list = find<QComboBox>(w.get(), "yyyy_delet_cmb");
  EXPECT_EQ(delete_list->currentText(), "2013年");
  QTest::mouseClick(find<QPushButton>(w.get(), "yyyy_del_cmd"), Qt::LeftButton);
  EXPECT_EQ(questions, QStringList{QStringLiteral("2013年のデータを削除しますか？")});
  EXPECT_FALSE(fs::exists(s.db + "2013"));
  EXPECT_EQ(items(delete_list), years(2012, 2012));
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_cmb")), years(2012, 2012));
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_dl_cmb")).first(), "2013年");
  EXPECT_EQ(find<QLabel>(w.get(), "Label3")->text(), "株価データベース:　～20121228");
  EXPECT_EQ(find<QLabel>(w.get(), "Label1")->text(), "2013年の株価情報を削除しました。");
  EXPECT_TRUE(find<QWidget>(w.get(), "download_cmd")->isEnabled());
  EXPECT_TRUE(find<QWidget>(w.get(), "yyyy_del_cmd")->isEnabled());

  // The last year goes too: no data is left.
  QTest::mouseClick(find<QPushButton>(w.get(), "yyyy_del_cmd"), Qt::LeftButton);
  EXPECT_EQ(find<QLabel>(w.get(), "Label3")->text(), "株価データベース:　データ無");
  EXPECT_EQ(delete_list->count(), 0);
  QTest::mouseClick(find<QPushButton>(w.get(), "yyyy_del_cmd"), Qt::LeftButton);
  EXPECT_EQ(find<QLabel>(w.get(), "Label1")->text(), "削除するデータはありません。");
  EXPECT_EQ(questions.size(), 2);
}

TEST(MainWindowDelete, NoChangesNothing) {
  TwoYears s;
  auto w = s.open();
  w->confirm = [](const QString&) { return false; };
  QTest::mouseClick(find<QPushButton>(w.get(), "yyyy_del_cmd"), Qt::LeftButton);
  EXPECT_TRUE(fs::exists(s.db + "2013/data_m/1001.csv"));
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_delet_cmb")), years(2013, 2012));
  EXPECT_EQ(find<QLabel>(w.get(), "Label3")->text(), "株価データベース:　～20130315");
  for (const char* name : {"download_cmd", "yyyy_del_cmd", "yyyy_dl_cmd", "see_data_cmd"}) {
    EXPECT_TRUE(find<QWidget>(w.get(), name)->isEnabled()) << name;
  }
}

TEST(MainWindowDownload, AChosenYearFromTheLocalPriceServer) {
  Session s;
  const std::string packed = s.dir.str() + "/server";
  lp::sample::Options opt;
  opt.codes = 40;
  opt.years = 1;
  opt.end_date = "20130315";
  opt.packed_root = packed;
  std::string error;
  ASSERT_TRUE(lp::sample::generate(opt, error)) << error;
  lp::tools::PriceServer server(QString::fromStdString(packed));
  const quint16 port = server.listen(0);
  ASSERT_NE(port, 0);

  auto w = s.open();
  w->set_local_base("http://127.0.0.1:" + std::to_string(port) + "/html/kabuka_db/");
  find<QRadioButton>(w.get(), "url_opt_2")->setChecked(true);
  auto* dl_list = find<QComboBox>(w.get(), "yyyy_dl_cmb");
  dl_list->setCurrentIndex(dl_list->findText(QStringLiteral("2013年")));
  QTest::mouseClick(find<QPushButton>(w.get(), "yyyy_dl_cmd"), Qt::LeftButton);

  const std::string last = std::to_string(lp::sample::last_trading_day_on_or_before("20130315"));
  EXPECT_EQ(find<QLabel>(w.get(), "Label3")->text().toStdString(), "株価データベース:　～" + last);
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_delet_cmb")), years(2013, 2013));
  EXPECT_EQ(items(dl_list).first(), "2012年");
  EXPECT_TRUE(fs::exists(s.db + "2013/data_d/" + last + ".csv"));
  EXPECT_TRUE(fs::exists(s.db + "2013/data_m/1301.csv"));
  EXPECT_FALSE(fs::exists(s.db + "2013/data_dg"));
  // Nine of twelve months lie in the future of the sample market: counted, not hidden.
  EXPECT_EQ(find<QLabel>(w.get(), "Label1")->text(),
            "ダウンロードを完了しました。（取得 13 件・失敗 9 件）");
  EXPECT_FALSE(find<QTimer>(w.get(), "Timer3")->isActive());
  EXPECT_TRUE(find<QWidget>(w.get(), "mnt_frm")->isEnabled());
  EXPECT_TRUE(fs::exists(fs::path(s.install) / "data.html"));
}

TEST(MainWindowDownload, ClosingDuringADownloadStopsAfterTheCurrentFile) {
  Session s;
  const std::string packed = s.dir.str() + "/server";
  lp::sample::Options opt;
  opt.codes = 20;
  opt.years = 1;
  opt.end_date = "20130315";
  opt.packed_root = packed;
  std::string error;
  ASSERT_TRUE(lp::sample::generate(opt, error)) << error;
  lp::tools::PriceServer server(QString::fromStdString(packed));
  ASSERT_NE(server.listen(0), 0);

  auto w = s.open();
  w->show();
  w->set_local_base(server.base_url().toStdString() + "html/kabuka_db/");
  find<QRadioButton>(w.get(), "url_opt_2")->setChecked(true);
  int requests = 0;
  const HttpGet real = w->http_get;
  MainWindow* window = w.get();
  w->http_get = [&](const std::string& url) {
    // The user closes the window while the third request (month 1) is under way.
    if (++requests == 3) window->close();
    return real(url);
  };
  QTest::mouseClick(find<QPushButton>(w.get(), "download_cmd"), Qt::LeftButton);
  EXPECT_EQ(requests, 3);
  EXPECT_TRUE(WindowHub::instance().quit_requested());
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(w->running());
  EXPECT_TRUE(fs::exists(s.db + "2013/data_dg/201301.csv"));
  EXPECT_FALSE(fs::exists(s.db + "2013/data_d"
                                 "/20130315.csv"));
}

}  // namespace
}  // namespace lp::gui
