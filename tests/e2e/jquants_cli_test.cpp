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
#include <sstream>

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
    server_.setProcessEnvironment(env_);
    server_.start(
        program("lumenpick-price-server"),
        {"--api", "jquants", "--root", q(dir_.file("src")), "--api-key", kKey, "--port", "0",
         "--page-size", "60", "--fail-429", "4", "--log", q(dir_.file("requests.log"))});
    ASSERT_TRUE(server_.waitForStarted(30000));
    std::string banner;
    while (banner.find('\n') == std::string::npos && server_.waitForReadyRead(30000)) {
      banner += server_.readAllStandardOutput().toStdString();
    }
    const auto m =
        QRegularExpression("127\\.0\\.0\\.1:(\\d+)/").match(QString::fromStdString(banner));
    ASSERT_TRUE(m.hasMatch()) << banner;
    base_ = "http://127.0.0.1:" + m.captured(1) + "/v2";
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
  EXPECT_NE(refused.err.find("HTTP 401"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.err.find("not-the-key"), std::string::npos);
  EXPECT_EQ(test::files_under(dir_.file("docs")), before);

  const Ran usage = cli({"jquants-sync", "--plan", "gold"});
  EXPECT_EQ(usage.code, 2);
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

}  // namespace
}  // namespace lp
