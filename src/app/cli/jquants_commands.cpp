// jquants-sync: fills or updates the price database from J-Quants API V2. Progress goes to
// standard error, the outcome to standard output as key=value lines.
#include <cstdlib>
#include <iostream>

#include "app/cli/cli.h"
#include "common/http_curl.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_key.h"
#include "pricedb/jquants_sync.h"
#include "shell/startup.h"

namespace lp::cli {

namespace {

constexpr const char* kSyncUsage =
    "jquants-sync [--from YYYYMMDD] [--to YYYYMMDD] [--plan P] [--base URL] [--no-fins] "
    "[--fins-only]";

int bad_usage(const std::string& message) {
  std::cerr << "lumenpick-cli: " << message << "\nusage: lumenpick-cli " << kSyncUsage << "\n";
  return 2;
}

int cmd_jquants_sync(Context& ctx) {
  jquants::SyncOptions opt;
  std::string plan = "free";
  ctx.take_option("--from", opt.from);
  ctx.take_option("--to", opt.to);
  ctx.take_option("--plan", plan);
  opt.fins = !ctx.take_flag("--no-fins");
  opt.fins_only = ctx.take_flag("--fins-only");
  if (opt.fins_only && !opt.fins) return bad_usage("--fins-only and --no-fins exclude each other");
  if (ctx.take_option("--base", opt.base)) {
    while (!opt.base.empty() && opt.base.back() == '/') opt.base.pop_back();
  }
  if (!ctx.args.empty()) return bad_usage("unexpected argument: " + ctx.args.front());
  if (!jquants::parse_plan(plan, opt.plan)) {
    return bad_usage("--plan wants free, light, standard, premium or none, got " + plan);
  }
  for (const std::string* d : {&opt.from, &opt.to}) {
    if (!d->empty() &&
        (d->size() != 8 || d->find_first_not_of("0123456789") != std::string::npos)) {
      return bad_usage("--from/--to want YYYYMMDD, got " + *d);
    }
  }
  if (opt.base.rfind("http://", 0) != 0 && opt.base.rfind("https://", 0) != 0) {
    return bad_usage("--base wants an http:// or https:// address");
  }
  const char* home = std::getenv("HOME");
  const jquants::KeyLookup key =
      jquants::find_api_key([](const char* n) { return std::getenv(n); }, home ? home : "");
  if (key.key.empty()) {
    return fail(!key.error.empty()
                    ? key.error
                    : "no J-Quants API key: set JQUANTS_API_KEY or write it to " +
                          jquants::key_file_path(home ? home : "~") + " (mode 0600)");
  }
  opt.api_key = key.key;
  prepare_product_folders(ctx.platform.documents_folder, ctx.platform.install_folder);
  const AppFolders folders = ctx.folders();
  opt.db_folder = folders.db_folder;
  opt.reference_code = folders.reference_code;
  opt.today = ctx.platform.today();

  jquants::SyncServices svc;
  svc.http = curl_http_get;
  svc.progress = [](const jquants::SyncProgress& p) { std::cerr << p.text << "\n"; };
  const jquants::SyncResult r = jquants::run_sync(opt, svc);
  std::cout << "from=" << r.from << "\nto=" << r.to << "\ntrading_days=" << r.trading_days
            << "\nalready_present=" << r.already_present << "\ndays_written=" << r.days_written
            << "\nbars_written=" << r.bars_written << "\nrequests=" << r.requests
            << "\nretries=" << r.retries << "\ncodes_skipped=" << r.codes_skipped
            << "\nnames_replaced=" << r.names_replaced << "\nindex=" << r.index
            << "\ndisclosures=" << r.disclosures << "\n";
  std::string latest;
  if (read_latest_date(folders.db_folder, folders.reference_code, std::stoi(opt.today.substr(0, 4)),
                       1983, latest)) {
    std::cout << "latest=" << latest << "\n";
  }
  return r.ok() ? 0 : fail(r.message);
}

}  // namespace

LP_CLI_COMMAND(
    "jquants-sync", kSyncUsage,
    "fills or brings up to date the price database from J-Quants API V2 (key from "
    "JQUANTS_API_KEY or ~/.config/lumenpick/jquants.key); P is free (default), light, "
    "standard, premium, or none for a local test server; results summaries are fetched for "
    "every day synced (--no-fins skips them; --fins-only fetches them alone for the days the "
    "database holds, within --from/--to or the plan's window); exit 1 on failure, 2 on bad "
    "usage",
    cmd_jquants_sync);

}  // namespace lp::cli
