// Real data the whole way, through real processes and real HTTP: the sample market served as
// J-Quants API V2 by lumenpick-price-server on an ephemeral loopback port, an empty database
// filled by lumenpick-cli jquants-sync, then screened, ranked, charted and valued in a
// portfolio. The server's request log shows a paced sync keeping to its plan.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "common/csv.h"
#include "common/numbers.h"
#include "pricedb/fins_store.h"
#include "pricedb/sectors.h"
#include "pricedb/formats.h"
#include "pricedb/fundamentals.h"
#include "pricedb/series.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKey = "e2e-key-7";

QString program(const char* name) {
  return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

struct Ran {
  int code = -1;
  std::string out, err;
};

Ran run(const char* name, const QStringList& args, const QProcessEnvironment& env) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(program(name), args);
  Ran r;
  if (!p.waitForFinished(600000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

std::string value_of(const std::string& out, const std::string& key) {
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

class JQuantsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("HOME", QString::fromStdString(dir_.str()));  // no key file of the tester's
    env_.insert("JQUANTS_API_KEY", kKey);
    const Ran gen = run("lumenpick-sample-market",
                        {"--database", q(dir_.file("src")), "--codes", "150", "--years", "2",
                         "--end", "20250613", "--seed", "5"},
                        env_);
    ASSERT_EQ(gen.code, 0) << gen.err;
    base_ = start_server(
        server_, {"--page-size", "60", "--fail-429", "4", "--log", q(dir_.file("requests.log"))});
  }
  // lumenpick-price-server on the source market with these options; its API address.
  QString start_server(QProcess& server, const QStringList& options) {
    server.setProcessEnvironment(env_);
    server.start(program("lumenpick-price-server"),
                 QStringList{"--api", "jquants", "--root", q(dir_.file("src")), "--api-key", kKey,
                             "--port", "0"} +
                     options);
    EXPECT_TRUE(server.waitForStarted(30000));
    std::string banner;
    while (banner.find('\n') == std::string::npos && server.waitForReadyRead(30000)) {
      banner += server.readAllStandardOutput().toStdString();
    }
    const auto m =
        QRegularExpression("127\\.0\\.0\\.1:(\\d+)/").match(QString::fromStdString(banner));
    EXPECT_TRUE(m.hasMatch()) << banner;
    return "http://127.0.0.1:" + m.captured(1) + "/v2";
  }
  void TearDown() override {
    server_.kill();
    server_.waitForFinished();
  }
  static QString q(const std::string& s) { return QString::fromStdString(s); }
  Ran cli(const QStringList& args, const std::string& docs = "docs") {
    QStringList all = args;
    all << "--documents" << q(dir_.file(docs)) << "--today"
        << "20250616";
    return run("lumenpick-cli", all, env_);
  }
  std::vector<std::string> log_lines() {
    std::ifstream in(dir_.file("requests.log"));
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

  test::TempDir dir_;
  QProcessEnvironment env_;
  QProcess server_;
  QString base_;
};

TEST_F(JQuantsEndToEnd, SyncFillsAnEmptyDatabaseThatScreensRanksChartsAndValues) {
  const Ran sync = cli({"jquants-sync", "--from", "20241001", "--to", "20250613", "--plan", "none",
                        "--base", base_});
  ASSERT_EQ(sync.code, 0) << sync.err;
  EXPECT_EQ(value_of(sync.out, "latest"), "20250613");
  const int days = std::stoi(value_of(sync.out, "days_written"));
  EXPECT_GT(days, 160);
  EXPECT_EQ(value_of(sync.out, "retries"), "1") << "request 4 was answered 429";
  EXPECT_EQ(value_of(sync.out, "codes_skipped"), "1");
  EXPECT_EQ(log_lines().size(),
            static_cast<std::size_t>(std::stoi(value_of(sync.out, "requests"))));
  EXPECT_EQ(sync.err.find(kKey), std::string::npos);
  EXPECT_EQ(sync.out.find(kKey), std::string::npos);

  const Ran latest = cli({"latest-date"});
  EXPECT_EQ(latest.out, "20250613\n");

  const Ran screen = cli({"screen", "--criteria", "1"});
  ASSERT_EQ(screen.code, 0) << screen.err;
  const auto counts = QRegularExpression("^1 (\\d+)/(\\d+)").match(q(screen.out));
  ASSERT_TRUE(counts.hasMatch()) << screen.out;
  EXPECT_GT(counts.captured(1).toInt(), 0);
  EXPECT_GT(counts.captured(2).toInt(), 140) << "every stock of the day is a candidate";

  const Ran rank = cli({"rank", "出来高ﾄｯﾌﾟ25"});
  ASSERT_EQ(rank.code, 0) << rank.err;
  EXPECT_NE(rank.out.find(",130A,"), std::string::npos) << "the busy new listing ranks\n"
                                                        << rank.out;

  const std::string png = dir_.file("130A.png");
  const Ran chart = cli({"chart", "130A", "--out", q(png)});
  ASSERT_EQ(chart.code, 0) << chart.err;
  EXPECT_GT(fs::file_size(png), 1000u);

  const Ran add = cli({"portfolio-add", "0", "130A", "20250613", "500", "100"});
  ASSERT_EQ(add.code, 0) << add.err;
  const Ran book = cli({"portfolio", "0"});
  ASSERT_EQ(book.code, 0) << book.err;
  EXPECT_NE(book.out.find("130A"), std::string::npos);
  EXPECT_NE(book.out.find("合計\t1\t50,000"), std::string::npos) << book.out;

  // A second sync asks for the calendar of the days since and changes nothing.
  const auto before = test::files_under(dir_.file("docs"));
  const Ran again = cli({"jquants-sync", "--plan", "none", "--base", base_});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(value_of(again.out, "days_written"), "0");
  EXPECT_EQ(test::files_under(dir_.file("docs")), before);

  // A refused key stops before anything is written, and the key never shows.
  QProcessEnvironment wrong = env_;
  wrong.insert("JQUANTS_API_KEY", "not-the-key");
  QStringList args = {
      "jquants-sync", "--from", "20240601", "--to",        "20240630",           "--plan",
      "none",         "--base", base_,      "--documents", q(dir_.file("docs")), "--today",
      "20250616"};
  const Ran refused = run("lumenpick-cli", args, wrong);
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("HTTP 403"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.err.find("not-the-key"), std::string::npos);
  EXPECT_EQ(test::files_under(dir_.file("docs")), before);

  for (const QStringList& bad :
       {QStringList{"--plan", "gold"}, QStringList{"--from", "20240230"},
        QStringList{"--from", "20250610", "--to", "20250601"}, QStringList{"--max-wait", "1h"},
        QStringList{"--base", "ftp://x"}}) {
    const Ran usage = cli(QStringList{"jquants-sync"} + bad);
    EXPECT_EQ(usage.code, 2) << bad.join(' ').toStdString() << "\n" << usage.err;
  }
}

// A server that answers as the live API: a Free key's window, the newest day before 16:30 and
// a rate-limit lockout, reached through LUMENPICK_JQUANTS_BASE instead of --base.
TEST_F(JQuantsEndToEnd, LiveServerHabitsEndInTheRightExitCodes) {
  QProcess live;
  env_.insert("LUMENPICK_JQUANTS_BASE",
              start_server(live, {"--plan", "free", "--now", "202508150900", "--lockout-at", "4",
                                  "--lockout-seconds", "2"}));
  // The key is Free, the user chose Light: the window from the 400 answer, a 2 s lockout
  // counted down on standard error, exit 0 with what the plan does not cover.
  const Ran sync = run("lumenpick-cli",
                       {"jquants-sync", "--from", "20250519", "--to", "20250613", "--plan", "light",
                        "--documents", q(dir_.file("live")), "--today", "20250815"},
                       env_);
  EXPECT_EQ(sync.code, 0) << sync.err;
  EXPECT_EQ(value_of(sync.out, "latest"), "20250523");
  EXPECT_EQ(value_of(sync.out, "not_covered"), "2025/05/24～2025/06/13");
  EXPECT_EQ(value_of(sync.out, "retries"), "1");
  EXPECT_NE(sync.err.find("再試行まで残り"), std::string::npos) << sync.err;
  EXPECT_NE(sync.err.find("プランの提供範囲外: 2025/05/24～2025/06/13"), std::string::npos);
  // A lockout longer than --max-wait stops at once with exit 1.
  live.kill();
  live.waitForFinished();
  QProcess locked;
  env_.insert("LUMENPICK_JQUANTS_BASE",
              start_server(locked, {"--lockout-at", "1", "--lockout-seconds", "600"}));
  const Ran stopped = cli({"jquants-sync", "--plan", "none", "--max-wait", "30"}, "locked");
  EXPECT_EQ(stopped.code, 1);
  EXPECT_NE(stopped.err.find("待機の上限 30秒 を超えます"), std::string::npos) << stopped.err;
  locked.kill();
  locked.waitForFinished();
}

TEST_F(JQuantsEndToEnd, PacedSyncKeepsToThePlanInTheServersLog) {
  const Ran sync = cli({"jquants-sync", "--from", "20250609", "--to", "20250612", "--plan", "light",
                        "--base", base_},
                       "paced");
  ASSERT_EQ(sync.code, 0) << sync.err;
  std::vector<double> times;
  for (const std::string& line : log_lines()) times.push_back(std::stod(line));
  ASSERT_GE(times.size(), 7u) << "calendar, master, a 429 and its retry, four days in pages";
  // Light allows 60 a minute: never two requests within a second.
  for (std::size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], 0.99) << "requests " << i << " and " << i + 1;
  }
}

// The summaries come with the sync; a valuation screen keeps exactly the stocks the definitions
// give on the source market's disclosures of the synced days, and `fins --as-of` sees a
// disclosure from its day on, not the day before.
TEST_F(JQuantsEndToEnd, ValuationScreenAndAsOfFollowTheSyncedSummaries) {
  const std::string from = "20250401", to = "20250613";
  const Ran sync =
      cli({"jquants-sync", "--from", q(from), "--to", q(to), "--plan", "none", "--base", base_});
  ASSERT_EQ(sync.code, 0) << sync.err;
  ASSERT_GT(std::stoi(value_of(sync.out, "disclosures")), 100);

  const std::string db = dir_.file("docs") + "/nordhaven/lumenpick/kabuka_db/";
  const SeriesSource src(db, "1001");
  std::set<std::string> want, want_page;
  std::string before_code, before_day, on_day;
  DayFile last_day;
  ASSERT_TRUE(read_day_file(day_file_path(db, to), last_day));
  std::set<std::string> listed;
  for (const auto& row : last_day.rows) listed.insert(row.code);
  for (const auto& p : list_files(fins::fins_folder(dir_.file("src") + "/"))) {
    const std::string code = p.stem().string();
    std::vector<fins::Disclosure> all, synced;
    ASSERT_TRUE(fins::read_fins_file(p.string(), all));
    for (const auto& d : all) {
      if (d.date >= std::stoi(from) && d.date <= std::stoi(to)) synced.push_back(d);
    }
    // The candidates are the stocks of the last day's file; a formula reads traded days.
    Series series;
    if (synced.empty() || !listed.count(code) || load_series(src, to, 30, code, series, true) != 0)
      continue;
    double close = 0;
    for (int i = 1; i <= series_count(series) && close == 0; ++i) {
      if (parse_number(series[static_cast<std::size_t>(i)].d6) > 0)
        close = parse_number(series[static_cast<std::size_t>(i)].d5);
    }
    const fins::Figures f =
        fins::figures_as_of(synced, std::stoi(to), fins::known_splits(src, code, std::stoi(to)));
    const auto per = fins::metric_value(f, fins::Metric::per, close);
    const auto yield = fins::metric_value(f, fins::Metric::yield, close);
    if (per && yield && *per < 15 && *yield > 3) want.insert(code);
    // The 「指標」 page's bounds are inclusive.
    if (per && yield && *per <= 15 && *yield >= 3) want_page.insert(code);
    // A disclosure well inside the range, for the as-of check.
    if (before_code.empty() && synced.back().date > 20250415 && synced.back().date % 100 > 1) {
      before_code = code;
      on_day = synced.back()[fins::DiscDate];
    }
  }
  ASSERT_FALSE(want.empty());
  const Ran screen =
      cli({"screen", "--markets", "0,1,2,3,4,5", "--set", "pr_chk(1)=0", "--formula",
           "PER < 15 AND YIELD > 3"});  // every stock: the template's price range unticked
  ASSERT_EQ(screen.code, 0) << screen.err;
  std::set<std::string> kept;
  std::istringstream lines(screen.out);
  std::string line;
  std::getline(lines, line);  // the count line
  std::getline(lines, line);  // the result file's header
  while (std::getline(lines, line)) kept.insert(line.substr(0, line.find(',')));
  EXPECT_EQ(kept, want) << screen.out.substr(0, 600);

  // The same screen by the 「指標」 page and one 33 industry (--sector): the industries came
  // with the sync's master, as the source market's sectors.csv names them.
  const auto industries = sectors::SectorTable::load(dir_.file("src") + "/");
  ASSERT_FALSE(industries->empty());
  const sectors::Sector* first = industries->of(*want_page.begin(), std::stoi(to));
  ASSERT_NE(first, nullptr);
  std::set<std::string> want_sector;
  for (const std::string& code : want_page) {
    const sectors::Sector* s = industries->of(code, std::stoi(to));
    if (s && s->s33 == first->s33) want_sector.insert(code);
  }
  const Ran page = cli({"screen", "--markets", "0,1,2,3,4,5", "--set", "pr_chk(1)=0", "--set",
                        "shihyou_max_txt(1)=15", "--set", "shihyou_min_txt(4)=3", "--sector",
                        q(first->s33_name)});
  ASSERT_EQ(page.code, 0) << page.err;
  std::set<std::string> by_page;
  std::istringstream page_lines(page.out);
  std::getline(page_lines, line);
  // Step 46 (指標) kept that many of the industry's stocks.
  EXPECT_EQ(line.rfind("46 " + std::to_string(want_sector.size()) + "/", 0), 0u) << line;
  std::getline(page_lines, line);
  while (std::getline(page_lines, line)) by_page.insert(line.substr(0, line.find(',')));
  EXPECT_EQ(by_page, want_sector) << page.out.substr(0, 600);
  // Its results show the figures and the industry.
  const Ran results = cli({"results", "--sort", "予想PER"});
  ASSERT_EQ(results.code, 0) << results.err;
  EXPECT_NE(results.out.find("予想PER\tPBR\t予想利回り\t時価総額(億円)\t業種\t色"), std::string::npos)
      << results.out.substr(0, 400);
  EXPECT_NE(results.out.find("\t" + first->s33_name + "\t"), std::string::npos);

  // The day before the disclosure and the day itself.
  ASSERT_FALSE(before_code.empty());
  const Ran latest = cli({"fins", q(before_code), "--as-of", q(on_day)});
  ASSERT_EQ(latest.code, 0) << latest.err;
  const std::string slashed =
      on_day.substr(0, 4) + "/" + on_day.substr(4, 2) + "/" + on_day.substr(6, 2);
  EXPECT_NE(latest.out.find("\n" + slashed + ","), std::string::npos) << latest.out;
  before_day = std::to_string(std::stoi(on_day) - 1);
  const Ran earlier = cli({"fins", q(before_code), "--as-of", q(before_day)});
  ASSERT_EQ(earlier.code, 0) << earlier.err;
  EXPECT_EQ(earlier.out.find("\n" + slashed + ","), std::string::npos) << earlier.out;
  EXPECT_EQ(std::stoi(value_of(latest.out, "disclosures")),
            std::stoi(value_of(earlier.out, "disclosures")) + 1);
  // A code the database does not know is an error, not an empty table.
  const Ran unknown = cli({"fins", "9999"});
  EXPECT_EQ(unknown.code, 1);
  EXPECT_NE(unknown.err.find("9999"), std::string::npos) << unknown.err;
}

// Two writers at once: the second waits for the first and the database ends as if they had
// run one after the other; a writer that may not wait that long gives up with exit 75.
TEST_F(JQuantsEndToEnd, TwoSyncsAtOnceEndAsOneAfterTheOther) {
  const auto sync_args = [&](const char* from, const char* to, const std::string& docs) {
    return QStringList{"jquants-sync", "--from", from,      "--to", to, "--plan", "none",
                       "--base",       base_,    "--no-fins", "--documents", q(dir_.file(docs)),
                       "--today",      "20250616"};
  };
  const auto db_files = [&](const std::string& docs) {
    return test::files_under(dir_.file(docs) + "/nordhaven/lumenpick/kabuka_db");
  };
  ASSERT_EQ(run("lumenpick-cli", sync_args("20250501", "20250530", "seq"), env_).code, 0);
  ASSERT_EQ(run("lumenpick-cli", sync_args("20250502", "20250613", "seq"), env_).code, 0);

  // The first is slowed at every rename, so the second comes while it writes.
  QProcessEnvironment slow = env_;
  slow.insert("LUMENPICK_TEST_RENAME_DELAY_MS", "40");
  QProcess first;
  first.setProcessEnvironment(slow);
  first.setReadChannel(QProcess::StandardError);
  first.start(program("lumenpick-cli"), sync_args("20250501", "20250530", "par"));
  std::string first_err;
  while (first_err.find("0/") == std::string::npos &&
         first.waitForReadyRead(30000)) {
    first_err += first.readAllStandardError().toStdString();
  }
  QProcessEnvironment impatient = env_;
  impatient.insert("LUMENPICK_LOCK_WAIT_SECONDS", "1");
  const Ran gave_up = run("lumenpick-cli", sync_args("20250502", "20250613", "par"), impatient);
  EXPECT_EQ(gave_up.code, 75) << gave_up.err;
  EXPECT_NE(gave_up.err.find("他の更新が終わるのを待っています"), std::string::npos) << gave_up.err;
  const Ran second = run("lumenpick-cli", sync_args("20250502", "20250613", "par"), env_);
  ASSERT_TRUE(first.waitForFinished(600000));
  EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
  EXPECT_EQ(second.code, 0) << second.err;
  EXPECT_NE(second.err.find("他の更新が終わるのを待っています"), std::string::npos) << second.err;
  EXPECT_TRUE(db_files("par") == db_files("seq")) << "the database as if run one after the other";
}

// The plan chosen in the window serves a run with no options (the timer's): a Light key's
// whole range, not the Free plan's window twelve weeks back.
TEST_F(JQuantsEndToEnd, ARunWithNoOptionsTakesThePlanTheWindowChose) {
  QProcess light;
  env_.insert("LUMENPICK_JQUANTS_BASE",
              start_server(light, {"--plan", "light", "--now", "202508150900"}));
  const QStringList at = {"--documents", q(dir_.file("chosen")), "--today", "20250815"};
  const Ran none = run("lumenpick-cli", QStringList{"settings"} + at, env_);
  EXPECT_EQ(value_of(none.out, "plan"), "free");
  ASSERT_EQ(
      run("lumenpick-cli", QStringList{"settings", "--plan", "light", "--fins", "off"} + at, env_)
          .code,
      0);
  const Ran shown = run("lumenpick-cli", QStringList{"settings"} + at, env_);
  EXPECT_EQ(value_of(shown.out, "plan"), "light");
  EXPECT_NE(value_of(shown.out, "plan_from").find("connection.txt"), std::string::npos);
  EXPECT_EQ(value_of(shown.out, "key"), "set");
  const Ran sync = run("lumenpick-cli",
                       QStringList{"jquants-sync", "--from", "20250519", "--to", "20250613"} + at,
                       env_);
  EXPECT_EQ(sync.code, 0) << sync.err;
  EXPECT_EQ(value_of(sync.out, "not_covered"), "");
  EXPECT_EQ(value_of(sync.out, "latest"), "20250613");
  EXPECT_EQ(value_of(sync.out, "fins"), "off") << "results turned off in the settings";
  light.kill();
  light.waitForFinished();
}

}  // namespace
}  // namespace lp
