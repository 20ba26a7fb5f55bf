#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "shell/dialogs_gui.h"
#include "shell/main_window.h"
#include "shell/translations_gui.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"
#include "support/loopback_server.h"

namespace lp::gui {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

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
  Session() {
    fs::create_directories(docs);
    for (const char* t : {"cmd.txt", "init.txt", "settei.txt"}) {
      test::write_bytes(fs::path(install) / t, std::string(t) + "\r\nEOF\r\n");
    }
    Platform p;
    p.documents_folder = docs;
    p.desktop_folder = dir.str() + "/desktop";
    p.install_folder = install;
    p.today = [] { return std::string("20130315"); };
    p.yield = [] { QCoreApplication::processEvents(); };
    WindowHub::instance().set_platform(p);
  }
  std::unique_ptr<MainWindow> open() {
    auto w = std::make_unique<MainWindow>();
    w->open_url = [this](const QUrl& url) {
      opened << url.toString();
      return can_open;
    };
    w->warn = [this](const QString& text) { warnings << text; };
    return w;
  }
  QStringList opened;
  bool can_open = true;  // whether a file manager / browser "starts"
  QStringList warnings;
};

template <class T>
T* find(QWidget* w, const char* name) {
  T* c = w->findChild<T*>(QLatin1String(name));
  EXPECT_NE(c, nullptr) << name;
  return c;
}

TEST(MainWindowStart, FirstStartThenASecondStart) {
  Session s;
  auto w = s.open();
  EXPECT_TRUE(find<QRadioButton>(w.get(), "url_opt_0")->isChecked());

  // First start: the templates copied, every year offered, no data.
  const fs::path product = fs::path(s.docs) / "nordhaven/lumenpick";
  EXPECT_TRUE(fs::exists(product / "cmd.txt"));
  EXPECT_TRUE(fs::is_directory(s.db));
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_dl_cmb")), years(2013, 1983));
  EXPECT_EQ(find<QComboBox>(w.get(), "yyyy_dl_cmb")->currentText(), "2013年");
  EXPECT_TRUE(items(find<QComboBox>(w.get(), "yyyy_cmb")).isEmpty());
  auto* label3 = find<QLabel>(w.get(), "Label3");
  EXPECT_EQ(label3->text(), "株価データベース:　データ無");
  EXPECT_EQ(text_color(label3), QColor(0, 0, 255));
  EXPECT_EQ(text_color(find<QLabel>(w.get(), "Label1")), QColor(255, 0, 0));
  // Without data every command stays available, so the user can download.
  for (const char* name : {"download_cmd", "graph_cmd", "yyyy_dl_cmd", "yyyy_del_cmd"}) {
    EXPECT_TRUE(find<QWidget>(w.get(), name)->isEnabled()) << name;
  }
  // ... but the chart and the portfolio are refused.
  for (const char* name : {"graph_cmd", "portforio_cmd"}) {
    find<QLabel>(w.get(), "Label1")->setText(QStringLiteral("old"));
    QTest::mouseClick(find<QPushButton>(w.get(), name), Qt::LeftButton);
    EXPECT_EQ(find<QLabel>(w.get(), "Label1")->text(), "株価データベースにデータがありません。");
    EXPECT_EQ(WindowHub::instance().window(QStringLiteral("graph"), false), nullptr);
  }
  // The folder view opens the database folder in the file manager.
  QTest::mouseClick(find<QPushButton>(w.get(), "see_data_cmd"), Qt::LeftButton);
  ASSERT_EQ(s.opened.size(), 1);
  EXPECT_TRUE(s.opened[0].endsWith(QStringLiteral("kabuka_db/"))) << s.opened[0].toStdString();
  QTRY_COMPARE_WITH_TIMEOUT(w->windowTitle(), QStringLiteral("銘柄選択用ツール　NORDHAVEN"), 5000);

  // A template the user deleted stays deleted: an existing product folder is never refilled.
  w.reset();
  fs::remove(product / "cmd.txt");
  s.open();
  EXPECT_FALSE(fs::exists(product / "cmd.txt"));
}

TEST(MainWindowStart, AFreshAccountGetsItsDocumentsTreeOrIsToldWhyNot) {
  struct Case {
    const char* name;
    bool blocked;  // a file stands where the documents folder should be
  } cases[] = {{"no documents folder yet", false}, {"a file in the way", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    fs::remove_all(s.docs);
    if (c.blocked) test::write_bytes(s.docs, "not a folder");
    auto w = s.open();
    auto* label1 = find<QLabel>(w.get(), "Label1");
    EXPECT_EQ(fs::is_directory(s.db), !c.blocked);
    EXPECT_EQ(fs::exists(fs::path(s.docs) / "nordhaven/lumenpick/settei.txt"), !c.blocked);
    EXPECT_EQ(label1->text().contains(QStringLiteral("エラー：フォルダを作成できません：")),
              c.blocked)
        << label1->text().toStdString();
    if (c.blocked) {
      EXPECT_TRUE(label1->text().contains(QStringLiteral("同じ名前のファイルがあります")));
      EXPECT_EQ(text_color(label1), QColor(255, 0, 0));
    }
  }
}

TEST(MainWindowStart, AFileManagerOrBrowserThatCannotStartIsToldInABox) {
  Session s;
  auto w = s.open();
  struct Case {
    const char* button;
    const char* opened_ends_with;
    const char* warning_starts_with;
  } cases[] = {
      {"see_data_cmd", "kabuka_db/", "ファイルマネージャーを起動できませんでした。"},
      {"vup1_cmd", "version_up.html", "ブラウザを起動できませんでした。"},
  };
  for (bool can_open : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.button) + (can_open ? " starts" : " fails"));
      s.can_open = can_open;
      s.opened.clear();
      s.warnings.clear();
      QTest::mouseClick(find<QPushButton>(w.get(), c.button), Qt::LeftButton);
      ASSERT_EQ(s.opened.size(), 1);
      EXPECT_TRUE(s.opened[0].endsWith(QLatin1String(c.opened_ends_with)));
      if (can_open) {
        EXPECT_TRUE(s.warnings.isEmpty());
      } else {
        ASSERT_EQ(s.warnings.size(), 1);
        EXPECT_TRUE(s.warnings[0].startsWith(QString::fromUtf8(c.warning_starts_with)));
        // The box names what could not be opened.
        EXPECT_TRUE(s.warnings[0].contains(s.opened[0].section('/', -1)))
            << s.warnings[0].toStdString();
      }
    }
  }
}

TEST(Dialogs, YesNoQuestionAnswersInJapaneseAndDefaultsToNo) {
  std::unique_ptr<QMessageBox> box(
      make_yes_no_box(nullptr, QStringLiteral("題"), QStringLiteral("2013年のデータを削除しますか？")));
  QStringList texts;
  for (QAbstractButton* b : box->buttons()) texts << b->text();
  texts.sort();
  EXPECT_EQ(texts, (QStringList{QStringLiteral("いいえ"), QStringLiteral("はい")}));
  for (QAbstractButton* b : box->buttons()) {
    EXPECT_FALSE(b->text().contains(QLatin1String("Yes")) || b->text().contains(QLatin1String("No")));
  }
  ASSERT_NE(box->defaultButton(), nullptr);
  EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("いいえ"));
  EXPECT_EQ(box->escapeButton(), box->defaultButton());
  box->grab().save(QCoreApplication::applicationDirPath() + "/yes_no_box.png");
  // Answered by a click, as a user would.
  for (const char* which : {"はい", "いいえ"}) {
    std::unique_ptr<QMessageBox> asked(make_yes_no_box(nullptr, QStringLiteral("題"), QStringLiteral("?")));
    QPushButton* target = nullptr;
    for (QAbstractButton* b : asked->buttons()) {
      if (b->text() == QString::fromUtf8(which)) target = qobject_cast<QPushButton*>(b);
    }
    ASSERT_NE(target, nullptr);
    QTimer::singleShot(0, target, [target] { target->click(); });
    asked->exec();
    EXPECT_EQ(asked->clickedButton(), target);
  }
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* b = w->findChild<QPushButton*>(QStringLiteral("yes_button")); b && w->isVisible()) {
        b->click();
      }
    }
  });
  EXPECT_TRUE(ask_yes_no(nullptr, QStringLiteral("題"), QStringLiteral("?")));
}

TEST(Dialogs, QtsOwnDialogsSpeakJapanese) {
  QTranslator* translator = install_qt_translations(*QCoreApplication::instance());
  ASSERT_NE(translator, nullptr) << "qtbase_ja missing: install qt6-translations-l10n";
  QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
  EXPECT_EQ(box.button(QDialogButtonBox::Open)->text(), QStringLiteral("開く"));
  QCoreApplication::removeTranslator(translator);
  delete translator;
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
  const QString six = "download_cmd meigara_sel2_cmd graph_cmd portforio_cmd vup1_cmd end_cmd ";
  const QString four = "yyyy_dl_cmb yyyy_dl_cmd yyyy_delet_cmb yyyy_del_cmd ";
  const QString download = six + four + "cmd_frm mnt_frm see_data_cmd yyyy_cmb";
  const QStringList all = download.split(' ');
  struct Case {
    const char* status;
    bool on;
    QString touched;  // the controls the status sets; every other one keeps its state
  };
  const std::vector<Case> cases = {
      {"idle", true, six + "mnt_frm"},
      {"株価ダウンローﾄﾞ開始", false, download},
      {"株価ダウンローﾄﾞ完了", true, download},
      {"株価削除開始", false, six + four},
      {"株価削除完了", true, six + four + "see_data_cmd"},
      {"どれでもない", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    // Start every control in the opposite state, so both a change and no change show.
    for (const QString& n : all) find<QWidget>(w.get(), n.toLatin1())->setEnabled(!c.on);
    w->set_main_status(QString::fromUtf8(c.status));
    const QStringList touched = c.touched.split(' ', Qt::SkipEmptyParts);
    for (const QString& n : all) {
      // The control's own state: a disabled frame also greys its content.
      const bool on = !find<QWidget>(w.get(), n.toLatin1())->testAttribute(Qt::WA_ForceDisabled);
      EXPECT_EQ(on, touched.contains(n) ? c.on : !c.on) << n.toStdString();
    }
  }
}

TEST(MainWindowDelete, NoChangesNothingYesMovesTheYearBetweenTheLists) {
  Session s;
  test::write_series_file(s.db, 2012, "1001", "基準", {{"20121228", 1, 1, 1, 1, 10}});
  test::write_series_file(s.db, 2013, "1001", "基準", {{"20130315", 1, 1, 1, 1, 10}});
  auto w = s.open();
  QStringList questions;
  bool answer = false;
  w->confirm = [&](const QString& q) {
    questions << q;
    return answer;
  };
  auto* delete_list = find<QComboBox>(w.get(), "yyyy_delet_cmb");
  auto* del = find<QPushButton>(w.get(), "yyyy_del_cmd");
  auto* label1 = find<QLabel>(w.get(), "Label1");
  auto* label3 = find<QLabel>(w.get(), "Label3");
  QTest::mouseClick(del, Qt::LeftButton);
  EXPECT_EQ(questions, QStringList{QStringLiteral("2013年のデータを削除しますか？")});
  EXPECT_TRUE(fs::exists(s.db + "2013/data_m/1001.csv"));
  EXPECT_EQ(items(delete_list), years(2013, 2012));
  EXPECT_EQ(label3->text(), "株価データベース:　～20130315");
  EXPECT_TRUE(del->isEnabled());

  answer = true;
  QTest::mouseClick(del, Qt::LeftButton);
  EXPECT_FALSE(fs::exists(s.db + "2013"));
  EXPECT_EQ(items(delete_list), years(2012, 2012));
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_cmb")), years(2012, 2012));
  EXPECT_EQ(items(find<QComboBox>(w.get(), "yyyy_dl_cmb")).first(), "2013年");
  EXPECT_EQ(label3->text(), "株価データベース:　～20121228");
  EXPECT_EQ(label1->text(), "2013年の株価情報を削除しました。");
  EXPECT_TRUE(find<QWidget>(w.get(), "download_cmd")->isEnabled());

  // The last year goes too: no data is left, and an empty list asks nothing.
  QTest::mouseClick(del, Qt::LeftButton);
  EXPECT_EQ(label3->text(), "株価データベース:　データ無");
  EXPECT_EQ(delete_list->count(), 0);
  QTest::mouseClick(del, Qt::LeftButton);
  EXPECT_EQ(label1->text(), "削除するデータはありません。");
  EXPECT_EQ(questions.size(), 3);
}

TEST(MainWindowDownload, ClosingDuringADownloadStopsAfterTheCurrentFile) {
  Session s;
  auto w = s.open();
  w->show();
  find<QRadioButton>(w.get(), "url_opt_2")->setChecked(true);
  std::vector<std::string> requested;
  MainWindow* window = w.get();
  w->http_get = test::client_from([&](const std::string& url) -> std::optional<std::string> {
    requested.push_back(url);
    // The user closes the window while the third request (month 1) is under way.
    if (requested.size() == 3) window->close();
    if (requested.size() == 1) return std::string("<h1>lumenpick-price-server</h1>");
    return std::string("201301,0,x,x,x,x,x,x\r\n");
  });
  QTest::mouseClick(find<QPushButton>(w.get(), "download_cmd"), Qt::LeftButton);
  ASSERT_EQ(requested.size(), 3u);
  EXPECT_EQ(requested[0], "http://localhost:8080/");
  EXPECT_EQ(requested[2], "http://localhost:8080/html/kabuka_db/2013/data_dg/201301.csv");
  EXPECT_TRUE(WindowHub::instance().quit_requested());
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(w->running());
  // What arrived stays staged; nothing was unpacked.
  EXPECT_TRUE(fs::exists(s.db + "2013/data_dg/201301.csv"));
  EXPECT_TRUE(fs::is_empty(s.db + "2013/data_d"));
}

// The connection check asks the chosen host, and a download that fetched nothing is an error,
// not a success. A download that brings files is walked through in the end-to-end test.
TEST(MainWindowDownload, NoConnectionOrNothingFetchedIsNotASuccess) {
  const std::string probe = "http://localhost:8080/";
  struct Case {
    std::map<std::string, std::string> server;  // address -> body; anything else fails
    QString label1;
    QColor color;
    bool year_blocked = false;  // a file stands where the year folder goes
  };
  const std::map<std::string, std::string> answers = {
      {probe, "<h1>lumenpick-price-server</h1>"},
      {probe + "html/kabuka_db/2013/data_dg/201301.csv", "<html>"}};
  const Case cases[] = {
      {{}, "警告：インターネットに接続されていません。ご確認ください。", QColor(0, 0, 255)},
      {answers, "エラー：ダウンロードできたファイルはありません。（取得 0 件・失敗 13 件）",
       QColor(255, 0, 0)},
      // The reason every file would fail is said in the window, once, before any request.
      {answers, "エラー：フォルダを作成できません：%1（同じ名前のファイルがあります）",
       QColor(255, 0, 0), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label1.toStdString());
    Session s;
    auto w = s.open();
    if (c.year_blocked) {
      test::write_bytes(s.db + "2013", "a file");
      const QString expected = c.label1.arg(QString::fromStdString(s.db + "2013/"));
      w->http_get = test::client_from([&](const std::string& url) -> std::optional<std::string> {
        const auto it = c.server.find(url);
        EXPECT_EQ(url, probe) << "only the connection check is asked";
        return it == c.server.end() ? std::nullopt : std::optional<std::string>(it->second);
      });
      find<QRadioButton>(w.get(), "url_opt_2")->setChecked(true);
      QTest::mouseClick(find<QPushButton>(w.get(), "download_cmd"), Qt::LeftButton);
      EXPECT_EQ(find<QLabel>(w.get(), "Label1")->text(), expected);
      EXPECT_EQ(text_color(find<QLabel>(w.get(), "Label1")), c.color);
      EXPECT_TRUE(find<QWidget>(w.get(), "download_cmd")->isEnabled());
      EXPECT_EQ(test::read_bytes(s.db + "2013"), "a file");
      continue;
    }
    find<QRadioButton>(w.get(), "url_opt_2")->setChecked(true);
    w->http_get = test::client_from([&](const std::string& url) -> std::optional<std::string> {
      const auto it = c.server.find(url);
      return it == c.server.end() ? std::nullopt : std::optional<std::string>(it->second);
    });
    QTest::mouseClick(find<QPushButton>(w.get(), "download_cmd"), Qt::LeftButton);
    auto* label1 = find<QLabel>(w.get(), "Label1");
    EXPECT_EQ(label1->text(), c.label1);
    EXPECT_EQ(text_color(label1), c.color);
    // A download that brought nothing leaves no empty year behind.
    EXPECT_FALSE(fs::exists(s.db + "2013"));
    EXPECT_EQ(find<QLabel>(w.get(), "Label3")->text(), "株価データベース:　データ無");
    // The staging folders are cleared away; the busy indicator stopped; commands back on.
    EXPECT_FALSE(fs::exists(s.db + "2013/data_mg"));
    EXPECT_FALSE(find<QTimer>(w.get(), "Timer3")->isActive());
    EXPECT_TRUE(find<QWidget>(w.get(), "download_cmd")->isEnabled());
  }
}

// Through the real Qt Network client against a server that trickles one byte a second:
// neither the cap of settei.txt nor closing the window has to wait for the server.
TEST(MainWindowDownload, ASlowServerNeitherHoldsTheDownloadNorTheWindow) {
  struct Case {
    const char* name;
    const char* settei;  // extra settei.txt line
    int close_after_ms;  // -1: the window is not closed
  };
  const Case cases[] = {
      {"the cap of settei.txt gives each file up", "ダウンロード上限秒,1\r\n", -1},
      {"closing the window ends the file in flight", "", 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    test::write_cp932(fs::path(s.docs) / "nordhaven/lumenpick/settei.txt",
                      std::string(c.settei) + "EOF\r\n");
    test::LoopbackServer server([](test::LoopbackServer::Connection& conn) {
      if (conn.target() == "/") {
        conn.send(test::LoopbackServer::response(200, "lumenpick-price-server"));
        return;
      }
      conn.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
      conn.trickle(std::string(1000, '1'), 1, 1000);
    });
    auto w = s.open();
    w->show();
    w->set_local_base(server.url("/html/kabuka_db/"));
    find<QRadioButton>(w.get(), "url_opt_2")->setChecked(true);
    if (c.close_after_ms >= 0) {
      QTimer::singleShot(c.close_after_ms, w.get(), [&w] { w->close(); });
    }
    const auto t0 = std::chrono::steady_clock::now();
    QTest::mouseClick(find<QPushButton>(w.get(), "download_cmd"), Qt::LeftButton);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_FALSE(w->running());
    if (c.close_after_ms >= 0) {
      EXPECT_LT(seconds, 5);
      EXPECT_FALSE(w->isVisible());
    } else {
      // The corrections and months 1-3 of an update in March, then nine blocks: 13 files
      // of one second each, all failed.
      EXPECT_LT(seconds, 30);
      EXPECT_EQ(find<QLabel>(w.get(), "Label1")->text(),
                "エラー：ダウンロードできたファイルはありません。（取得 0 件・失敗 13 件）");
    }
    EXPECT_FALSE(fs::exists(s.db + "2013"));
  }
}

}  // namespace
}  // namespace lp::gui
