// Real-data sources: one J-Quants day of 4000 bars turned into the database, a backfill from
// the local J-Quants test server over real HTTP without pacing, and a CSV import of 4000 files
// of 750 rows. Scratch folders go under the temporary folder (TMPDIR), so the same cases can be
// measured on a RAM disk to separate the program's time from the disk's.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <unordered_map>

#include "bench/bench.h"
#include "common/csv.h"
#include "common/encoding.h"
#include "common/http_curl.h"
#include "common/numbers.h"
#include "price-server/jquants_view.h"
#include "pricedb/csv_import.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_json.h"
#include "pricedb/jquants_sync.h"
#include "pricedb/price_writer.h"
#include "sample-market/sample_market.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  fs::path root;
  pid_t server = -1;
  ~Scratch() {
    if (server > 0) {
      ::kill(server, SIGTERM);
      ::waitpid(server, nullptr, 0);
    }
    std::error_code ec;
    if (!root.empty()) fs::remove_all(root, ec);
  }
};

fs::path scratch_root(const char* what) {
  return fs::temp_directory_path() /
         ("lumenpick-" + std::string(what) + "-bench-" + std::to_string(::getpid()));
}

// Days of the batched case: the rest of a year, committed as a backfill commits them.
constexpr int kBatchDays = 160;

std::string iso(const std::string& d) {
  return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2);
}

// The sync's own conversion of parsed bars, as run_sync does it.
std::vector<lp::StockBar> to_stock_bars(
    const std::vector<lp::jquants::Bar>& bars,
    const std::unordered_map<std::string, lp::jquants::Identity>& ids) {
  std::vector<lp::StockBar> out;
  out.reserve(bars.size());
  for (const auto& b : bars) {
    std::string code = lp::jquants::map_code(b.code);
    if (code.empty() || !b.traded) continue;
    const auto it = ids.find(b.code);
    out.push_back(
        lp::jquants::stock_bar_of(b, std::move(code), it != ids.end() ? &it->second : nullptr));
  }
  return out;
}

// Later days prepared for the day cases: the single days take the first, the batches the rest.
constexpr int kLaterDays = 40 + kBatchDays;

struct DayCase {
  Scratch scratch;
  std::string db;
  std::vector<std::string> bodies;  // one day's JSON for each run, dated after the market
  std::vector<std::string> dates;
  std::unordered_map<std::string, lp::jquants::Identity> ids;
  std::unique_ptr<lp::DayWriter> writer;
  std::size_t next = 0;
};

// The day's JSON of the sample market's last day, re-dated for each later day (once).
void prepare_bodies(DayCase& day_case, const lp::bench::Setup& setup) {
  if (!day_case.bodies.empty()) return;
  DayCase* day = &day_case;
  lp::tools::JQuantsView view;
  lp::tools::JQuantsViewOptions o;
  o.db_folder = setup.db_folder;
  o.api_key = "k";
  o.page_size = 100000;
  std::string error;
  if (!view.load(o, error)) {
    std::cerr << "jquants bench: " << error << "\n";
    return;
  }
  const std::string body = view.answer("/equities/bars/daily", "date=" + setup.today, "k").body;
  std::vector<lp::jquants::Issue> issues;
  std::string next;
  lp::jquants::parse_master_page(view.answer("/equities/master", "", "k").body, issues, next,
                                 error);
  for (const auto& i : issues) {
    day->ids[i.code] = {lp::utf8_to_cp932(i.segment), lp::utf8_to_cp932(i.name)};
  }
  // Later weekdays of the same year, one per run.
  int d = std::stoi(setup.today);
  for (int i = 0; i < kLaterDays; ++i) {
    do {
      d = std::stoi(lp::jquants::normalize_date(std::to_string(d + 1)).empty()
                        ? std::to_string((d / 100 + 1) * 100 + 0)
                        : std::to_string(d + 1));
      if (lp::jquants::normalize_date(std::to_string(d)).empty()) continue;
      break;
    } while (true);
    const std::string date = std::to_string(d);
    std::string b = body;
    const std::string from = "\"" + iso(setup.today) + "\"", to = "\"" + iso(date) + "\"";
    for (std::size_t at = b.find(from); at != std::string::npos;
         at = b.find(from, at + to.size())) {
      b.replace(at, from.size(), to);
    }
    day->bodies.push_back(std::move(b));
    day->dates.push_back(date);
  }
}

// Starts the local J-Quants test server on the sample market, once.
void start_server(const std::shared_ptr<Scratch>& fill, const std::shared_ptr<int>& port,
                  const lp::bench::Setup& setup) {
  if (fill->server > 0) return;

  fill->root = scratch_root("jquants-backfill");
  fs::create_directories(fill->root);
  std::error_code ec;
  const fs::path exe = fs::canonical("/proc/self/exe", ec).parent_path() / "lumenpick-price-server";
  for (int p = 18461; p < 18471 && fill->server < 0; ++p) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(1);
      const int devnull = ::open("/dev/null", O_WRONLY);
      if (devnull >= 0) ::dup2(devnull, 1);
      ::execl(exe.c_str(), exe.c_str(), "--api", "jquants", "--root", setup.db_folder.c_str(),
              "--api-key", "bench", "--port", std::to_string(p).c_str(), "--page-size", "5000",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 600; ++i) {
      lp::HttpRequest r;
      r.url = "http://127.0.0.1:" + std::to_string(p) + "/";
      if (lp::curl_http_get(r).status == 200) {
        fill->server = pid;
        *port = p;
        break;
      }
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;
      ::usleep(50000);
    }
    if (fill->server < 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }
  if (fill->server < 0) std::cerr << "jquants bench: the test server did not start\n";
}

void add_cases(const lp::bench::Setup& setup, std::vector<lp::bench::Case>& cases) {
  // --- the floor under a day: the same files replaced as they are, nothing parsed ---
  auto floor = std::make_shared<Scratch>();
  auto floor_fd = std::make_shared<int>(-1);
  auto floor_names = std::make_shared<std::vector<std::string>>();
  lp::bench::Case plain;
  plain.name = "jquants reference: a year's 4000 series files read and replaced as they are";
  plain.item = "file";
  plain.prepare = [floor, floor_fd, floor_names, setup] {
    floor->root = scratch_root("jquants-floor");
    const int year = std::stoi(setup.today.substr(0, 4));
    fs::create_directories(floor->root);
    fs::copy(lp::year_folder(setup.db_folder, year) + "data_m", floor->root / "data_m");
    for (const fs::path& f : lp::list_files(floor->root / "data_m")) {
      floor_names->push_back(f.filename().string());
    }
    *floor_fd = ::open((floor->root / "data_m").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  };
  // Each file read whole and written back through a temporary file and a rename: the system
  // calls a day cannot do without, for comparison with the day case below.
  plain.run = [floor_fd, floor_names]() -> long long {
    std::string bytes, scratch;
    long long n = 0;
    for (const std::string& name : *floor_names) {
      if (lp::read_file_bytes_at(*floor_fd, name.c_str(), bytes) &&
          lp::write_file_atomic_at(*floor_fd, name.c_str(), {bytes}, scratch)) {
        ++n;
      }
    }
    return n;
  };
  plain.finish = [floor, floor_fd] {
    if (*floor_fd >= 0) ::close(*floor_fd);
    *floor_fd = -1;
    std::error_code ec;
    fs::remove_all(floor->root, ec);
    floor->root.clear();
  };
  cases.push_back(std::move(plain));

  // --- one day of bars into the database ---
  auto day = std::make_shared<DayCase>();
  lp::bench::Case one;
  one.name = "jquants: one day of 4000 bars alone (a daily sync), JSON received -> database";
  one.item = "bar";
  one.prepare = [day, setup] {
    day->scratch.root = scratch_root("jquants-day");
    day->db = (day->scratch.root / "db").string() + "/";
    const int year = std::stoi(setup.today.substr(0, 4));
    // The year of the market as a database, so each run appends to existing series files.
    fs::create_directories(day->db);
    fs::copy(lp::year_folder(setup.db_folder, year), lp::year_folder(day->db, year),
             fs::copy_options::recursive);
    prepare_bodies(*day, setup);
    day->writer = std::make_unique<lp::DayWriter>(day->db, "1001");
  };
  one.run = [day]() -> long long {
    if (day->bodies.empty() || day->next >= day->bodies.size()) return 0;
    const std::size_t i = day->next++;
    std::vector<lp::jquants::Bar> bars;
    std::string next, error;
    if (!lp::jquants::parse_bars_page(day->bodies[i], day->dates[i], bars, next, error)) {
      std::cerr << "jquants bench: " << error << "\n";
      return 0;
    }
    const auto stock_bars = to_stock_bars(bars, day->ids);
    if (!day->writer->commit_day(day->dates[i], stock_bars, error)) {
      std::cerr << "jquants bench: " << error << "\n";
      return 0;
    }
    return static_cast<long long>(stock_bars.size());
  };
  // The JSON bodies stay for the next case; the database copy goes now.
  one.finish = [day] {
    day->writer.reset();
    std::error_code ec;
    fs::remove_all(day->scratch.root, ec);
    day->scratch.root.clear();
  };
  cases.push_back(std::move(one));

  lp::bench::Case parse;
  parse.name = "jquants: one day of 4000 bars, JSON -> rows only (no disk)";
  parse.item = "bar";
  parse.run = [day]() -> long long {
    if (day->bodies.empty()) return 0;
    std::vector<lp::jquants::Bar> bars;
    std::string next, error;
    lp::jquants::parse_bars_page(day->bodies[0], day->dates[0], bars, next, error);
    return static_cast<long long>(to_stock_bars(bars, day->ids).size());
  };

  cases.push_back(std::move(parse));

  // --- a backfill's days into the database: queued and committed in batches ---
  auto batch_db = std::make_shared<Scratch>();
  auto batch_next = std::make_shared<std::size_t>(40);
  lp::bench::Case batched;
  batched.name = "jquants: days of a backfill, JSON received -> database in batches, per day";
  batched.target = "<= 0.05 s per day";
  batched.item = "trading day";
  batched.runs = 1;
  batched.prepare = [day, batch_db, setup] {
    prepare_bodies(*day, setup);
    batch_db->root = scratch_root("jquants-batch");
    const int year = std::stoi(setup.today.substr(0, 4));
    fs::create_directories(batch_db->root / "db");
    fs::copy(lp::year_folder(setup.db_folder, year),
             lp::year_folder((batch_db->root / "db").string() + "/", year),
             fs::copy_options::recursive);
  };
  // The days follow the stored ones, so every batch appends to the series files as a backfill
  // does; the writer's own limits decide the batches.
  batched.run = [day, batch_db, batch_next]() -> long long {
    lp::DayWriter writer((batch_db->root / "db").string() + "/", "1001");
    std::string error;
    long long days = 0;
    for (int k = 0; k < kBatchDays && *batch_next < day->bodies.size(); ++k) {
      const std::size_t i = (*batch_next)++;
      std::vector<lp::jquants::Bar> bars;
      std::string next;
      if (!lp::jquants::parse_bars_page(day->bodies[i], day->dates[i], bars, next, error) ||
          !writer.add_day({day->dates[i], to_stock_bars(bars, day->ids), std::nullopt, {}}, error)) {
        std::cerr << "jquants bench: " << error << "\n";
        return 0;
      }
      ++days;
    }
    if (!writer.flush(error)) {
      std::cerr << "jquants bench: " << error << "\n";
      return 0;
    }
    return days;
  };
  batched.judge = [](const lp::bench::Result& self, const std::vector<lp::bench::Result>&) {
    if (self.items <= 0) return std::string();
    return lp::bench::yes_no(self.median_seconds / static_cast<double>(self.items) <= 0.05);
  };
  batched.finish = [batch_db] {
    std::error_code ec;
    fs::remove_all(batch_db->root, ec);
    batch_db->root.clear();
  };
  cases.push_back(std::move(batched));

  // --- a backfill from the test server over HTTP ---
  auto fill = std::make_shared<Scratch>();
  auto port = std::make_shared<int>(0);
  lp::bench::Case backfill;
  backfill.name = "jquants: two-year backfill from the local test server, unpaced";
  backfill.target = "<= 60 s";
  backfill.runs = 1;
  backfill.item = "trading day";
  backfill.prepare = [fill, port, setup] { start_server(fill, port, setup); };
  backfill.run = [fill, port, setup]() -> long long {
    if (fill->server < 0) return 0;
    lp::jquants::SyncOptions o;
    o.base = "http://127.0.0.1:" + std::to_string(*port) + "/v2";
    o.api_key = "bench";
    o.db_folder = (fill->root / "db").string() + "/";
    o.today = setup.today;
    o.to = setup.today;  // the default start: two years back on an empty database
    o.plan = lp::jquants::Plan::unpaced;
    lp::jquants::SyncServices s;
    s.http = lp::curl_http_get;
    const auto r = lp::jquants::run_sync(o, s);
    if (!r.ok()) std::cerr << "jquants bench: " << r.message << "\n";
    return r.days_written;
  };
  backfill.finish = [fill] {
    std::error_code ec;
    fs::remove_all(fill->root / "db", ec);
  };
  cases.push_back(std::move(backfill));

  // --- the same backfill paced for the Light plan: how much of it is the sync's own work ---
  // The waits between requests are counted, not slept; the time spent in HTTP requests is the
  // server's. What remains (JSON, conversion, files) is the sync's own work.
  auto share = std::make_shared<double>(-1);
  lp::bench::Case paced;
  paced.name = "jquants: two-year backfill paced for the Light plan, the sync's own work share";
  paced.target = "<= 10 % of the paced time";
  paced.runs = 1;
  paced.item = "trading day";
  paced.prepare = [fill, port, setup] { start_server(fill, port, setup); };
  paced.run = [fill, port, setup, share]() -> long long {
    if (fill->server < 0) return 0;
    std::error_code ec;
    fs::remove_all(fill->root / "db", ec);
    lp::jquants::SyncOptions o;
    o.base = "http://127.0.0.1:" + std::to_string(*port) + "/v2";
    o.api_key = "bench";
    o.db_folder = (fill->root / "db").string() + "/";
    o.today = setup.today;
    o.to = setup.today;
    o.plan = lp::jquants::Plan::light;
    auto clock = [] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
    };
    double waited = 0, in_http = 0;
    lp::jquants::SyncServices s;
    s.http = [&](const lp::HttpRequest& r) {
      const double t0 = clock();
      lp::HttpResponse resp = lp::curl_http_get(r);
      in_http += clock() - t0;
      return resp;
    };
    s.sleep = [&](double seconds) { waited += seconds; };
    s.now = [&] { return clock() + waited; };
    const double t0 = clock();
    const auto r = lp::jquants::run_sync(o, s);
    const double wall = clock() - t0;
    if (!r.ok()) {
      std::cerr << "jquants bench: " << r.message << "\n";
      return 0;
    }
    const double own = wall - in_http;
    *share = own / (wall + waited);
    std::fprintf(stderr,
                 "jquants bench: paced Light backfill: %d days, %ld requests, own work %.1f s, "
                 "server %.1f s, waits %.1f s, own share %.1f %%\n",
                 r.days_written, r.requests, own, in_http, waited, 100 * *share);
    return r.days_written;
  };
  paced.judge = [share](const lp::bench::Result&, const std::vector<lp::bench::Result>&) {
    return *share < 0 ? std::string() : lp::bench::yes_no(*share <= 0.10);
  };
  paced.finish = [fill] {
    if (fill->server > 0) {
      ::kill(fill->server, SIGTERM);
      ::waitpid(fill->server, nullptr, 0);
      fill->server = -1;
    }
    std::error_code ec;
    fs::remove_all(fill->root, ec);
  };
  cases.push_back(std::move(paced));

  // --- CSV import ---
  auto csv = std::make_shared<Scratch>();
  auto files = std::make_shared<std::vector<std::string>>();
  lp::bench::Case import;
  import.name = "csv import: 4000 files x 750 rows into an empty database";
  import.target = "<= 30 s";
  import.runs = 1;
  import.item = "file";
  import.prepare = [ csv, files ] { csv->root = scratch_root("csv-import");
  fs::create_directories(csv->root / "in");
  const std::vector<int> days = lp::sample::trading_days(2022, 20241231);
  const std::size_t first = days.size() > 750 ? days.size() - 750 : 0;
  std::string text;
  for (int k = 0; k < 4000; ++k) {
    const std::string code = std::to_string(1300 + k * 2);
    text = "Date,Open,High,Low,Close,Adj Close,Volume\n";
    double price = 500 + (k * 37) % 3000;
    for (std::size_t i = first; i < days.size(); ++i) {
      const std::string d = std::to_string(days[i]);
      price = std::max(
          10.0,
          price * (1 + (static_cast<int>((i * 7 + static_cast<std::size_t>(k)) % 11) - 5) / 500.0));
      const long p = static_cast<long>(price);
      text += d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + "," +
              std::to_string(p) + "," + std::to_string(p + 5) + "," + std::to_string(p - 5) + "," +
              std::to_string(p + 1) + "," + std::to_string(p + 1) + "," +
              std::to_string(1000 + (i % 97) * 100) + "\n";
    }
    const std::string path = (csv->root / "in" / (code + ".T.csv")).string();
    lp::write_file_atomic(path, text);
    files->push_back(path);
  }
};
import.run = [ csv, files ]()->long long { lp::CsvImportReport report;
std::string error;
if (!lp::import_price_csv((csv->root / "db").string() + "/", "1001", *files, {}, report, error)) {
  std::cerr << "csv bench: " << error << "\n";
  return 0;
}
return report.files_used;
};  // namespace
import.finish = [csv] { std::error_code ec;
fs::remove_all(csv->root, ec);
}
;
cases.push_back(std::move(import));
}

LP_BENCH(add_cases);

}  // namespace
