// The main window's J-Quants host: a sync run from 「データ更新」 with a live progress bar, a
// cancel that is honoured while a paced sync waits, the key dialog and 「CSV取込」.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <memory>

#include "price-server/jquants_view.h"
#include "common/shared_settings.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_key.h"
#include "pricedb/jquants_sync.h"
#include "sample-market/sample_market.h"
#include "shell/jquants_gui.h"
#include "shell/main_window.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"

namespace lp::gui {
namespace {

namespace fs = std::filesystem;

template <class T>
T* find(QWidget* w, const char* name) {
  T* c = w->findChild<T*>(QLatin1String(name));
  EXPECT_NE(c, nullptr) << name;
  return c;
}

struct Session {
  test::TempDir dir;
  std::string docs = dir.str() + "/docs";
  std::string db = docs + "/nordhaven/lumenpick/kabuka_db/";
  std::string source = dir.str() + "/src/";
  std::unique_ptr<tools::JQuantsView> view = std::make_unique<tools::JQuantsView>();
  QByteArray old_home = qgetenv("HOME");
  Session() {
    qputenv("HOME", QByteArray::fromStdString(dir.str()));
    fs::create_directories(docs);
    Platform p;
    p.documents_folder = docs;
    p.desktop_folder = dir.str() + "/desktop";
    p.install_folder = dir.str() + "/install";
    p.today = [] { return std::string("20250616"); };
    p.yield = [] { QCoreApplication::processEvents(); };
    WindowHub::instance().set_platform(p);
    sample::Options o;
    o.codes = 30;
    o.years = 1;
    o.end_date = "20250613";
    o.db_folder = source;
    std::string error;
    EXPECT_TRUE(sample::generate(o, error)) << error;
    tools::JQuantsViewOptions vo;
    vo.db_folder = source;
    vo.api_key = "window-key";
    EXPECT_TRUE(view->load(vo, error)) << error;
  }
  ~Session() { qputenv("HOME", old_home); }
  HttpClient client() {
    tools::JQuantsView* v = view.get();
    return [v](const HttpRequest& req) {
      std::string key;
      for (const auto& [n, val] : req.headers) {
        if (n == "x-api-key") key = val;
      }
      const std::string rest = req.url.substr(std::string("http://jq.test/v2").size());
      const auto at = rest.find('?');
      const auto r =
          v->answer(rest.substr(0, at), at == std::string::npos ? "" : rest.substr(at + 1), key);
      HttpResponse resp;
      resp.status = r.status;
      resp.body = r.body;
      return resp;
    };
  }
  std::unique_ptr<MainWindow> open() {
    auto w = std::make_unique<MainWindow>();
    JQuantsPanel* panel = w->jquants();
    panel->http = client();
    panel->base = "http://jq.test/v2";
    panel->stored_key = [] { return std::string("window-key"); };
    w->show();
    return w;
  }
};

TEST(JQuantsWindow, UpdateRunsTheSyncWithProgressAndRefreshesTheStatus) {
  Session s;
  {
    // The database up to a week before: 「データ更新」 fetches the rest.
    jquants::SyncOptions o;
    o.base = "http://jq.test/v2";
    o.api_key = "window-key";
    o.db_folder = s.db;
    o.today = "20250616";
    o.from = "20250520";
    o.to = "20250606";
    o.plan = jquants::Plan::unpaced;
    jquants::SyncServices svc;
    svc.http = s.client();
    ASSERT_TRUE(jquants::run_sync(o, svc).ok());
  }
  auto w = s.open();
  EXPECT_EQ(find<QLabel>(w.get(), "Label3")->text(), "株価データベース:　～20250606");
  // Idle, the bar shows no count; a long progress line wraps instead of widening the window.
  auto* idle_bar = find<QProgressBar>(w.get(), "jquants_progress");
  EXPECT_FALSE(idle_bar->isTextVisible() && idle_bar->text() == QStringLiteral("0/1日"));
  auto* line = find<QLabel>(w.get(), "jquants_progress_lb");
  const int width = w->sizeHint().width();
  line->setText(QString(40, QChar(u'長')) + QStringLiteral(" 20250613 を取得しています"));
  EXPECT_LE(w->sizeHint().width(), width);
  find<QRadioButton>(w.get(), "url_opt_3")->setChecked(true);
  find<QComboBox>(w.get(), "jquants_plan_cmb")->setCurrentText(QStringLiteral("premium"));
  EXPECT_EQ(read_shared_settings(s.db + "../").plan, "premium") << "where the timer reads it";
  const long before = s.view->requests();
  QTest::mouseClick(find<QPushButton>(w.get(), "download_cmd"), Qt::LeftButton);
  EXPECT_TRUE(w->running());
  EXPECT_FALSE(find<QPushButton>(w.get(), "csv_import_cmd")->isEnabled());
  EXPECT_FALSE(find<QPushButton>(w.get(), "download_cmd")->isEnabled());
  EXPECT_TRUE(find<QPushButton>(w.get(), "jquants_cancel_cmd")->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(!w->running(), 60000);
  auto* bar = find<QProgressBar>(w.get(), "jquants_progress");
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(s.view->requests() - before, 17)
      << "calendar, TOPIX, master, five days; then the results' calendar and each disclosure "
         "date from two days before the newest fetched (0606) to 0613: eight";
  EXPECT_NE(
      find<QLabel>(w.get(), "Label1")->text().indexOf(QStringLiteral("5 取引日を登録しました")), -1)
      << find<QLabel>(w.get(), "Label1")->text().toStdString();
  EXPECT_EQ(find<QLabel>(w.get(), "Label3")->text(), "株価データベース:　～20250613");
  EXPECT_TRUE(find<QPushButton>(w.get(), "csv_import_cmd")->isEnabled());
  EXPECT_TRUE(find<QPushButton>(w.get(), "download_cmd")->isEnabled());
  EXPECT_FALSE(find<QPushButton>(w.get(), "jquants_cancel_cmd")->isEnabled());
  EXPECT_TRUE(bar->isTextVisible());
  EXPECT_TRUE(line->text().isEmpty()) << "the outcome is in Label1; the line is cleared";
  w->grab().save(QString::fromStdString(s.dir.file("jquants_main_window.png")));
}

TEST(JQuantsWindow, CancelStopsAPacedSyncAndTheWindowStaysResponsive) {
  Session s;
  auto w = s.open();
  find<QRadioButton>(w.get(), "url_opt_3")->setChecked(true);
  find<QComboBox>(w.get(), "jquants_plan_cmb")->setCurrentText(QStringLiteral("free"));
  QTest::mouseClick(find<QPushButton>(w.get(), "download_cmd"), Qt::LeftButton);
  // Free allows five requests a minute: after the calendar the sync waits about 13 s.
  QTRY_VERIFY_WITH_TIMEOUT(s.view->requests() >= 1, 10000);
  QTest::qWait(300);
  EXPECT_TRUE(w->running());
  ASSERT_TRUE(find<QPushButton>(w.get(), "jquants_cancel_cmd")->isEnabled());
  EXPECT_FALSE(find<QPushButton>(w.get(), "download_cmd")->isEnabled());
  QTest::mouseClick(find<QPushButton>(w.get(), "jquants_cancel_cmd"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!w->running(), 3000);
  EXPECT_EQ(s.view->requests(), 1);
  EXPECT_NE(find<QLabel>(w.get(), "Label1")->text().indexOf(QStringLiteral("中止")), -1);
  EXPECT_FALSE(fs::exists(s.db + "2025"));
}

TEST(JQuantsWindow, KeyDialogStoresThePrivateFileAndNoKeyIsARedMessage) {
  Session s;
  auto w = s.open();
  JQuantsPanel* panel = w->jquants();
  panel->stored_key = [] { return std::string(); };
  find<QRadioButton>(w.get(), "url_opt_3")->setChecked(true);
  QTest::mouseClick(find<QPushButton>(w.get(), "download_cmd"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!w->running(), 3000);
  auto* label1 = find<QLabel>(w.get(), "Label1");
  EXPECT_NE(label1->text().indexOf(QStringLiteral("APIキー設定")), -1);
  EXPECT_EQ(s.view->requests(), 0);

  // Blanks only: the key is empty, which is not a failed save.
  panel->ask_key = [] { return QStringLiteral(" \t "); };
  QTest::mouseClick(find<QPushButton>(w.get(), "jquants_key_cmd"), Qt::LeftButton);
  EXPECT_NE(label1->text().indexOf(QStringLiteral("APIキーが空です")), -1)
      << label1->text().toStdString();
  EXPECT_EQ(panel->find_key(), "");

  panel->ask_key = [] { return QStringLiteral("  typed-key-99 \n"); };
  QTest::mouseClick(find<QPushButton>(w.get(), "jquants_key_cmd"), Qt::LeftButton);
  EXPECT_EQ(label1->text().indexOf(QStringLiteral("typed-key-99")), -1) << "the key is never shown";
  EXPECT_NE(label1->text().indexOf(QStringLiteral("APIキーを保存しました")), -1)
      << label1->text().toStdString();
  // Without a keyring on the test machine it lands in the private file.
  const std::string path = jquants::key_file_path(s.dir.str());
  if (fs::exists(path)) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  EXPECT_EQ(panel->find_key(), "typed-key-99");
}

TEST(JQuantsWindow, CsvImportFromTheFileDialog) {
  Session s;
  auto w = s.open();
  const std::string file = s.dir.str() + "/7203.T.csv";
  test::write_bytes(file,
                    "Date,Open,High,Low,Close,Volume\n2025-06-12,100,110,95,105,1200\n"
                    "2025-06-13,105,120,101,118,3400\nbad,1,1,1,1,1\n");
  w->jquants()->choose_csv_files = [file] { return QStringList{QString::fromStdString(file)}; };
  QTest::mouseClick(find<QPushButton>(w.get(), "csv_import_cmd"), Qt::LeftButton);
  auto* label1 = find<QLabel>(w.get(), "Label1");
  EXPECT_NE(label1->text().indexOf(QStringLiteral("CSV取込: 1 ファイル, 2 行, 1 銘柄")), -1)
      << label1->text().toStdString();
  EXPECT_NE(label1->text().indexOf(QStringLiteral("7203.T.csv:4")), -1);
  EXPECT_EQ(find<QLabel>(w.get(), "Label3")->text(), "株価データベース:　～20250613");
}

}  // namespace
}  // namespace lp::gui
