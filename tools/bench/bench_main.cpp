// lumenpick-bench: generates the sample market once into a cache folder, runs every registered
// case (median of several warm runs) and prints one Markdown table.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "bench/bench.h"
#include "common/csv.h"
#include "common/parallel.h"
#include "common/settings.h"
#include "sample-market/sample_market.h"

namespace lp::bench {

std::vector<Case>& cases() {
  static std::vector<Case> all;
  return all;
}

std::vector<std::function<void(const Setup&, std::vector<Case>&)>>& adders() {
  static std::vector<std::function<void(const Setup&, std::vector<Case>&)>> all;
  return all;
}

Registrar::Registrar(std::function<void(const Setup&, std::vector<Case>&)> add) {
  adders().push_back(std::move(add));
}

const Result* find_result(const std::vector<Result>& all, const std::string& name) {
  for (const Result& r : all) {
    if (r.name == name) return &r;
  }
  return nullptr;
}

std::string yes_no(bool met) {
  return met ? "yes" : "no";
}

}  // namespace lp::bench

namespace {

namespace fs = std::filesystem;
using lp::bench::Case;
using lp::bench::Result;
using lp::bench::Setup;

// The sample market's end date: fixed, so the cache and the figures stay comparable.
constexpr const char* kDefaultEnd = "20250613";
// Bumped whenever the generator's output changes, so an old cache is not reused.
constexpr int kCacheVersion = 3;  // 2: with results summaries; 3: varied ones and sectors

struct Args {
  int codes = 4000;
  int years = 3;
  int runs = 5;
  unsigned seed = 1;
  std::string end = kDefaultEnd;
  std::string cache;
  std::string filter;
  int threads = 0;  // 0: the machine's cores
};

void usage() {
  std::fprintf(stderr,
               "usage: lumenpick-bench [--codes N] [--years N] [--runs N] [--seed N] "
               "[--end YYYYMMDD] [--cache DIR] [--filter SUBSTRING] [--threads N]\n");
}

bool parse_int(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

bool parse_args(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    int n = 0;
    if (arg == "--codes" && parse_int(value, 2, 5000, n)) {
      a.codes = n;
    } else if (arg == "--years" && parse_int(value, 1, 20, n)) {
      a.years = n;
    } else if (arg == "--runs" && parse_int(value, 1, 1000, n)) {
      a.runs = n;
    } else if (arg == "--seed" && parse_int(value, 0, 1 << 30, n)) {
      a.seed = static_cast<unsigned>(n);
    } else if (arg == "--end") {
      a.end = value;
    } else if (arg == "--cache") {
      a.cache = value;
    } else if (arg == "--filter") {
      a.filter = value;
    } else if (arg == "--threads" && parse_int(value, 1, lp::kMaxWorkers, n)) {
      a.threads = n;
    } else {
      return false;
    }
  }
  return true;
}

fs::path program_folder() {
  std::error_code ec;
  const fs::path exe = fs::canonical("/proc/self/exe", ec);
  return ec ? fs::current_path() : exe.parent_path();
}

std::string cpu_model() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      const auto colon = line.find(':');
      if (colon != std::string::npos) {
        std::string model = line.substr(colon + 1);
        model.erase(0, model.find_first_not_of(' '));
        return model;
      }
    }
  }
  return "unknown CPU";
}

std::string format_seconds(double s) {
  char buf[32];
  if (s <= 0) return "0";
  if (s < 1e-3) {
    std::snprintf(buf, sizeof buf, "%.3g µs", s * 1e6);
  } else if (s < 1) {
    std::snprintf(buf, sizeof buf, "%.3g ms", s * 1e3);
  } else {
    std::snprintf(buf, sizeof buf, "%.3g s", s);
  }
  return buf;
}

// "<= 1 s", "< 20 s", "≤ 300 ms": the whole target one time limit. 0 when it is not that.
double simple_limit(std::string_view t) {
  auto trim = [&] {
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  };
  trim();
  if (t.starts_with("<=")) {
    t.remove_prefix(2);
  } else if (t.starts_with("\u2264")) {
    t.remove_prefix(std::string_view("\u2264").size());
  } else if (t.starts_with("<")) {
    t.remove_prefix(1);
  } else {
    return 0;
  }
  trim();
  char* end = nullptr;
  const std::string rest(t);
  const double v = std::strtod(rest.c_str(), &end);
  if (end == rest.c_str()) return 0;
  std::string_view unit(end);
  while (!unit.empty() && unit.front() == ' ') unit.remove_prefix(1);
  while (!unit.empty() && unit.back() == ' ') unit.remove_suffix(1);
  if (unit == "s") return v;
  if (unit == "ms") return v / 1e3;
  return 0;
}

// The cached market is reused only when it was made from the same parameters.
bool ensure_market(const Args& a, const fs::path& cache, Setup& setup) {
  const fs::path documents = cache / "documents";
  const lp::AppFolders folders =
      lp::read_settei_sub(documents.string(), (cache / "desktop").string());
  setup.market_dir = cache.string();
  setup.documents = documents.string();
  setup.db_folder = folders.db_folder;
  setup.packed_root = (cache / "packed").string();
  setup.codes = a.codes;
  setup.years = a.years;
  setup.seed = a.seed;
  setup.runs = a.runs;

  std::ostringstream stamp_text;
  stamp_text << "version=" << kCacheVersion << " codes=" << a.codes << " years=" << a.years
             << " seed=" << a.seed << " end=" << a.end << "\n";
  const fs::path stamp = cache / "stamp.txt";
  std::string old;
  lp::read_file_bytes(stamp, old);
  const int end = lp::sample::last_trading_day_on_or_before(a.end);
  if (end == 0) {
    std::cerr << "lumenpick-bench: not a valid end date: " << a.end << "\n";
    return false;
  }
  setup.today = std::to_string(end);
  if (old == stamp_text.str()) return true;

  std::error_code ec;
  fs::remove_all(documents, ec);
  fs::remove_all(cache / "packed", ec);
  fs::remove(stamp, ec);
  fs::create_directories(setup.db_folder, ec);
  std::cerr << "generating the sample market (" << a.codes << " codes, " << a.years
            << " years) into " << cache.string() << " ...\n";
  lp::sample::Options opt;
  opt.codes = a.codes;
  opt.years = a.years;
  opt.seed = a.seed;
  opt.end_date = a.end;
  opt.db_folder = setup.db_folder;
  opt.packed_root = setup.packed_root;
  std::string error;
  if (!lp::sample::generate(opt, error)) {
    std::cerr << "lumenpick-bench: " << error << "\n";
    return false;
  }
  return lp::write_file_atomic(stamp, stamp_text.str());
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!parse_args(argc, argv, args)) {
    usage();
    return 2;
  }
  const fs::path cache =
      args.cache.empty() ? program_folder().parent_path() / "bench-cache" : fs::path(args.cache);
  std::error_code ec;
  fs::create_directories(cache, ec);

  lp::set_worker_count(args.threads);
  Setup setup;
  if (!ensure_market(args, fs::absolute(cache), setup)) return 1;

  std::vector<Case>& all = lp::bench::cases();
  for (const auto& add : lp::bench::adders()) add(setup, all);

  std::vector<Result> results;
  std::vector<const Case*> measured;
  for (const Case& c : all) {
    if (!args.filter.empty() && c.name.find(args.filter) == std::string::npos) continue;
    if (c.prepare) c.prepare();
    const int runs = c.runs > 0 ? c.runs : setup.runs;
    long long items = 0;
    if (runs > 1) items = c.run();  // warm the page cache and the allocator
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      items = c.run();
      times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    if (c.finish) c.finish();
    results.push_back({c.name, median(times), items, runs});
    measured.push_back(&c);
    std::cerr << c.name << ": " << format_seconds(results.back().median_seconds) << "\n";
  }

  std::printf("Machine: %u logical CPUs, %s; %d worker threads\n",
              std::thread::hardware_concurrency(), cpu_model().c_str(), lp::worker_count());
  std::printf("Sample market: %d codes, %d years ending %s (seed %u); median of %d warm runs\n\n",
              setup.codes, setup.years, setup.today.c_str(), setup.seed, setup.runs);
  std::printf("| case | median | per item | target | met? |\n|---|---|---|---|---|\n");
  for (std::size_t i = 0; i < results.size(); ++i) {
    const Result& r = results[i];
    const Case& c = *measured[i];
    std::string per_item = "";
    // A case without an item measures something other than time: its judge says what.
    const std::string median = c.item.empty() ? "-" : format_seconds(r.median_seconds);
    if (r.items > 0 && !c.item.empty()) {
      per_item = format_seconds(r.median_seconds / static_cast<double>(r.items)) + " per " +
                 c.item + " (" + std::to_string(r.items) + ")";
    }
    std::string met;
    if (c.judge) {
      met = c.judge(r, results);
    } else if (const double limit = simple_limit(c.target); limit > 0 && r.items > 0) {
      // No items: the case did nothing measurable (a missing program, a failed setup).
      met = lp::bench::yes_no(r.median_seconds <= limit);
    }
    std::string name = c.name;
    if (r.runs == 1) name += " (1 run)";
    std::printf("| %s | %s | %s | %s | %s |\n", name.c_str(), median.c_str(), per_item.c_str(),
                c.target.c_str(), met.c_str());
  }
  std::fflush(stdout);
  // The cases' shared state (scratch folders, child processes) goes now, in a known order,
  // rather than among the static destructors.
  all.clear();
  return 0;
}
