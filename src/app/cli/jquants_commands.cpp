// jquants-sync: fills or updates the price database from J-Quants API V2. Progress goes to
// standard error, the outcome to standard output as key=value lines.
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <iostream>

#include "app/cli/cli.h"
#include "app/cli/watch_hook.h"
#include "common/http_curl.h"
#include "common/shared_settings.h"
#include "pricedb/db_lock.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_json.h"
#include "pricedb/jquants_key.h"
#include "pricedb/jquants_sync.h"
#include "shell/keyring_gui.h"
#include "shell/startup.h"

namespace lp::cli {

namespace {

constexpr const char* kSyncUsage =
    "jquants-sync [--from YYYYMMDD] [--to YYYYMMDD] [--plan P] [--base URL] [--max-wait SECONDS] "
    "[--history-days N] [--no-fins] [--fins-only]";

int bad_usage(const std::string& message) {
  std::cerr << "lumenpick-cli: " << message << "\n使い方: lumenpick-cli " << kSyncUsage << "\n";
  return 2;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : ",") + p;
  return out;
}

// Progress lines on standard error. A rate-limit wait counts down in place on a terminal; in
// a log it shows every ten seconds.
class ProgressPrinter {
 public:
  ProgressPrinter() : tty_(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressPrinter() { end_line(); }
  void operator()(const jquants::SyncProgress& p) {
    last_ = p.text;
    if (p.wait_left > 0) {
      const long whole = std::lround(std::ceil(p.wait_left));
      if (tty_) {
        std::cerr << "\r" << p.text << "   " << std::flush;
        open_ = true;
      } else if (!waiting_ || whole % 10 == 0) {
        std::cerr << p.text << "\n";
      }
      waiting_ = true;
      return;
    }
    waiting_ = false;
    end_line();
    std::cerr << p.text << "\n";
  }
  const std::string& last() const { return last_; }

 private:
  void end_line() {
    if (open_) std::cerr << "\n";
    open_ = false;
  }
  bool tty_;
  bool open_ = false;
  bool waiting_ = false;
  std::string last_;
};

}  // namespace

ConnectionChoice connection_choice(const std::string& app_folder) {
  ConnectionChoice c;
  const SharedSettings shared = read_shared_settings(app_folder);
  const jquants::ConnectionSettings settings = jquants::read_connection_settings(
      app_folder, [](const char* n) { return std::getenv(n); });
  const char* env_base = std::getenv(jquants::kBaseEnvironmentVariable);
  c.plan = shared.plan.empty() ? "free" : shared.plan;
  c.plan_from = shared.plan.empty() ? "既定値" : app_folder + kSharedSettingsFile;
  if (env_base && *env_base) {
    c.base = settings.base;
    c.base_from = std::string("環境変数 ") + jquants::kBaseEnvironmentVariable;
  } else if (!shared.base.empty() && !jquants::clean_base(shared.base).empty()) {
    c.base = jquants::clean_base(shared.base);
    c.base_from = app_folder + kSharedSettingsFile;
  } else {
    c.base = settings.base;
    c.base_from = settings.base == jquants::kDefaultBase ? "既定値" : app_folder + "settei.txt";
  }
  c.error = settings.error;
  c.host = shared.host.empty() ? "maker" : shared.host;
  c.host_from = shared.host.empty() ? "既定値" : app_folder + kSharedSettingsFile;
  return c;
}

namespace {

int cmd_jquants_sync(Context& ctx) {
  jquants::SyncOptions opt;
  std::string plan, base, max_wait;
  ctx.take_option("--from", opt.from);
  ctx.take_option("--to", opt.to);
  const bool plan_given = ctx.take_option("--plan", plan);
  opt.fins = !ctx.take_flag("--no-fins");
  opt.fins_only = ctx.take_flag("--fins-only");
  if (opt.fins_only && !opt.fins) return bad_usage("--fins-only と --no-fins は一緒に使えません");
  int history_days = 20;
  if (std::string e; !take_history_days(ctx, history_days, e)) return bad_usage(e);
  ctx.take_option("--base", base);
  const bool wait_given = ctx.take_option("--max-wait", max_wait);
  if (!ctx.args.empty()) return bad_usage("余分な引数があります: " + ctx.args.front());
  if (plan_given && !jquants::parse_plan(plan, opt.plan)) {
    return bad_usage("--plan は free, light, standard, premium, none のどれかです: " + plan);
  }
  for (const auto& [name, d] : {std::pair{"--from", &opt.from}, std::pair{"--to", &opt.to}}) {
    if (!d->empty() && jquants::normalize_date(*d) != *d) {
      return bad_usage(std::string(name) + " は実在する日付 YYYYMMDD にしてください: " + *d);
    }
  }
  if (!opt.from.empty() && !opt.to.empty() && opt.from > opt.to) {
    return bad_usage("--from (" + opt.from + ") が --to (" + opt.to + ") より後です");
  }
  if (wait_given) {
    const bool digits = !max_wait.empty() && max_wait.size() <= 4 &&
                        max_wait.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(max_wait) > 3600) {
      return bad_usage("--max-wait は 0～3600 の秒数です: " + max_wait);
    }
  }
  if (!base.empty() && jquants::clean_base(base).empty()) {
    return bad_usage("--base は http:// か https:// のアドレスです: " + base);
  }
  const char* home = std::getenv("HOME");
  std::string key_source, key_error;
  opt.api_key = gui::find_api_key_everywhere(key_source, key_error);
  if (opt.api_key.empty()) {
    return fail(!key_error.empty()
                    ? key_error
                    : "J-Quants のAPIキーがありません: JQUANTS_API_KEY を設定するか、" +
                          jquants::key_file_path(home ? home : "~") +
                          " に書くか (モード 0600)、画面の「APIキー設定」でキーリングに"
                          "保存してください");
  }
  prepare_product_folders(ctx.platform.documents_folder, ctx.platform.install_folder);
  const AppFolders folders = ctx.folders();
  const ConnectionChoice chosen = connection_choice(folders.app_folder);
  if (!chosen.error.empty() && base.empty()) return fail(chosen.error);
  // The window's plan when none is given (the Free plan's window would fetch nothing new).
  if (!plan_given) jquants::parse_plan(chosen.plan, opt.plan);
  // Results turned off in the settings: prices only, unless they are asked for by name.
  if (read_shared_settings(folders.app_folder).fins == "off" && !opt.fins_only) opt.fins = false;
  opt.base = base.empty() ? chosen.base : jquants::clean_base(base);
  const jquants::ConnectionSettings settings = jquants::read_connection_settings(
      folders.app_folder, [](const char* n) { return std::getenv(n); });
  opt.max_wait_s = wait_given ? std::stoi(max_wait) : settings.max_wait_s;
  opt.db_folder = folders.db_folder;
  opt.reference_code = folders.reference_code;
  opt.today = ctx.platform.today();
  opt.lock_timeout = database_lock_timeout([](const char* n) { return std::getenv(n); });

  const WatchSnapshot watch_before = watch_snapshot(ctx, history_days);
  jquants::SyncServices svc;
  svc.http = curl_http_get;
  ProgressPrinter printer;
  svc.progress = [&printer](const jquants::SyncProgress& p) { printer(p); };
  const jquants::SyncResult r = jquants::run_sync(opt, svc);
  for (const std::string& w : r.warnings) std::cerr << w << "\n";
  if (r.ok() && r.message != printer.last()) {
    jquants::SyncProgress closing;
    closing.text = r.message;
    printer(closing);
  }
  std::cout << "from=" << r.from << "\nto=" << r.to << "\ntrading_days=" << r.trading_days
            << "\nalready_present=" << r.already_present << "\ndays_written=" << r.days_written
            << "\nbars_written=" << r.bars_written << "\nrequests=" << r.requests
            << "\nretries=" << r.retries << "\ncodes_skipped=" << r.codes_skipped
            << "\nnames_replaced=" << r.names_replaced << "\nindex=" << r.index
            << "\nidle_corrections=" << r.idle_corrections
            << "\nnot_covered=" << joined(r.not_covered) << "\nunpublished=" << r.unpublished
            << "\ndisclosures=" << r.disclosures << "\nfins_days=" << r.fins_days
            << "\nfins_from=" << r.fins_from << "\nfins_to=" << r.fins_to
            << "\nfins=" << (!opt.fins                ? "off"
                             : r.fins_skipped          ? "not_in_plan"
                             : !r.fins_error.empty()   ? "failed"
                                                       : "ok")
            << "\n";
  std::string latest;
  if (read_latest_date(folders.db_folder, folders.reference_code, std::stoi(opt.today.substr(0, 4)),
                       1983, latest)) {
    std::cout << "latest=" << latest << "\n";
  }
  std::cout.flush();
  const int rc = jquants::exit_code(r);
  if (rc != 0 && rc != jquants::kExitPricesOnly) {
    fail(r.message);
    return rc;
  }
  // Prices synced without the results: said on standard error, and the screens still run.
  if (rc == jquants::kExitPricesOnly) std::cerr << "lumenpick-cli: " << r.message << "\n";
  watch_after_update(ctx, watch_before);
  return rc;
}

constexpr const char* kSettingsUsage =
    "settings [--plan P] [--base URL] [--host H] [--fins on|off]";

int cmd_settings(Context& ctx) {
  std::string value;
  std::vector<std::pair<std::string, std::string>> sets;
  for (const char* key : {"plan", "base", "host", "fins"}) {
    if (ctx.take_option(std::string("--") + key, value)) sets.emplace_back(key, value);
  }
  if (!ctx.args.empty()) {
    std::cerr << "lumenpick-cli: 余分な引数があります: " << ctx.args.front()
              << "\n使い方: lumenpick-cli " << kSettingsUsage << "\n";
    return 2;
  }
  if (!sets.empty()) {
    prepare_product_folders(ctx.platform.documents_folder, ctx.platform.install_folder);
  }
  const AppFolders folders = ctx.folders();
  std::cout << "db_folder=" << folders.db_folder << "\nuser_folder=" << folders.user_folder
            << "\nreference_code=" << folders.reference_code << "\ndb_url=" << folders.db_url
            << "\nhp_url=" << folders.hp_url << "\napp_folder=" << folders.app_folder
            << "\ndocuments_folder=" << ctx.platform.documents_folder
            << "\ndesktop_folder=" << ctx.platform.desktop_folder << "\n";
  for (const auto& [key, v] : sets) {
    std::string error;
    if (!write_shared_setting(folders.app_folder, key, v, error)) {
      std::cerr << "lumenpick-cli: " << error << "\n";
      return 2;
    }
  }
  const ConnectionChoice c = connection_choice(folders.app_folder);
  std::string source, error;
  const bool has_key = !gui::find_api_key_everywhere(source, error).empty();
  std::cout << "plan=" << c.plan << "\nplan_from=" << c.plan_from << "\nbase=" << c.base
            << "\nbase_from=" << c.base_from << "\nhost=" << c.host << "\nhost_from=" << c.host_from
            << "\nfins=" << (read_shared_settings(folders.app_folder).fins == "off" ? "off" : "on")
            << "\nkey=" << (has_key ? "set" : "none") << "\nkey_from=" << source
            << "\nkey_problem=" << error << "\n";
  return 0;
}

}  // namespace

LP_CLI_COMMAND("settings", kSettingsUsage,
               "the resolved folders and addresses, name=value; then the J-Quants plan, address, "
               "download host and API key (only whether it is set) that jquants-sync, daily and the timer use when no option is given, each "
               "with where it comes from (the window's choice in connection.txt, the environment, "
               "settei.txt, the key file or the keyring); --plan, --base, --host and --fins (off: the "
               "syncs fetch no results summaries) set them",
               cmd_settings);

LP_CLI_COMMAND(
    "jquants-sync", kSyncUsage,
    "fills or brings up to date the price database from J-Quants API V2 (key from "
    "JQUANTS_API_KEY or ~/.config/lumenpick/jquants.key); P is free (default), light, "
    "standard, premium, or none for a local test server; the range is kept to the plan's "
    "window; URL defaults to settei.txt's J-Quants_URL or $LUMENPICK_JQUANTS_BASE; --max-wait "
    "caps the wait for a rate-limit lockout (default 360 s); results summaries are fetched "
    "after the prices by disclosure date, from the newest fetched less two days (--no-fins "
    "skips them; --fins-only fetches them alone for the days the "
    "database holds within --from/--to, or with no dates the plan's whole window); exit 0 when "
    "everything the plan serves is synced, 3 when the prices were synced but the results not, "
    "1 on failure, 2 on bad usage, 75 when another update held the database for 10 minutes",
    cmd_jquants_sync);

}  // namespace lp::cli
