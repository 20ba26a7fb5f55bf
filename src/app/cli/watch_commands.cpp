// The daily loop on the command line: watched screens (watch), what changed (alerts), the day's
// report (report), everything at once (daily) and its timer (schedule).
#include <QCoreApplication>
#include <QDBusConnection>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "app/cli/cli.h"
#include "app/cli/screen_options.h"
#include "app/cli/watch_hook.h"
#include "common/keyvalue.h"
#include "common/numbers.h"
#include "common/shared_settings.h"
#include "pricedb/db_lock.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_sync.h"
#include "pricedb/jquants_key.h"
#include "portfolio/portfolio_model.h"
#include "screening/saved_screens.h"
#include "shell/keyring_gui.h"
#include "shell/startup.h"
#include "watch/notify_gui.h"
#include "watch/report_painter.h"
#include "watch/run_record.h"
#include "watch/watch_daily.h"
#include "watch/watch_schedule.h"

namespace lp::cli {

namespace {

constexpr int kUsageError = 2;
bool g_inside_daily = false;

int usage_error(const std::string& message, const char* usage) {
  std::cerr << "lumenpick-cli: " << message << "\nusage: lumenpick-cli " << usage << "\n";
  return kUsageError;
}

std::string self_path() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe", ec);
  return ec ? std::string("lumenpick-cli") : exe.string();
}

// The desktop's own opener: the command line's Qt runs offscreen and has no desktop services.
bool open_in_browser(const std::string& path) {
  return QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(path)});
}

// The notification of a run; a click opens the report. The click reaches a small waiting
// process of ours (this program's "notify-wait"), since a run from the timer ends at once.
bool notify(const std::string& title, const std::string& body, const std::string& report) {
  watch::ensure_gui_application();
  const unsigned id =
      watch::send_notification(QString::fromStdString(title), QString::fromStdString(body),
                               report.empty() ? QString() : QStringLiteral("レポートを開く"));
  if (id == 0) return false;
  if (!report.empty()) {
    QProcess::startDetached(
        QString::fromStdString(self_path()),
        {QStringLiteral("notify-wait"), QString::number(id), QString::fromStdString(report)});
  }
  return true;
}

// systemctl's answer on one line.
std::string one_line(const std::string& text) {
  std::string out;
  for (char c : text) out += (c == '\n' || c == '\r') ? ' ' : c;
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

watch::AfterUpdateRequest after_update_request(Context& ctx, std::vector<std::string> days) {
  watch::AfterUpdateRequest req;
  req.platform = ctx.platform;
  req.days = std::move(days);
  req.charts = [](const AppFolders& folders, std::shared_ptr<const MarketStore> store) {
    watch::ensure_gui_application();
    return watch::report_chart_picture(folders, std::move(store));
  };
  req.notify = notify;
  req.status = [](const std::string& text) { std::cerr << text << "\n"; };
  return req;
}

void print_outcome(Context& ctx, const watch::AfterUpdateResult& r) {
  for (const std::string& w : r.run.warnings) std::cerr << "lumenpick-cli: 警告: " << w << "\n";
  for (const std::string& line : watch::outcome_lines(ctx.folders().user_folder, r))
    std::cerr << "監視: " << line << "\n";
  if (!r.report_path.empty()) std::cerr << "レポート: " << r.report_path << "\n";
  if (!r.report_error.empty()) std::cerr << "lumenpick-cli: " << r.report_error << "\n";
  if (r.notified) std::cerr << "通知: 新規 " << r.run.entered_count() << " 銘柄\n";
}

}  // namespace

bool take_history_days(Context& ctx, int& days, std::string& error) {
  std::string text;
  if (!ctx.take_option("--history-days", text)) return true;
  const long long n = text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos
                          ? parse_integer(text)
                          : 0;
  if (n < 1) {
    error = "--history-days は 1～9999 の日数で指定してください: " + text;
    return false;
  }
  days = static_cast<int>(n);
  return true;
}

WatchSnapshot watch_snapshot(Context& ctx, int history_days) {
  WatchSnapshot s;
  s.history_days = history_days;
  const AppFolders folders = ctx.folders();
  if (!watch::watched_screens(folders.user_folder).empty()) s.dates = watch::trading_dates(folders);
  return s;
}

void watch_after_update(Context& ctx, const WatchSnapshot& before) {
  if (g_inside_daily) return;
  const AppFolders folders = ctx.folders();
  if (watch::watched_screens(folders.user_folder).empty()) return;
  const std::vector<std::string> days =
      watch::added_days(before.dates, watch::trading_dates(folders), before.history_days);
  if (days.empty()) return;
  print_outcome(ctx, watch::after_update(after_update_request(ctx, days)));
}

namespace {

// --- watch ---------------------------------------------------------------------------------

// The database's newest trading day: a history block after it is no day that ran.
std::string newest_date(Context& ctx) {
  const std::vector<std::string> dates = watch::trading_dates(ctx.folders());
  return dates.empty() ? std::string() : dates.back();
}

// A universe in one CSV field: its codes separated by blanks.
std::string universe_words(std::string text) {
  std::replace(text.begin(), text.end(), ',', ' ');
  return text;
}

constexpr const char* kWatchUsage = "watch [NAME on|off] [--universe ptf1|CODES|all]";

int cmd_watch(Context& ctx) {
  std::string universe;
  const bool has_universe = ctx.take_option("--universe", universe);
  const std::string user = ctx.folders().user_folder;
  if (ctx.args.empty()) {
    if (has_universe)
      return usage_error("--universe belongs to a screen: watch NAME on|off", kWatchUsage);
    const auto screens = watch::watched_screens(user);
    if (screens.empty()) {
      std::cout << "監視中の保存条件はありません。\n";
      return 0;
    }
    const std::vector<watch::Problem> problems = watch::read_problems(user);
    std::cout << "監視条件,日付,該当,新規,対象\n";
    for (const auto& ws : screens) {
      const std::vector<watch::Block> h = watch::read_history(user, ws.name, newest_date(ctx));
      std::string date = "-", hits = "-", entered = "-";
      if (!h.empty()) {
        date = h.back().date;
        hits = std::to_string(h.back().hits.size());
        entered = std::to_string(
            watch::compare_day(h, h.back().date, watch::day_file_trades(ctx.folders().db_folder))
                .entered.size());
      }
      std::cout << ws.name << "," << date << "," << hits << "," << entered << ","
                << (ws.marks.universe.empty() ? std::string("全銘柄")
                                              : universe_words(ws.marks.universe))
                << "\n";
      for (const auto& p : problems) {
        if (p.screen == ws.name) std::cout << "エラー," << p.date << "," << p.reason << "\n";
      }
    }
    return 0;
  }
  if (ctx.args.size() != 2 || (ctx.args[1] != "on" && ctx.args[1] != "off"))
    return usage_error("watch NAME on|off", kWatchUsage);
  const std::string& name = ctx.args[0];
  std::string error;
  screening::ScreenMarks marks;
  if (!screening::read_screen_marks(user, name, marks, error)) return fail(error);
  marks.watched = ctx.args[1] == "on";
  if (has_universe && universe.size() == 4 && universe.rfind("ptf", 0) == 0 &&
      universe[3] >= '0' && universe[3] <= '9') {
    // A screen watched over nothing would never tell anyone anything.
    const portfolio::LoadResult held =
        portfolio::load_holdings(portfolio::holdings_path(user, universe[3] - '0'), false);
    if (held.status == portfolio::LoadStatus::kMissing || held.holdings.empty()) {
      return fail("ポートフォリオ " + universe + " がないか空のため、監視の対象にできません");
    }
  }
  if (has_universe) marks.universe = universe == "all" ? std::string() : universe;
  if (!screening::write_screen_marks(user, name, marks, error)) return fail(error);
  std::cout << "watch=" << name << "," << ctx.args[1]
            << "\nuniverse=" << screening::normal_universe(marks.universe) << "\n";
  return 0;
}

// --- alerts --------------------------------------------------------------------------------

constexpr const char* kAlertsUsage = "alerts [--date YYYYMMDD] [--screen NAME]";

void print_hits(const char* word, const std::vector<watch::Hit>& hits) {
  for (const watch::Hit& h : hits)
    std::cout << word << "," << h.code << "," << h.name << "," << h.close << ","
              << watch::shown_value(h.value, false) << "\n";
}

int cmd_alerts(Context& ctx) {
  std::string date, only;
  const bool has_date = ctx.take_option("--date", date);
  const bool has_screen = ctx.take_option("--screen", only);
  if (!ctx.args.empty())
    return usage_error("余分な引数があります: " + ctx.args.front(), kAlertsUsage);
  if (has_date && !valid_yyyymmdd(date))
    return usage_error("--date wants YYYYMMDD, got " + date, kAlertsUsage);
  const std::string user = ctx.folders().user_folder;
  std::vector<std::string> names;
  for (const auto& ws : watch::watched_screens(user)) names.push_back(ws.name);
  if (has_screen) {
    // A screen renamed or deleted keeps its history: it can still be asked for by name.
    std::error_code ec;
    const bool history = std::filesystem::exists(watch::history_path(user, only), ec);
    if (!screening::check_screen_name(only).empty() ||
        (std::find(names.begin(), names.end(), only) == names.end() && !history)) {
      return fail("監視条件「" + only + "」の履歴がありません。");
    }
    names = {only};
  }
  if (names.empty()) {
    std::cout << "監視中の保存条件はありません。\n";
    return 0;
  }
  const std::vector<watch::Problem> problems = watch::read_problems(user);
  for (const std::string& name : names) {
    const std::vector<watch::Block> h = watch::read_history(user, name, newest_date(ctx));
    const std::string day = has_date ? date : (h.empty() ? std::string() : h.back().date);
    const watch::Block* b = day.empty() ? nullptr : watch::find_block(h, day);
    if (!b) {
      std::cout << "■" << name << "," << (day.empty() ? "-" : day) << ",結果なし\n";
    } else {
      const watch::Changes c =
          watch::compare_day(h, day, watch::day_file_trades(ctx.folders().db_folder));
      std::cout << "■" << name << "," << day << ",該当" << b->hits.size() << ",新規"
                << c.entered.size() << ",除外" << c.dropped.size() << "\n";
      print_hits("新規", c.entered);
      print_hits("除外", c.dropped);
      print_hits("継続", c.continuing);
    }
    for (const auto& p : problems) {
      if (p.screen == name) std::cout << "エラー," << p.date << "," << p.reason << "\n";
    }
  }
  return 0;
}

// --- report --------------------------------------------------------------------------------

constexpr const char* kReportUsage = "report [--date YYYYMMDD] [--open]";

int cmd_report(Context& ctx) {
  std::string date;
  const bool has_date = ctx.take_option("--date", date);
  const bool open = ctx.take_flag("--open");
  if (!ctx.args.empty())
    return usage_error("余分な引数があります: " + ctx.args.front(), kReportUsage);
  if (has_date && !valid_yyyymmdd(date))
    return usage_error("--date wants YYYYMMDD, got " + date, kReportUsage);
  const AppFolders folders = ctx.folders();
  if (has_date) {
    // A weekend or a holiday has no day to report: say so rather than write an empty page.
    const std::vector<std::string> dates = watch::trading_dates(folders);
    if (!std::binary_search(dates.begin(), dates.end(), date)) {
      const auto before = std::lower_bound(dates.begin(), dates.end(), date);
      std::cerr << "lumenpick-cli: " << date << " は取引日ではありません。"
                << (before == dates.begin()
                        ? std::string("株価データにこの日より前の取引日はありません。")
                        : "直前の取引日は " + *(before - 1) + " です。")
                << "\n";
      return kUsageError;
    }
  } else {
    date = watch::latest_history_date(folders.user_folder);
    if (date.empty()) {
      const std::vector<std::string> dates = watch::trading_dates(folders);
      if (dates.empty()) return fail("株価データがありません。");
      date = dates.back();
    }
  }
  watch::ensure_gui_application();
  std::string path, error;
  const watch::ValuesOf values = [&](const std::string& screen,
                                     const std::vector<std::string>& codes) {
    return watch::values_as_of(ctx.platform, nullptr, screen, date, codes);
  };
  if (!watch::write_report(folders, date, watch::report_chart_picture(folders), path, error,
                           values))
    return fail(error);
  std::cout << path << "\n";
  if (open && !open_in_browser(path))
    std::cerr << "lumenpick-cli: ブラウザを起動できません。" << path << " を開いてください。\n";
  return 0;
}

// --- daily ---------------------------------------------------------------------------------

constexpr const char* kDailyUsage =
    "daily [--plan P] [--base URL] [--host maker|lan|local] [--history-days N] [--no-fins]";

int cmd_daily(Context& ctx) {
  std::string plan, base, host;
  const bool has_plan = ctx.take_option("--plan", plan);
  const bool has_base = ctx.take_option("--base", base);
  const bool has_host = ctx.take_option("--host", host);
  const bool no_fins = ctx.take_flag("--no-fins");
  int history_days = watch::kDefaultHistoryDays;
  std::string error;
  if (!take_history_days(ctx, history_days, error)) return usage_error(error, kDailyUsage);
  if (!ctx.args.empty()) return usage_error("余分な引数があります: " + ctx.args.front(), kDailyUsage);
  prepare_product_folders(ctx.platform.documents_folder, ctx.platform.install_folder);

  // The key where the window saves it too (the keyring), so the timer finds it.
  std::string key_source, key_error;
  const bool has_key = !gui::find_api_key_everywhere(key_source, key_error).empty();
  const AppFolders folders = ctx.folders();
  if (!has_key) {
    std::cerr << "daily: J-Quants のAPIキーがないため、ダウンロードホストから更新します"
              << (key_error.empty() ? "" : " (" + key_error + ")") << "\n";
  }
  const std::vector<std::string> before = watch::trading_dates(folders);
  const std::string effective_plan = has_plan ? plan : connection_choice(folders.app_folder).plan;

  // The sync is the command the user would type; its own watch step waits for this one.
  const std::string command = has_key ? "jquants-sync" : "download";
  Context sync;
  sync.platform = ctx.platform;
  sync.documents_given = ctx.documents_given;
  if (has_key) {
    if (has_plan) sync.args.insert(sync.args.end(), {"--plan", plan});
    if (no_fins) sync.args.emplace_back("--no-fins");
  } else {
    // The window's host when none is given; J-Quants without a key means the maker's.
    const std::string chosen = connection_choice(folders.app_folder).host;
    sync.args = {"current", "--host", has_host ? host : chosen == "jquants" ? "maker" : chosen};
  }
  if (has_base) sync.args.insert(sync.args.end(), {"--base", base});
  const Command& cmd = registry().at(command);
  sync.options = options_from_usage(cmd.usage);
  std::cerr << "daily: " << command << "\n";
  g_inside_daily = true;
  const int rc = cmd.run(sync);
  g_inside_daily = false;
  // A test hook: the process dies here as a kill would, between the prices and the screens.
  if (std::getenv("LUMENPICK_TEST_KILL_AFTER_SYNC")) ::raise(SIGKILL);
  // 3: the prices are in and only the results are missing; the screens run on the prices.
  if (rc != 0 && rc != jquants::kExitPricesOnly) {
    std::cerr << "lumenpick-cli: daily: 更新に失敗したため監視条件は実行しません。\n";
    // Nobody watches a timer run: the desktop is told, and the window and the next report
    // say it until an update succeeds.
    watch::RunRecord record;
    record.failed = true;
    record.reason = last_failure().empty() ? command + " が失敗しました (終了コード " +
                                                 std::to_string(rc) + ")"
                                           : last_failure();
    record.time = local_time_text("%Y/%m/%d %H:%M");
    watch::write_run_record(folders.user_folder, record);
    const std::string age =
        has_key && !before.empty() ? data_age_text(effective_plan, before.back()) : "";
    const std::string reason = watch::notification_markup(record.reason);
    if (!notify("LumenPick: 更新できませんでした", age.empty() ? reason : age + "\n" + reason, {}))
      std::cerr << "daily: 通知を表示できませんでした (デスクトップの通知サービスがありません)\n";
    return rc == kExitLocked ? kExitLocked : 1;
  }
  watch::write_run_record(folders.user_folder, watch::RunRecord{});
  const std::vector<std::string> after = watch::trading_dates(folders);
  const std::vector<std::string> days = watch::daily_days(
      folders.user_folder, watch::added_days(before, after, history_days), after, history_days);
  watch::AfterUpdateRequest request = after_update_request(ctx, days);
  if (has_key && !after.empty()) request.data_age = data_age_text(effective_plan, after.back());
  const watch::AfterUpdateResult r = watch::after_update(request);
  print_outcome(ctx, r);
  std::cout << "days=" << days.size() << "\nnew=" << r.run.entered_count()
            << "\nfailed_screens=" << r.run.failed_count() << "\nreport=" << r.report_path << "\n";
  return rc;
}

// --- schedule ------------------------------------------------------------------------------

constexpr const char* kScheduleUsage = "schedule [--at HH:MM] [--off]";

int cmd_schedule(Context& ctx) {
  std::string at;
  const bool has_at = ctx.take_option("--at", at);
  const bool off = ctx.take_flag("--off");
  if (!ctx.args.empty())
    return usage_error("余分な引数があります: " + ctx.args.front(), kScheduleUsage);
  if (has_at && off) return usage_error("--at と --off は一緒に使えません", kScheduleUsage);
  const std::string folder = watch::user_unit_folder();
  if (folder.empty()) {
    return usage_error("HOME が設定されていないため、ユニットファイルの場所がわかりません",
                       kScheduleUsage);
  }
  std::string output, error;
  if (off) {
    // The user's own unit of the same name is left running.
    if (!watch::units_are_ours(folder, error)) return fail(error);
    watch::systemctl_user(std::string("disable --now ") + watch::kTimerName, output);
    if (!watch::remove_units(folder, error)) return fail(error);
    watch::systemctl_user("daemon-reload", output);
    std::cout << "毎日自動更新を解除しました。\n";
    return 0;
  }
  if (!has_at) {
    const watch::ScheduleState s = watch::read_schedule(folder);
    if (!s.installed) {
      std::cout << "毎日自動更新: なし\n";
      return 0;
    }
    std::cout << "毎日自動更新: 平日 " << s.time << "\ncommand=" << s.command
              << "\ntimer=" << (std::filesystem::path(folder) / watch::kTimerName).string() << "\n";
    const int state = watch::systemctl_user(std::string("is-enabled ") + watch::kTimerName, output);
    std::cout << "enabled=" << (state == 0 ? "yes" : "no") << "\n";
    return 0;
  }
  if (!watch::valid_schedule_time(at))
    return usage_error("--at は HH:MM (00:00～23:59) で指定してください: " + at, kScheduleUsage);
  // The documents folder goes into the unit only when it was given: otherwise the timer finds
  // the user's own, as this command did.
  const std::string documents =
      ctx.documents_given ? std::filesystem::absolute(ctx.platform.documents_folder).string()
                          : std::string();
  for (const std::string& path : {documents, self_path()}) {
    if (const std::string problem = watch::unit_path_problem(path); !problem.empty()) {
      return usage_error(problem, kScheduleUsage);
    }
  }
  const watch::UnitTexts texts =
      watch::unit_texts(ctx.platform.install_folder, self_path(), documents, at);
  if (!watch::write_units(folder, texts, error)) return fail(error);
  std::cout << "毎日自動更新: 平日 " << at
            << "\nservice=" << (std::filesystem::path(folder) / watch::kServiceName).string()
            << "\ntimer=" << (std::filesystem::path(folder) / watch::kTimerName).string() << "\n";
  const int reload = watch::systemctl_user("daemon-reload", output);
  const int enable =
      reload == 0 ? watch::systemctl_user(std::string("enable --now ") + watch::kTimerName, output)
                  : reload;
  if (enable == 0) {
    std::cout << "タイマーを有効にしました。\n";
  } else {
    std::cout << "タイマーを有効にできません（ユーザーの systemd がありません）: "
              << one_line(output) << "\nユニットファイルは書き込んであります。"
              << "ログイン後に systemctl --user enable --now " << watch::kTimerName
              << " で有効にできます。\n";
  }
  return 0;
}

// --- notify-wait ---------------------------------------------------------------------------

int cmd_notify_wait(Context& ctx) {
  if (ctx.args.size() != 2) return fail("notify-wait ID FILE");
  const unsigned id = static_cast<unsigned>(parse_integer(ctx.args[0]));
  const QString file = QString::fromStdString(ctx.args[1]);
  watch::ensure_gui_application();
  if (!QDBusConnection::sessionBus().isConnected() || id == 0) return 0;
  QEventLoop loop;
  watch::NotificationWatcher watcher;
  QObject::connect(&watcher, &watch::NotificationWatcher::invoked, &loop,
                   [&](unsigned got, const QString&) {
                     if (got != id) return;
                     open_in_browser(file.toStdString());
                     loop.quit();
                   });
  QObject::connect(&watcher, &watch::NotificationWatcher::closed, &loop, [&](unsigned got) {
    if (got == id) loop.quit();
  });
  QTimer::singleShot(3600 * 1000, &loop, &QEventLoop::quit);
  // The session may end first (logout): nothing is left to wait for then.
  QTimer alive;
  QObject::connect(&alive, &QTimer::timeout, &loop, [&] {
    if (!QDBusConnection::sessionBus().isConnected()) loop.quit();
  });
  alive.start(10000);
  loop.exec();
  return 0;
}

}  // namespace

LP_CLI_COMMAND("watch", kWatchUsage,
               "without NAME: the watched screens with the latest day's hit and 新規 counts; "
               "NAME on|off marks the saved screen watched or not (--universe sets its stocks)",
               cmd_watch);
LP_CLI_COMMAND("alerts", kAlertsUsage,
               "per watched screen a heading line, then 新規,CODE,NAME,CLOSE,VALUE lines, "
               "除外,... and 継続,... of the day (default: its latest)",
               cmd_alerts);
LP_CLI_COMMAND("report", kReportUsage,
               "writes the daily report user/reports/YYYYMMDD.html (default: the latest day) and "
               "prints its path; --open shows it in the browser",
               cmd_report);
LP_CLI_COMMAND("daily", kDailyUsage,
               "updates the database (J-Quants with a key, else download current), runs the "
               "watched screens, notifies and writes the report; exit 1 when the update failed, 3 "
               "when the prices were updated but the results not (the screens still run), 75 when "
               "another update held the database for 10 minutes; --no-fins skips the results",
               cmd_daily);
LP_CLI_COMMAND("schedule", kScheduleUsage,
               "shows, installs (--at, default 18:00 on weekdays) or removes (--off) the systemd "
               "user timer that runs daily",
               cmd_schedule);
LP_CLI_COMMAND("notify-wait", "notify-wait ID FILE",
               "waits up to an hour for a click on desktop notification ID and opens FILE "
               "(started by the watched screens' notification)",
               cmd_notify_wait);

}  // namespace lp::cli
