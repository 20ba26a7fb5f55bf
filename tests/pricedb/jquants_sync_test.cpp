// The J-Quants sync against the J-Quants view of a generated sample market, called in-process
// as the HTTP service: what lands in the database, and what a misbehaving server, a refused
// key or an interruption leave behind.
#include "pricedb/jquants_sync.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

#include "common/encoding.h"
#include "common/numbers.h"
#include "price-server/jquants_view.h"
#include "pricedb/fins_store.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_json.h"
#include "pricedb/price_writer.h"
#include "pricedb/series.h"
#include "pricedb/stock_code.h"
#include "sample-market/sample_market.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;
using jquants::SyncStatus;

constexpr const char* kBase = "http://jq.test/v2";
constexpr const char* kKey = "test-key-1234";

// One source market for the whole suite: 40 codes over two years; a second one around the
// market restructuring of 2022-04-04.
struct Source {
  test::TempDir dir;
  std::string db;
  sample::Summary summary;
  std::vector<int> days;
  std::string split_code, split_date;
  Source(const char* end_date, int codes, int years) {
    db = dir.file("src") + "/";
    sample::Options o;
    o.codes = codes;
    o.years = years;
    o.end_date = end_date;
    o.seed = 3;
    o.db_folder = db;
    std::string error;
    if (!sample::generate(o, error, summary)) throw std::runtime_error(error);
    days = sample::trading_days(summary.first_year, std::stoi(summary.end_date));
    split_code = summary.split.front();
    for (int y : years_present(db)) {
      CorrectionFile c;
      if (read_correction_file(correction_file_path(db, y, split_code), c) && !c.rows.empty()) {
        split_date = c.rows.front().date;
      }
    }
  }
};

const Source& source() {
  static Source s("20250613", 40, 2);
  return s;
}

const Source& reform_source() {
  static Source s("20220415", 20, 1);
  return s;
}

// The trading day `offset` days away from `date` in the source calendar.
std::string day_near(const std::string& date, int offset) {
  const auto& days = source().days;
  auto it = std::lower_bound(days.begin(), days.end(), std::stoi(date));
  const long i =
      std::clamp<long>(it - days.begin() + offset, 0, static_cast<long>(days.size()) - 1);
  return std::to_string(days[static_cast<std::size_t>(i)]);
}

// The view answering as a server would, with a hook to damage answers on their way.
struct Server {
  tools::JQuantsView view;
  std::function<void(long n, HttpResponse&)> damage;
  int connect_timeout_s = 0;  // of the last request
  explicit Server(tools::JQuantsViewOptions o = {}, const Source& src = source()) {
    o.db_folder = src.db;
    if (o.api_key.empty()) o.api_key = kKey;
    std::string error;
    EXPECT_TRUE(view.load(o, error)) << error;
  }
  HttpClient client() {
    return [this](const HttpRequest& req) {
      connect_timeout_s = req.connect_timeout_s;
      std::string key;
      for (const auto& [n, v] : req.headers) {
        if (n == "x-api-key") key = v;
      }
      const std::string rest = req.url.substr(std::string(kBase).size());
      const auto q = rest.find('?');
      const tools::JQuantsReply r =
          view.answer(rest.substr(0, q), q == std::string::npos ? "" : rest.substr(q + 1), key);
      HttpResponse resp;
      resp.status = r.status;
      resp.body = r.body;
      for (const auto& [n, v] : r.headers) {
        std::string lower = n;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        resp.headers.emplace_back(lower, v);
      }
      if (damage) damage(view.requests(), resp);
      return resp;
    };
  }
  long requests_to(std::string_view path, int status = 0) const {
    return std::count_if(view.log().begin(), view.log().end(), [&](const auto& e) {
      return e.target.rfind(path, 0) == 0 && (!status || e.status == status);
    });
  }
};

struct SyncRun {
  jquants::SyncOptions opt;
  jquants::SyncServices svc;
  double clock = 0;
  std::vector<double> request_times;
  std::vector<double> waits;  // the countdown of rate-limit waits, as reported
  double slept = 0;
  SyncRun(const std::string& db, const std::string& from, const std::string& to) {
    opt.base = kBase;
    opt.api_key = kKey;
    opt.db_folder = db;
    opt.today = "20250620";
    opt.from = from;
    opt.to = to;
    opt.plan = jquants::Plan::unpaced;
    opt.fins = false;  // the price tests count their requests without the summaries
    svc.now = [this] { return clock; };
    svc.sleep = [this](double s) {
      clock += s;
      slept += s;
    };
  }
  jquants::SyncResult go(Server& server) {
    HttpClient inner = server.client();
    svc.http = [this, inner](const HttpRequest& r) {
      request_times.push_back(clock);
      clock += 0.01;
      return inner(r);
    };
    return jquants::run_sync(opt, svc);
  }
};

tools::JQuantsViewOptions view_options(int page_size = 1000, std::set<long> fail_429 = {},
                                       std::set<long> fail_500 = {}, std::string key = kKey) {
  tools::JQuantsViewOptions o;
  o.page_size = page_size;
  o.fail_429 = std::move(fail_429);
  o.fail_500 = std::move(fail_500);
  o.api_key = std::move(key);
  return o;
}

// The split and the alphanumeric listing both sit mid-span: a range around them.
std::string range_from() {
  return day_near(source().split_date, -6);
}
std::string range_to() {
  return day_near(source().split_date, 6);
}

TEST(JQuantsCodes, MapsFiveCharacterCodesAndOrdersAsText) {
  const struct {
    const char* api;
    const char* db;
  } cases[] = {{"72030", "7203"}, {"130A0", "130A"}, {"285A0", "285A"}, {"13015", ""},
               {"25935", ""},     {"01230", ""},     {"7203", ""},      {"130a0", ""},
               {"1301 0", ""},    {"../00", ""}};
  for (const auto& c : cases) EXPECT_EQ(jquants::map_code(c.api), c.db) << c.api;
  std::vector<std::string> codes = {"1311", "130A", "1301", "9999", "285A", "13A0", "1399",
                                    "1400", "1309", "130B", "2859", "130Z", "1310"};
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<std::string>{"1301", "1309", "130A", "130B", "130Z", "1310", "1311",
                                             "1399", "13A0", "1400", "2859", "285A", "9999"}));
  // Sorts on numeric keys give the same order; four-digit codes keep their value.
  for (std::size_t i = 1; i < codes.size(); ++i) {
    EXPECT_LT(code_order_key(codes[i - 1]), code_order_key(codes[i])) << codes[i];
  }
  EXPECT_EQ(code_order_key("1301"), 1301);
  EXPECT_EQ(code_order_key("130a"), -1);
}

TEST(JQuantsCorrection, FactorBecomesWholeNumberRatio) {
  const struct {
    double factor;
    long long num, den;
  } cases[] = {{0.5, 1, 2},     {3, 3, 1},        {0.9523, 9523, 10000}, {0.25, 1, 4},
               {1.5, 3, 2},     {0.1, 1, 10},     {1.0 / 3, 1, 3},       {10, 10, 1},
               {0.29, 29, 100}, {0.001, 1, 1000}, {1000, 1000, 1},       {1e300, 1, 1},
               {1e-20, 1, 1}};
  for (const auto& c : cases) {
    const CorrectionRatio r = correction_ratio(c.factor);
    EXPECT_EQ(r.numerator, c.num) << c.factor;
    EXPECT_EQ(r.denominator, c.den) << c.factor;
  }
}

TEST(JQuantsJson, PagesThatCannotBeTrustedAreRefusedWhole) {
  const std::string good =
      R"({"Date":"2025-06-13","Code":"72030","O":1,"H":2,"L":1,"C":2,"Vo":100,"AdjFactor":1})";
  const struct {
    const char* name;
    std::string body;
    const char* says;
  } cases[] = {
      {"garbage", "<html>502 Bad Gateway</html>", "not valid JSON"},
      {"truncated", R"({"data":[)" + good + R"(,{"Date":"2025-06-13","Co)", "not valid JSON"},
      {"no data", R"({"message":"hello"})", "no \"data\""},
      {"wrong date", R"({"data":[{"Date":"2025-06-12","Code":"72030","C":1}]})", "2025-06-12"},
      {"code as path", R"({"data":[{"Date":"2025-06-13","Code":"../x0","C":1}]})", "Code"},
      {"price as word", R"({"data":[{"Date":"2025-06-13","Code":"72030","C":"abc"}]})",
       "not a number"},
      {"negative", R"({"data":[{"Date":"2025-06-13","Code":"72030","C":-5}]})", "negative"},
      {"huge factor", R"({"data":[{"Date":"2025-06-13","Code":"72030","C":5,"AdjFactor":1e300}]})",
       "outside 1/1000..1000"},
      {"tiny factor", R"({"data":[{"Date":"2025-06-13","Code":"72030","C":5,"AdjFactor":1e-20}]})",
       "outside"},
      {"factor over 1000", R"({"data":[{"Date":"2025-06-13","Code":"72030","AdjFactor":1000.5}]})",
       "outside"},
      {"factor under 1/1000",
       R"({"data":[{"Date":"2025-06-13","Code":"72030","AdjFactor":"0.000999"}]})", "outside"},
      {"zero factor", R"({"data":[{"Date":"2025-06-13","Code":"72030","AdjFactor":0}]})",
       "outside"},
  };
  for (const auto& c : cases) {
    std::vector<jquants::Bar> out(1);
    std::string next, error;
    EXPECT_FALSE(jquants::parse_bars_page(c.body, "20250613", out, next, error)) << c.name;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(out.size(), 1u) << c.name;
  }
  std::vector<jquants::Bar> out;
  std::string next, error;
  const std::string page =
      R"({"data":[)" + good +
      R"(,{"Date":"2025-06-13","Code":"13010","O":null,"H":null,"L":null,"C":null,"Vo":null,"AdjFactor":1}],"pagination_key":"abc"})";
  ASSERT_TRUE(jquants::parse_bars_page(page, "20250613", out, next, error)) << error;
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0].traded);
  EXPECT_FALSE(out[1].traded);
  EXPECT_EQ(next, "abc");
  // The range's ends are real factors (a 1000-for-1 split, a 1-for-1000 consolidation).
  out.clear();
  ASSERT_TRUE(
      jquants::parse_bars_page(R"({"data":[{"Date":"2025-06-13","Code":"72030","AdjFactor":0.001},)"
                               R"({"Date":"2025-06-13","Code":"72040","AdjFactor":1000}]})",
                               "20250613", out, next, error))
      << error;
  EXPECT_EQ(out[0].adj_factor, 0.001);
  EXPECT_EQ(out[1].adj_factor, 1000);
}

TEST(JQuantsPlans, WindowsAndSettings) {
  const struct {
    jquants::Plan plan;
    const char* today;
    const char* from;
    const char* to;
  } windows[] = {
      {jquants::Plan::free, "20250616", "20230324", "20250324"},
      {jquants::Plan::light, "20250616", "20200616", "20250616"},
      {jquants::Plan::standard, "20250616", "20150616", "20250616"},
      {jquants::Plan::premium, "20240229", "20040229", "20240229"},
      {jquants::Plan::light, "20240229", "20190228", "20240229"},
  };
  for (const auto& w : windows) {
    std::string from, to;
    ASSERT_TRUE(jquants::plan_window(w.plan, w.today, from, to)) << w.today;
    EXPECT_EQ(from, w.from) << w.today;
    EXPECT_EQ(to, w.to) << w.today;
  }
  std::string from, to;
  EXPECT_FALSE(jquants::plan_window(jquants::Plan::unpaced, "20250616", from, to));

  const struct {
    const char* settei;  // lines of settei.txt
    const char* env;     // LUMENPICK_JQUANTS_BASE
    const char* base;
    double wait;
    const char* error;
  } settings[] = {
      {"", nullptr, jquants::kDefaultBase, 360, ""},
      {"J-Quants_URL,http://127.0.0.1:8080/v2/\r\nJ-Quants待機上限秒,30\r\n", nullptr,
       "http://127.0.0.1:8080/v2", 30, ""},
      {"J-Quants_URL,http://a.test/v2\r\n", "https://b.test/v2", "https://b.test/v2", 360, ""},
      {"J-Quants_URL,ftp://a.test\r\nJ-Quants待機上限秒,3601\r\n", nullptr, jquants::kDefaultBase,
       360, "待機上限秒"},
      {"", "api.jquants.com/v2", jquants::kDefaultBase, 360, "LUMENPICK_JQUANTS_BASE"},
  };
  for (const auto& c : settings) {
    test::TempDir dir;
    test::write_bytes(dir.file("settei.txt"), utf8_to_cp932(std::string(c.settei) + "EOF\r\n"));
    const auto got =
        jquants::read_connection_settings(dir.str() + "/", [&](const char* n) -> const char* {
          return std::string(n) == jquants::kBaseEnvironmentVariable ? c.env : nullptr;
        });
    EXPECT_EQ(got.base, c.base) << c.settei;
    EXPECT_EQ(got.max_wait_s, c.wait) << c.settei;
    EXPECT_NE(got.error.find(c.error), std::string::npos) << c.settei << ": " << got.error;
    if (!*c.error) {
      EXPECT_EQ(got.error, "") << c.settei;
    }
  }
}

TEST(JQuantsJson, EveryCutOfAPageAndGarbageIsRefusedOrReadWhole) {
  const std::string page =
      R"({"data":[{"Date":"2025-06-13","Code":"72030","O":1,"H":2,"L":1,"C":2,"Vo":100},)"
      R"({"Date":"2025-06-13","Code":"130A0","O":null,"H":null,"L":null,"C":null}],)"
      R"("pagination_key":"k2"})";
  for (std::size_t n = 0; n < page.size(); ++n) {
    std::vector<jquants::Bar> bars;
    std::vector<jquants::Issue> issues;
    std::vector<jquants::CalendarDay> days;
    std::vector<jquants::IndexDay> index;
    std::string next, error;
    const std::string cut = page.substr(0, n);
    EXPECT_FALSE(jquants::parse_bars_page(cut, "20250613", bars, next, error)) << n;
    EXPECT_TRUE(bars.empty());
    EXPECT_FALSE(error.empty());
    jquants::parse_master_page(cut, issues, next, error);
    jquants::parse_calendar_page(cut, days, next, error);
    jquants::parse_index_page(cut, index, next, error);
  }
  for (unsigned seed = 0; seed < 300; ++seed) {
    const std::string junk = test::garbage(1 + seed * 7 % 400, seed);
    std::vector<jquants::Bar> bars;
    std::string next, error;
    EXPECT_FALSE(jquants::parse_bars_page(junk, "20250613", bars, next, error)) << seed;
    EXPECT_TRUE(bars.empty());
  }
}

TEST(JQuantsSync, FillsAnEmptyDatabaseWithEveryTradedBarAcrossPages) {
  Server server(view_options(7));
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  SyncRun run(db, range_from(), range_to());
  const auto r = run.go(server);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.days_written, 13);
  EXPECT_GT(r.requests, 2L * 13) << "a day of 40 issues in pages of 7 takes several requests";
  EXPECT_GE(r.codes_skipped, 1) << "the preferred share 13015";
  EXPECT_EQ(r.names_replaced, 1) << "the name holding a character CP932 lacks";
  std::string latest;
  ASSERT_TRUE(read_latest_date(db, "1001", 2025, 1983, latest));
  EXPECT_EQ(latest, range_to());

  bool saw_alnum = false, saw_untraded = false;
  for (const auto& day : {range_from(), source().split_date, range_to()}) {
    DayFile want, got;
    ASSERT_TRUE(read_day_file(day_file_path(source().db, day), want));
    ASSERT_TRUE(read_day_file(day_file_path(db, day), got));
    std::map<std::string, PriceRecord> rows;
    for (const auto& row : got.rows) rows[row.code] = row;
    EXPECT_EQ(static_cast<std::size_t>(got.declared), got.rows.size());
    EXPECT_EQ(rows.count("1001"), 1u) << "the index under the reference code";
    for (const auto& w : want.rows) {
      if (w.code == "1001") continue;
      ASSERT_EQ(rows.count(w.code), 1u) << day << " " << w.code;
      const PriceRecord& g = rows[w.code];
      EXPECT_EQ(parse_number(g.close), parse_number(w.close)) << day << " " << w.code;
      EXPECT_EQ(parse_number(g.open), parse_number(w.open)) << day << " " << w.code;
      EXPECT_EQ(parse_number(g.volume), parse_number(w.volume)) << day << " " << w.code;
      EXPECT_EQ(g.name, w.name);
    }
    saw_alnum = saw_alnum || rows.count("130A");
    // Every row but the index and 130A is a traded bar of the source day.
    std::size_t extra = rows.count("130A") + 1;
    EXPECT_EQ(got.rows.size(), want.rows.size() - 1 + extra) << day;
    for (const auto& code : source().summary.illiquid) {
      const bool traded = std::any_of(want.rows.begin(), want.rows.end(),
                                      [&](const PriceRecord& p) { return p.code == code; });
      if (!traded) {
        saw_untraded = true;
        EXPECT_EQ(rows.count(code), 0u) << "a null bar is not a trade: " << code << " " << day;
      }
    }
  }
  EXPECT_TRUE(saw_alnum);
  (void)saw_untraded;
  // The segment comes from MktNm: today's names.
  SeriesFile s;
  ASSERT_TRUE(read_series_file(series_file_path(db, 2024, "1301"), s));
  EXPECT_EQ(s.header.d2, "プライム") << "東証1部 in the source market";
  EXPECT_EQ(s.header.d3, "北洋水産(株)");
  ASSERT_TRUE(read_series_file(
      series_file_path(db, std::stoi(source().split_date.substr(0, 4)), "130A"), s));
  EXPECT_EQ(s.header.d3, "?野テクノロジー");
  EXPECT_EQ(s.header.d2, "グロース");
}

TEST(JQuantsSync, SplitDayCorrectionGivesTheServersAdjustedCloses) {
  Server server;
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  SyncRun run(db, range_from(), range_to());
  ASSERT_TRUE(run.go(server).ok());
  const std::string code = source().split_code;
  Series series;
  SeriesSource src(db, "1001");
  ASSERT_EQ(load_series(src, range_to(), 13, code, series, true), 0);
  int compared = 0;
  for (int i = 1; i <= series_count(series); ++i) {
    const std::string date = series[static_cast<std::size_t>(i)].d1_code_yyyymmdd;
    if (series[static_cast<std::size_t>(i)].d6 == "0" &&
        series[static_cast<std::size_t>(i)].d5 == "0")
      continue;
    const tools::JQuantsReply reply =
        server.view.answer("/equities/bars/daily", "date=" + date, kKey);
    std::vector<jquants::Bar> bars;
    std::string next, error;
    ASSERT_TRUE(jquants::parse_bars_page(reply.body, date, bars, next, error)) << error;
    for (const auto& b : bars) {
      if (b.code != code + "0" || !b.traded) continue;
      EXPECT_NEAR(parse_number(series[static_cast<std::size_t>(i)].d5), b.adj_close,
                  1e-9 * b.adj_close)
          << date;
      ++compared;
    }
  }
  EXPECT_GE(compared, 10);
  CorrectionFile c;
  ASSERT_TRUE(read_correction_file(
      correction_file_path(db, std::stoi(source().split_date.substr(0, 4)), code), c));
  ASSERT_EQ(c.rows.size(), 1u);
  EXPECT_EQ(c.rows[0].date, source().split_date);
}

TEST(JQuantsSync, ReferenceCodeCarriesTopixWhereThePlanServesIt) {
  const struct {
    const char* name;
    jquants::Plan plan;
    bool served;
    const char* index;
  } cases[] = {
      {"light: TOPIX", jquants::Plan::light, true, kTopixIndexName},
      {"free: no TOPIX", jquants::Plan::free, true, kEqualWeightIndexName},
      {"refused by the plan", jquants::Plan::standard, false, kEqualWeightIndexName},
  };
  for (const auto& c : cases) {
    tools::JQuantsViewOptions vo = view_options();
    vo.serve_topix = c.served;
    Server server(vo);
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    SyncRun run(db, range_from(), range_to());
    run.opt.plan = c.plan;
    const auto r = run.go(server);
    ASSERT_TRUE(r.ok()) << c.name << ": " << r.message;
    EXPECT_EQ(r.index, c.index) << c.name;
    const int year = std::stoi(range_to().substr(0, 4));
    SeriesFile got, source_index;
    ASSERT_TRUE(read_series_file(series_file_path(db, year, "1001"), got));
    ASSERT_TRUE(read_series_file(series_file_path(source().db, year, "1001"), source_index));
    EXPECT_EQ(got.header.d3, c.index) << c.name;
    const SeriesRecord& last = got.days.back();
    const auto& want = *std::find_if(
        source_index.days.begin(), source_index.days.end(),
        [&](const SeriesRecord& d) { return d.d1_code_yyyymmdd == last.d1_code_yyyymmdd; });
    if (std::string(c.index) == kTopixIndexName) {
      EXPECT_EQ(parse_number(last.d5), parse_number(want.d5)) << c.name;
    } else {
      EXPECT_NE(parse_number(last.d5), parse_number(want.d5)) << c.name;
    }
  }
}

TEST(JQuantsSync, SecondRunChangesNothingAndAsksOnlyForTheCalendar) {
  Server server;
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  SyncRun first(db, range_from(), range_to());
  ASSERT_TRUE(first.go(server).ok());
  const auto before = test::files_under(db);
  SyncRun second(db, range_from(), range_to());
  const auto r = second.go(server);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.days_written, 0);
  EXPECT_EQ(r.already_present, 13);
  EXPECT_EQ(r.requests, 1);
  EXPECT_EQ(test::files_under(db), before);
  // Without --from it starts the day after the latest date: nothing to ask at all.
  SyncRun third(db, "", range_to());
  const auto r3 = third.go(server);
  EXPECT_TRUE(r3.ok());
  EXPECT_EQ(r3.requests, 0);
}

TEST(JQuantsSync, InterruptedRunResumesToTheSameFilesAsOneRun) {
  Server server;
  test::TempDir dir;
  const std::string whole = dir.file("whole") + "/", parts = dir.file("parts") + "/";
  SyncRun one(whole, range_from(), range_to());
  ASSERT_TRUE(one.go(server).ok());

  SyncRun cut(parts, range_from(), range_to());
  int days_seen = 0;
  cut.svc.progress = [&](const jquants::SyncProgress& p) { days_seen = p.days_done; };
  cut.svc.cancelled = [&] { return days_seen >= 5; };
  const auto r1 = cut.go(server);
  EXPECT_EQ(r1.status, SyncStatus::cancelled);
  EXPECT_EQ(r1.days_written, 5);
  SyncRun rest(parts, range_from(), range_to());
  const auto r2 = rest.go(server);
  ASSERT_TRUE(r2.ok()) << r2.message;
  EXPECT_EQ(r2.days_written, 8);
  EXPECT_EQ(test::files_under(parts), test::files_under(whole));
}

TEST(JQuantsSync, ServerTroubleIsRetriedOrStopsCleanly) {
  const auto no_network = [](long n, HttpResponse& r) {
    if (n == 1) r = HttpResponse{0, "", {}, "could not connect to jq.test within 15 s"};
  };
  const auto tiny_retry_after = [](long, HttpResponse& r) {
    r = HttpResponse{429, R"({"message":"Too Many Requests"})", {{"retry-after", "0.001"}}, ""};
  };
  const struct {
    const char* name;
    tools::JQuantsViewOptions server;
    SyncStatus status;
    bool writes;
    const char* says;
    std::function<void(long, HttpResponse&)> damage = {};
    long requests = 0;  // when not 0: exactly this many
  } cases[] = {
      {"wrong key", view_options(1000, {}, {}, "another"), SyncStatus::refused, false,
       "APIキーを受け付けませんでした (HTTP 403"},
      {"429 then success", view_options(1000, {2}), SyncStatus::done, true, ""},
      {"500 then success", view_options(1000, {}, {3}), SyncStatus::done, true, ""},
      {"500 for good",
       view_options(1000, {}, {1, 2, 3, 4, 5, 6, 7, 8}),
       SyncStatus::failed,
       false,
       "HTTP 500",
       {},
       6},
      // An absent network is not retried for minutes: one try, a connect cap of 15 s.
      {"no network", view_options(), SyncStatus::failed, false, "接続できません", no_network, 1},
      // A tiny Retry-After is a second each, and ten tries end it (not thousands).
      {"429 with Retry-After 0.001 for good", view_options(), SyncStatus::failed, false,
       "HTTP 429: Too Many Requests (10回試み", tiny_retry_after, 10},
  };
  for (const auto& c : cases) {
    Server server(c.server);
    server.damage = c.damage;
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    SyncRun run(db, range_from(), range_to());
    const auto r = run.go(server);
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.message;
    EXPECT_NE(r.message.find(c.says), std::string::npos) << c.name << ": " << r.message;
    EXPECT_EQ(r.message.find(kKey), std::string::npos) << c.name;
    EXPECT_EQ(fs::exists(db), c.writes) << c.name;
    EXPECT_LE(server.connect_timeout_s, 15) << c.name;
    if (c.requests) {
      EXPECT_EQ(r.requests, c.requests) << c.name;
    }
    if (c.status == SyncStatus::done) {
      EXPECT_EQ(r.days_written, 13) << c.name;
      EXPECT_EQ(r.retries, 1) << c.name;
      EXPECT_GE(run.slept, 1.0) << c.name;
    }
  }
}

TEST(JQuantsSync, DamagedAnswerStopsBeforeTheDayAndSaysWhy) {
  // Requests: 1 calendar, 2 TOPIX, 3 master, 4 first day, 5 second day.
  const struct {
    const char* name;
    long request;
    std::function<void(std::string&)> damage;
    int days_kept;
    const char* says;
    bool every = false;  // damage this answer and every later one (answered 200)
    long max_requests = 0;
    std::uint64_t max_bytes = 64ull << 20;
    long min_requests = 0;
  } cases[] = {
      {"garbage calendar", 1, [](std::string& b) { b = "\x82\xa0<html>"; }, 0, "not valid JSON"},
      {"truncated day", 5, [](std::string& b) { b.resize(b.size() / 2); }, 1, "not valid JSON"},
      {"wrong date", 5,
       [](std::string& b) {
         const auto at = b.find("\"Date\":\"");
         b.replace(at + 8, 4, "1999");
       },
       1, "not the day asked for"},
      {"empty day", 4, [](std::string& b) { b = R"({"data":[]})"; }, 0, "株価がありません"},
      {"pagination_key repeated on every answer", 1,
       [](std::string& b) { b = R"({"data":[],"pagination_key":"same"})"; }, 0,
       "pagination_key が繰り返された", true, 3},
      {"endless pagination", 1,
       [k = 0](std::string& b) mutable {
         b = R"({"data":[],"pagination_key":"k)" + std::to_string(++k) + "\"}";
       },
       0, "1000 ページを超えた", true, 1000, 64ull << 20, 1000},
      {"answer over the size cap", 0, [](std::string&) {}, 0, "4000 バイトを超えた", false, 0,
       4000},
  };
  for (const auto& c : cases) {
    Server server;
    server.damage = [&](long n, HttpResponse& resp) {
      if (n == c.request || (c.every && n > c.request)) c.damage(resp.body);
      if (c.every && n >= c.request) resp.status = 200;
    };
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    SyncRun run(db, range_from(), range_to());
    run.opt.max_answer_bytes = c.max_bytes;
    const auto r = run.go(server);
    if (c.max_requests) {
      EXPECT_LE(r.requests, c.max_requests) << c.name;
    }
    EXPECT_GE(r.requests, c.min_requests) << c.name;
    EXPECT_EQ(r.status, SyncStatus::failed) << c.name;
    EXPECT_NE(r.message.find(c.says), std::string::npos) << c.name << ": " << r.message;
    EXPECT_EQ(r.days_written, c.days_kept) << c.name;
    EXPECT_NE(r.message.find(c.days_kept ? "それまでの 1 取引日は登録済み"
                                         : "データベースは変更していません"),
              std::string::npos)
        << c.name << ": " << r.message;
    std::vector<std::string> dates;
    read_series_dates(series_file_path(db, std::stoi(range_from().substr(0, 4)), "1001"), dates);
    EXPECT_EQ(dates.size(), static_cast<std::size_t>(c.days_kept)) << c.name;
  }
}

TEST(JQuantsSync, FailedWriteLeavesThePreviousDaysFilesAsTheyWere) {
  Server server;
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  const std::string mid = day_near(range_from(), 3);
  SyncRun first(db, range_from(), mid);
  ASSERT_TRUE(first.go(server).ok());
  const auto before = test::files_under(db);
  // A folder where a stock's correction file must go: the day's write fails part-way.
  const int year = std::stoi(source().split_date.substr(0, 4));
  fs::create_directories(correction_file_path(db, year, source().split_code));
  SyncRun second(db, "", range_to());
  const auto r = second.go(server);
  EXPECT_EQ(r.status, SyncStatus::failed);
  EXPECT_NE(r.message.find("cannot write"), std::string::npos) << r.message;
  auto after = test::files_under(db);
  // Days before the split day were written; the split day itself left no trace.
  for (const auto& [path, bytes] : before) {
    if (path.find("data_m/") != std::string::npos && after.count(path)) {
      EXPECT_EQ(after[path].find(source().split_date), std::string::npos) << path;
    }
  }
  EXPECT_FALSE(fs::exists(day_file_path(db, source().split_date)));
  std::vector<std::string> dates;
  read_series_dates(series_file_path(db, year, "1001"), dates);
  EXPECT_LT(dates.front(), source().split_date);
}

// The live API's habits, answered by the test server the way the live API answers them: what
// the sync writes and the exit code the command returns.
TEST(JQuantsLiveApi, SyncsWhatThePlanServesAndSaysWhatItCannot) {
  const std::string last = std::to_string(source().days.back());  // 20250613
  const std::string window_end = "20250523";  // Free on 2025-08-15: twelve weeks back
  const auto days_in = [](const Source& src, const std::string& from, const std::string& to) {
    return static_cast<int>(std::count_if(src.days.begin(), src.days.end(), [&](int d) {
      return d >= std::stoi(from) && d <= std::stoi(to);
    }));
  };
  const auto segment_of = [](const std::string& db, const std::string& date,
                             const std::string& code) {
    DayFile day;
    read_day_file(day_file_path(db, date), day);
    for (const PriceRecord& r : day.rows) {
      if (r.code == code) return r.market;
    }
    return std::string("(none)");
  };
  using Check = std::function<void(const std::string& db, const jquants::SyncResult&, Server&)>;
  struct Case {
    const char* name;
    std::function<void(tools::JQuantsViewOptions&)> server;
    std::function<void(SyncRun&)> sync;
    int exit;
    int days;  // written
    std::string says;
    Check check = {};
    const Source* market = &source();
    std::function<void(const std::string& db)> before = {};
    std::function<void(long n, HttpResponse&)> damage = {};
  };
  const auto recent = [&](SyncRun& run) {
    run.opt.from = day_near(last, -3);
    run.opt.to = last;
  };
  // Where the requests of a plain run of the last four days fall, for answers aimed at one.
  std::vector<std::string> plain;
  {
    test::TempDir d;
    Server probe;
    SyncRun run(d.file("db") + "/", "", "");
    recent(run);
    ASSERT_TRUE(run.go(probe).ok());
    for (const auto& e : probe.view.log()) plain.push_back(e.target);
  }
  const auto request_of = [&](const std::string& date) {
    const auto at = std::find(plain.begin(), plain.end(), "/equities/bars/daily?date=" + date);
    return static_cast<long>(at - plain.begin()) + 1;
  };
  const long newest_bars = request_of(last), second_bars = request_of(day_near(last, -2));
  const Case cases[] = {
      {"a plan chosen wider than the key's: the 400 names the window, the rest is synced",
       [](auto& v) {
         v.plan = "free";
         v.now = "202508150900";
       },
       [&](SyncRun& run) {
         run.opt.plan = jquants::Plan::light;
         run.opt.today = "20250815";
         run.opt.from = day_near(window_end, -3);
         run.opt.to = last;
       },
       0, days_in(source(), day_near(window_end, -3), window_end),
       "プランの提供範囲外: 2025/05/24～2025/06/13",
       [&](const std::string& db, const jquants::SyncResult& r, Server& server) {
         EXPECT_EQ(server.requests_to("/markets/calendar", 400), 1);
         EXPECT_FALSE(fs::exists(day_file_path(db, day_near(window_end, 1))));
         EXPECT_EQ(r.index, kEqualWeightIndexName) << "Free serves no TOPIX";
         EXPECT_NE(r.message.find("TOPIX はご契約のプランに含まれない"), std::string::npos);
       }},
      {"the plan's window is kept before any request",
       [](auto& v) {
         v.plan = "free";
         v.now = "202508150900";
       },
       [&](SyncRun& run) {
         run.opt.plan = jquants::Plan::free;
         run.opt.today = "20250815";
         run.opt.from = day_near(window_end, -3);
         run.opt.to = last;
       },
       0, days_in(source(), day_near(window_end, -3), window_end),
       "プランの提供範囲外: 2025/05/24～2025/06/13",
       [](const std::string&, const jquants::SyncResult&, Server& server) {
         EXPECT_EQ(server.requests_to("/", 400), 0);
       }},
      {"the newest day before 16:30: the days before it and a note",
       [&](auto& v) { v.now = last + "0900"; }, recent, 0, 3,
       "2025/06/13 分は未公開です (16:30頃公開)",
       [&](const std::string& db, const jquants::SyncResult& r, Server&) {
         EXPECT_EQ(r.unpublished, last);
         EXPECT_FALSE(fs::exists(day_file_path(db, last)));
       }},
      {"after 16:30 the newest day is there", [&](auto& v) { v.now = last + "1700"; }, recent, 0, 4,
       "4 取引日を登録しました"},
      {"210 for the newest day is an empty answer: not published yet",
       [&](auto& v) { v.status_210 = {newest_bars}; }, recent, 0, 3, "2025/06/13 分は未公開です"},
      {"210 for a day inside the range is a hole", [&](auto& v) { v.status_210 = {second_bars}; },
       recent, 1, 1, "の株価がありません"},
      {"a refused key is 403 and writes nothing", [](auto& v) { v.api_key = "another"; }, recent, 1,
       0, "APIキーを受け付けませんでした (HTTP 403",
       [](const std::string& db, const jquants::SyncResult&, Server&) {
         EXPECT_FALSE(fs::exists(db));
       }},
      {"a 403 on the daily bars saying only Forbidden is the key, the bars being in every plan",
       [](auto&) {},
       recent,
       1,
       1,
       "APIキーを受け付けませんでした (HTTP 403",
       {},
       &source(),
       {},
       [&](long n, HttpResponse& resp) {
         if (n != second_bars) return;
         resp.status = 403;
         resp.body = R"({"message":"Forbidden"})";
       }},
      {"TOPIX outside the plan of a database that holds TOPIX stops and says which",
       [](auto& v) { v.serve_topix = false; },
       [&](SyncRun& run) {
         run.opt.from.clear();
         run.opt.to = last;
       },
       1,
       0,
       "TOPIXはご契約のプランに含まれていません (HTTP 403",
       {},
       &source(),
       [&](const std::string& db) {
         Server topix;
         SyncRun first(db, day_near(last, -5), day_near(last, -2));
         ASSERT_TRUE(first.go(topix).ok());
       }},
      {"a lockout within the wait allowed is waited out, counting down",
       [&](auto& v) { v.lockout_at = second_bars; }, recent, 0, 4, "4 取引日を登録しました",
       [&](const std::string&, const jquants::SyncResult& r, Server&) {
         EXPECT_EQ(r.retries, 1);
         EXPECT_EQ(r.requests, static_cast<long>(plain.size()) + 1);
       }},
      {"a lockout longer than the wait allowed stops at once",
       [&](auto& v) { v.lockout_at = second_bars; },
       [&](SyncRun& run) {
         recent(run);
         run.opt.max_wait_s = 60;
       },
       1, 1, "待機の上限 1分0秒 を超えます"},
      {"a split on a day the stock did not trade keeps its correction",
       [](auto& v) { v.idle = {source().split_code + ":" + source().split_date}; }, [](auto&) {}, 0,
       13, "13 取引日を登録しました",
       [](const std::string& db, const jquants::SyncResult& r, Server& server) {
         EXPECT_EQ(r.idle_corrections, 1);
         const std::string code = source().split_code, split = source().split_date;
         DayFile day;
         ASSERT_TRUE(read_day_file(day_file_path(db, split), day));
         EXPECT_TRUE(std::none_of(day.rows.begin(), day.rows.end(),
                                  [&](const PriceRecord& p) { return p.code == code; }));
         // The day before the split reads as the server's adjusted close.
         const std::string before = day_near(split, -1);
         Series series;
         SeriesSource src(db, "1001");
         ASSERT_EQ(load_series(src, before, 1, code, series, true), 0);
         std::vector<jquants::Bar> bars;
         std::string next, error;
         ASSERT_TRUE(jquants::parse_bars_page(
             server.view.answer("/equities/bars/daily", "date=" + before, kKey).body, before, bars,
             next, error));
         const auto bar = std::find_if(bars.begin(), bars.end(),
                                       [&](const jquants::Bar& b) { return b.code == code + "0"; });
         ASSERT_NE(bar, bars.end());
         EXPECT_NEAR(parse_number(series[1].d5), bar->adj_close, 1e-9 * bar->adj_close);
         EXPECT_NE(bar->adj_close, bar->close) << "the split must change the price";
       }},
      {"the old master names the old segments, each day its own", [](auto&) {},
       [](SyncRun& run) {
         run.opt.today = "20220415";
         run.opt.from = "20220329";
         run.opt.to = "20220407";
       },
       0, 8, "8 取引日を登録しました",
       [&](const std::string& db, const jquants::SyncResult&, Server& server) {
         EXPECT_EQ(segment_of(db, "20220329", "1301"), "東証一部");
         EXPECT_EQ(segment_of(db, "20220401", "1301"), "東証一部");
         EXPECT_EQ(segment_of(db, "20220404", "1301"), "プライム");
         EXPECT_EQ(segment_of(db, "20220407", "1301"), "プライム");
         // One per era, and one for a day holding an issue delisted before the era's last day:
         // not one a day.
         EXPECT_GE(server.requests_to("/equities/master"), 2);
         EXPECT_LE(server.requests_to("/equities/master"), 3);
       },
       &reform_source()},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    if (c.before) c.before(db);
    SyncRun run(db, range_from(), range_to());
    c.sync(run);
    run.svc.progress = [&run](const jquants::SyncProgress& p) {
      if (p.wait_left > 0) run.waits.push_back(p.wait_left);
    };
    tools::JQuantsViewOptions vo = view_options();
    vo.clock = [&run] { return run.clock; };
    c.server(vo);
    Server server(vo, *c.market);
    server.damage = c.damage;
    const auto before = c.before ? test::files_under(db) : std::map<std::string, std::string>{};
    const auto r = run.go(server);
    EXPECT_EQ(jquants::exit_code(r), c.exit) << c.name << ": " << r.message;
    EXPECT_EQ(r.days_written, c.days) << c.name << ": " << r.message;
    EXPECT_NE(r.message.find(c.says), std::string::npos) << c.name << ": " << r.message;
    if (c.check) c.check(db, r, server);
    if (c.before && c.exit) {
      EXPECT_EQ(test::files_under(db), before) << c.name;
    }
    if (vo.lockout_at) {
      // Waits are visible: a countdown from the server's Retry-After, second by second.
      if (c.exit == 0) {
        ASSERT_FALSE(run.waits.empty()) << c.name;
        EXPECT_EQ(run.waits.front(), 300) << c.name;
        EXPECT_EQ(run.waits.size(), 300u) << c.name;
        EXPECT_NEAR(run.slept, 300, 1e-6) << c.name;
      } else {
        EXPECT_LT(run.slept, 1) << c.name << ": gives up without waiting";
      }
    }
  }
}

TEST(JQuantsSync, PacedRunStaysUnderThePlansRate) {
  Server server;
  test::TempDir dir;
  SyncRun run(dir.file("db") + "/", range_from(), range_to());
  run.opt.plan = jquants::Plan::light;
  std::vector<jquants::SyncProgress> reports;
  run.svc.progress = [&](const jquants::SyncProgress& p) {
    if (!p.date.empty()) reports.push_back(p);
  };
  ASSERT_TRUE(run.go(server).ok());
  // Progress: days done of days to do, requests made, and the time left at the plan's pace.
  ASSERT_EQ(reports.size(), 13u);
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].days_done, static_cast<int>(i));
    EXPECT_EQ(reports[i].days_total, 13);
    EXPECT_EQ(reports[i].requests, static_cast<long>(3 + i)) << "calendar, TOPIX, master, a day";
    EXPECT_NEAR(reports[i].seconds_left, (13.0 - i) * 1.1, 1e-9);
  }
  ASSERT_GE(run.request_times.size(), 10u);
  for (std::size_t i = 0; i < run.request_times.size(); ++i) {
    std::size_t in_minute = 0;
    for (std::size_t j = i; j < run.request_times.size(); ++j) {
      if (run.request_times[j] < run.request_times[i] + 60) ++in_minute;
    }
    EXPECT_LE(in_minute, 60u);
    if (i) {
      EXPECT_GE(run.request_times[i] - run.request_times[i - 1], 1.0);
    }
  }
}

}  // namespace
}  // namespace lp

namespace lp {
namespace {

// The source market's disclosures of [from, to] per code, as the sync should store them.
std::map<std::string, std::vector<fins::Disclosure>> source_fins(int from, int to) {
  std::map<std::string, std::vector<fins::Disclosure>> out;
  for (const auto& code : source().summary.codes) {
    std::vector<fins::Disclosure> list;
    if (!fins::read_fins_file(fins::fins_file_path(source().db, code), list)) continue;
    for (const auto& d : list) {
      if (d.date >= from && d.date <= to) out[code].push_back(d);
    }
  }
  return out;
}

void expect_same_fins(const std::string& db, int from, int to) {
  const auto want = source_fins(from, to);
  ASSERT_FALSE(want.empty()) << "the range holds the companies' FY results";
  for (const auto& [code, list] : want) {
    std::vector<fins::Disclosure> got;
    ASSERT_TRUE(fins::read_fins_file(fins::fins_file_path(db, code), got)) << code;
    ASSERT_EQ(got.size(), list.size()) << code;
    for (std::size_t i = 0; i < got.size(); ++i) {
      for (int c = 0; c < fins::kColumnCount; ++c) {
        // Numbers may come back in a shorter spelling ("12.30" sent as 12.3).
        if (fins::is_value_column(c)) {
          ASSERT_EQ(got[i].disclosed(c), list[i].disclosed(c)) << code << " " << c;
          EXPECT_DOUBLE_EQ(got[i].value(c), list[i].value(c)) << code << " " << c;
        } else {
          EXPECT_EQ(got[i][c], list[i][c]) << code << " " << c;
        }
      }
    }
  }
}

// The stocks' results files (not the record of what was fetched).
std::map<std::string, std::string> fins_files(const std::string& db) {
  auto files = test::files_under(fins::fins_folder(db));
  files.erase("fetched.txt");
  return files;
}

TEST(JQuantsSync, ResultsSummariesOfEachDayAcrossPagesAndFinsOnly) {
  // Early May: every company's FY results, served three to a page.
  Server server(view_options(3));
  test::TempDir dir;
  const std::string with = dir.file("with") + "/", later = dir.file("later") + "/";
  SyncRun run(with, "20250501", "20250516");
  run.opt.fins = true;
  const auto r = run.go(server);
  ASSERT_TRUE(r.ok()) << r.message;
  expect_same_fins(with, 20250501, 20250516);
  EXPECT_GT(r.disclosures, 3) << "more than one page";
  EXPECT_NE(r.message.find("決算 " + std::to_string(r.disclosures) + " 件"), std::string::npos);

  // Prices first without them, then the summaries alone for the days held, every day or the
  // range of the prices (its last day included): the same files.
  SyncRun prices(later, "20250501", "20250516");
  ASSERT_TRUE(prices.go(server).ok());
  EXPECT_FALSE(fs::exists(fins::fins_folder(later)));
  for (const auto& [from, to] : {std::pair{"", ""}, std::pair{"20250501", "20250516"}}) {
    fs::remove_all(fins::fins_folder(later));
    SyncRun only(later, from, to);
    only.opt.fins = true;
    only.opt.fins_only = true;
    only.opt.plan = jquants::Plan::unpaced;
    const auto f = only.go(server);
    ASSERT_TRUE(f.ok()) << from << ": " << f.message;
    EXPECT_EQ(f.days_written, r.days_written) << from << ": one request walk per day held";
    EXPECT_EQ(f.disclosures, r.disclosures) << from;
    EXPECT_EQ(fins_files(later), fins_files(with)) << from;
  }
  // Again: nothing changes.
  const auto before = test::files_under(later);
  SyncRun again(later, "20250501", "20250516");
  again.opt.fins = true;
  again.opt.fins_only = true;
  ASSERT_TRUE(again.go(server).ok());
  EXPECT_EQ(test::files_under(later), before);

  // A company the database holds no prices of is not kept: only its file is missing.
  auto expected = fins_files(later);
  ASSERT_FALSE(expected.empty());
  const std::string gone = expected.begin()->first.substr(0, expected.begin()->first.size() - 4);
  expected.erase(expected.begin());
  fs::remove(series_file_path(later, 2025, gone));
  fs::remove_all(fins::fins_folder(later));
  ASSERT_TRUE(again.go(server).ok());
  EXPECT_EQ(fins_files(later), expected) << gone;
}

// The summaries fail while the prices are served: the prices stand, the outcome says so (exit
// 3), and the next run fetches what was missed.
TEST(JQuantsSync, ResultsThatFailKeepThePricesAndComeWithTheNextRun) {
  const auto other_day = [](long, HttpResponse& r) {
    const auto at = r.body.find("\"DiscDate\":\"2025-05-");
    if (at != std::string::npos) r.body.replace(at + 12, 10, "2024-01-04");
  };
  const struct {
    const char* name;
    int status;
    std::function<void(long, HttpResponse&)> damage = {};
  } cases[] = {
      {"403: not in the plan", 403}, {"404", 404}, {"500 for good", 500},
      {"a record of another day", 0, other_day}};
  for (const auto& c : cases) {
    auto broken = view_options();
    broken.fins_status = c.status;
    Server bad(broken);
    bad.damage = [&](long n, HttpResponse& r) {
      if (c.damage && bad.view.log().size() >= 1 &&
          bad.view.log().back().target.rfind("/fins/summary", 0) == 0)
        c.damage(n, r);
    };
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    SyncRun run(db, "20250501", "20250516");
    run.opt.fins = true;
    const auto r = run.go(bad);
    EXPECT_TRUE(r.ok()) << c.name << ": " << r.message;
    EXPECT_EQ(jquants::exit_code(r), 3) << c.name;
    EXPECT_EQ(r.days_written, 11) << c.name;
    EXPECT_NE(r.message.find("決算データを取得できませんでした"), std::string::npos) << c.name;
    EXPECT_NE(r.message.find("株価は更新しました"), std::string::npos) << c.name;
    if (c.status == 403) {
      // Remembered: the same plan asks no more and says so in one line, exit 0.
      SyncRun again(db, "", "20250516");
      again.opt.fins = true;
      const long asked = bad.requests_to("/fins/summary");
      const auto a = again.go(bad);
      EXPECT_EQ(jquants::exit_code(a), 0) << a.message;
      EXPECT_TRUE(a.fins_skipped);
      EXPECT_EQ(bad.requests_to("/fins/summary"), asked);
      EXPECT_NE(a.message.find("プランに含まれないため"), std::string::npos) << a.message;
      continue;
    }
    // The next run adds no price day and still fetches every summary once.
    Server good;
    SyncRun next(db, "", "20250516");
    next.opt.fins = true;
    const auto n = next.go(good);
    EXPECT_EQ(jquants::exit_code(n), 0) << c.name << ": " << n.message;
    EXPECT_EQ(n.days_written, 0) << c.name;
    expect_same_fins(db, 20250501, 20250516);
  }
}

// Summaries published at 18:00, a sync at 17:00, at 19:00 and after midnight: the day's
// disclosures arrive with the second, and every one is stored once.
TEST(JQuantsSync, ResultsPublishedAfterThePricesArriveWithALaterRun) {
  // The newest disclosure date of May's results season, and the calendar day after it.
  int day = 0;
  for (const auto& [code, list] : source_fins(20250501, 20250530)) {
    for (const auto& d : list) day = std::max(day, d.date);
  }
  ASSERT_GT(day, 0);
  const std::string d = std::to_string(day), next = jquants::add_calendar_days(d, 1);
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  const struct {
    std::string now, today;
    bool has_day;
  } runs[] = {{d + "1700", d, false}, {d + "1900", d, true}, {next + "0100", next, true}};
  for (const auto& at : runs) {
    auto o = view_options();
    o.now = at.now;
    o.fins_publish_hhmm = 1800;
    Server server(o);
    SyncRun run(db, "", "");
    if (!fs::exists(db)) run.opt.from = "20250501";
    run.opt.today = at.today;
    run.opt.fins = true;
    const auto r = run.go(server);
    ASSERT_EQ(jquants::exit_code(r), 0) << at.now << ": " << r.message;
    std::vector<fins::Disclosure> list;
    const std::string code = source_fins(day, day).begin()->first;
    ASSERT_NE(r.unpublished, d) << at.now << ": the bars of the day are out at 16:30";
    fins::read_fins_file(fins::fins_file_path(db, code), list);
    EXPECT_EQ(std::any_of(list.begin(), list.end(), [&](const auto& d) { return d.date == day; }),
              at.has_day)
        << at.now;
  }
  expect_same_fins(db, 20250501, day);
}

// A results file that cannot be read is moved aside, never written over, and the stock's
// history fetched anew; one with a UTF-8 BOM is read and kept.
TEST(JQuantsSync, ResultsFilesThatCannotBeReadAreMovedAsideNotOverwritten) {
  const auto want = source_fins(20250501, 20250516);
  ASSERT_GE(want.size(), 2u);
  const std::string damaged = want.begin()->first, bom = std::next(want.begin())->first;
  std::vector<fins::Disclosure> all;
  ASSERT_TRUE(fins::read_fins_file(fins::fins_file_path(source().db, damaged), all));
  Server server;
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  fs::create_directories(fins::fins_folder(db));
  test::write_bytes(fins::fins_file_path(db, damaged), "not,a,results,file\r\n1,2,3\r\n");
  // The BOM file holds one older disclosure that the fetch will not bring.
  std::vector<fins::Disclosure> old_one;
  ASSERT_TRUE(fins::read_fins_file(fins::fins_file_path(source().db, bom), old_one));
  old_one.resize(1);
  ASSERT_LT(old_one.front().date, 20250501);
  test::write_bytes(fins::fins_file_path(db, bom), "\xEF\xBB\xBF" + fins::fins_file_bytes(old_one));
  SyncRun run(db, "20250501", "20250516");
  run.opt.fins = true;
  const auto r = run.go(server);
  ASSERT_EQ(jquants::exit_code(r), 0) << r.message;
  std::vector<fins::Disclosure> got;
  ASSERT_TRUE(fins::read_fins_file(fins::fins_file_path(db, damaged), got));
  EXPECT_EQ(got.size(), all.size()) << "the whole history, fetched by code";
  bool aside = false;
  for (const auto& [name, bytes] : test::files_under(fins::fins_folder(db))) {
    if (name.rfind(damaged + ".csv.bad-", 0) == 0) {
      aside = true;
      EXPECT_EQ(bytes, "not,a,results,file\r\n1,2,3\r\n");
    }
  }
  EXPECT_TRUE(aside);
  EXPECT_EQ(r.warnings.size(), 1u);
  ASSERT_TRUE(fins::read_fins_file(fins::fins_file_path(db, bom), got));
  EXPECT_EQ(got.size(), want.at(bom).size() + 1) << "the BOM file's disclosure kept";
}

}  // namespace
}  // namespace lp
