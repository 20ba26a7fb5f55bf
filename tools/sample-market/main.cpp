// lumenpick-sample-market: writes a deterministic synthetic market as the server's packed files,
// as a ready database folder, or both.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sample-market/sample_market.h"

namespace {

void usage() {
  std::fprintf(
      stderr,
      "usage: lumenpick-sample-market [--codes N] [--end YYYYMMDD] [--years N] "
      "[--seed N] [--packed DIR] [--database DIR] [--fins DBDIR]\n"
      "  --packed DIR    writes DIR/html/kabuka_db/<yyyy>/data_mhg|data_dg|data_mg/\n"
      "  --database DIR  writes a ready database DIR/<yyyy>/data_d|data_m|data_mh/ and fins/\n"
      "  --fins DBDIR    writes only the results summaries DBDIR/fins/<code>.csv\n");
}

bool to_int(std::string_view text, long long low, long long high, long long& out) {
  if (text.empty() || text.size() > 12) return false;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < low || v > high) return false;
  out = v;
  return true;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "lumenpick-sample-market: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  lp::sample::Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    }
    if (i + 1 >= argc) {
      usage();
      return fail("missing value or unknown option: " + std::string(arg));
    }
    const std::string_view value = argv[++i];
    long long n = 0;
    if (arg == "--codes") {
      if (!to_int(value, 2, 5000, n)) return fail("--codes takes 2 to 5000");
      opt.codes = static_cast<int>(n);
    } else if (arg == "--years") {
      if (!to_int(value, 1, 50, n)) return fail("--years takes 1 to 50");
      opt.years = static_cast<int>(n);
    } else if (arg == "--seed") {
      if (!to_int(value, 0, 4294967295LL, n)) return fail("--seed takes 0 to 4294967295");
      opt.seed = static_cast<unsigned>(n);
    } else if (arg == "--end") {
      opt.end_date = std::string(value);
    } else if (arg == "--packed") {
      opt.packed_root = std::string(value);
    } else if (arg == "--database") {
      opt.db_folder = std::string(value);
    } else if (arg == "--fins") {
      opt.fins_db = std::string(value);
    } else {
      usage();
      return fail("unknown option: " + std::string(arg));
    }
  }
  if (opt.packed_root.empty() && opt.db_folder.empty() && opt.fins_db.empty()) {
    usage();
    return fail("give --packed DIR, --database DIR, --fins DBDIR or several");
  }

  const auto start = std::chrono::steady_clock::now();
  lp::sample::Summary summary;
  std::string error;
  if (!lp::sample::generate(opt, error, summary)) return fail(error);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "codes=%zu years=%d..%s trading_days=%d listed_inside=%zu delisted_inside=%zu "
      "splits=%zu illiquid=%zu disclosures=%lld\nfiles=%lld bytes=%lld seconds=%.2f\n",
      summary.codes.size(), summary.first_year, summary.end_date.c_str(), summary.trading_days,
      summary.listed_inside.size(), summary.delisted_inside.size(), summary.split.size(),
      summary.illiquid.size(), summary.disclosures, summary.files_written, summary.bytes_written,
      seconds);
  return 0;
}
