// download, unpack and delete-year: the price-database maintenance of the main window,
// headless. Progress texts go to standard error, results to standard output as key=value.
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/cli/cli.h"
#include "app/cli/watch_hook.h"
#include "common/http_curl.h"
#include "common/numbers.h"
#include "pricedb/db_lock.h"
#include "pricedb/db_verify.h"
#include "pricedb/delete_year.h"
#include "pricedb/download.h"
#include "pricedb/formats.h"
#include "pricedb/unpack.h"
#include "shell/startup.h"

namespace lp::cli {

namespace {

namespace fs = std::filesystem;

void progress(const std::string& text) {
  std::cerr << text << "\n";
}

std::string latest_or_none(const AppFolders& f, int current_year) {
  std::string date;
  if (!read_latest_date(f.db_folder, f.reference_code, current_year, kLatestDateLowestYear, date)) {
    return "none";
  }
  return date;
}

int cmd_download(Context& ctx) {
  std::string host_text = "maker", base, timeout_text;
  ctx.take_option("--host", host_text);
  ctx.take_option("--base", base);
  ctx.take_option("--timeout", timeout_text);
  int history_days = 20;
  if (std::string e; !take_history_days(ctx, history_days, e)) return fail(e);
  if (ctx.args.size() != 1) {
    return fail(
        "使い方: download current|YEAR --host maker|lan|local [--base URL] [--timeout SECONDS]");
  }
  DownloadRequest request;
  if (!timeout_text.empty()) {
    const bool digits = timeout_text.size() <= 6 &&
                        timeout_text.find_first_not_of("0123456789") == std::string::npos;
    const long long seconds = digits ? parse_integer(timeout_text) : 0;
    if (seconds < 1 || seconds > 86400) {
      return fail("--timeout は1～86400の整数（秒）で指定してください: " + timeout_text);
    }
    request.file_timeout_s = static_cast<int>(seconds);
  }
  if (host_text == "maker") {
    request.host = DownloadHost::maker;
  } else if (host_text == "lan") {
    request.host = DownloadHost::lan;
  } else if (host_text == "local") {
    request.host = DownloadHost::local;
  } else {
    return fail("--host は maker、lan、local のいずれかで指定してください: " + host_text);
  }
  const std::string& which = ctx.args[0];
  const std::string today = ctx.platform.today();
  if (which == "current") {
    request.kind = DownloadKind::update;
  } else {
    const int year = static_cast<int>(parse_integer(which));
    if (which.size() != 4 || year < kOldestYear || year > year_of(today)) {
      return fail("YEAR は " + std::to_string(kOldestYear) + "～" + std::to_string(year_of(today)) +
                  " で指定してください: " + which);
    }
    request.kind = DownloadKind::chosen_year;
    request.chosen_entry = which + "年";
  }
  request.today = today;
  request.install_folder = ctx.platform.install_folder;
  request.base_override = base;
  request.lock_timeout = database_lock_timeout([](const char* n) { return std::getenv(n); });
  prepare_product_folders(ctx.platform.documents_folder, ctx.platform.install_folder);

  AppFolders folders = ctx.folders();
  const WatchSnapshot watch_before = watch_snapshot(ctx, history_days);
  DownloadHooks hooks;
  hooks.message = [](const std::string& text, MessageColor) { progress(text); };
  hooks.read_settings = [&] {
    folders = ctx.folders();
    return folders;
  };
  hooks.refresh = [&] { return latest_or_none(folders, year_of(today)) != "none"; };
  hooks.file_failed = [](const FileRequest& file, const std::string& reason) {
    progress("失敗: " + file.url + ": " + reason);
  };
  const DownloadOutcome out = run_download(request, curl_http_get, hooks);
  if (out.locked) return kExitLocked;
  if (!out.connected) {
    return fail(
        "接続できません: " +
        connection_probe(request.host, base.empty() ? download_base(request.host, folders) : base)
            .url +
        ": " + out.not_connected_reason);
  }
  std::cout << "year=" << out.year << "\n"
            << "fetched=" << out.fetched << "\n"
            << "failed=" << out.failed << "\n"
            << "latest_date=" << latest_or_none(folders, year_of(today)) << "\n";
  if (out.fetched == 0) return 1;
  watch_after_update(ctx, watch_before);
  return 0;
}

int cmd_unpack(Context& ctx) {
  if (ctx.args.size() != 1) return fail("使い方: unpack YEARFOLDER|YEAR");
  std::string folder = ctx.args[0];
  std::error_code ec;
  if (!fs::is_directory(folder, ec) && folder.size() == 4 &&
      folder.find_first_not_of("0123456789") == std::string::npos) {
    folder = ctx.folders().db_folder + folder;
  }
  if (!fs::is_directory(folder, ec)) return fail("年のフォルダがありません: " + folder);
  for (const char* sub : {"data_d", "data_m", "data_mh"}) {
    fs::create_directory(fs::path(folder) / sub, ec);
  }
  LockWaitWords words;
  words.timeout = database_lock_timeout([](const char* n) { return std::getenv(n); });
  words.say = progress;
  std::string error;
  bool timed_out = false;
  // The year folder's parent is the database the lock guards.
  fs::path year_path = fs::path(folder).lexically_normal();
  if (year_path.filename().empty()) year_path = year_path.parent_path();
  const auto lock = lock_database(year_path.parent_path().string() + "/", words, error, &timed_out);
  if (!lock) {
    fail(error);
    return timed_out ? kExitLocked : 1;
  }
  UnpackHooks hooks;
  hooks.message = progress;
  const UnpackStats s = unpack_year(folder, hooks);
  std::cout << "packed_files=" << s.packed_files << "\n"
            << "correction_files=" << s.correction_files << "\n"
            << "day_files=" << s.day_files << "\n"
            << "series_files=" << s.series_files << "\n"
            << "truncated_blocks=" << s.truncated_blocks << "\n"
            << "rejected_blocks=" << s.rejected_blocks << "\n"
            << "failed_writes=" << s.failed_writes << "\n";
  return s.failed_writes == 0 ? 0 : 1;
}

int cmd_delete_year(Context& ctx) {
  const bool yes = ctx.take_flag("--yes");
  if (ctx.args.size() != 1 || ctx.args[0].size() != 4 ||
      ctx.args[0].find_first_not_of("0123456789") != std::string::npos) {
    return fail("使い方: delete-year YEAR --yes");
  }
  const AppFolders folders = ctx.folders();
  const int year = static_cast<int>(parse_integer(ctx.args[0]));
  if (!year_present(folders.db_folder, year)) {
    return fail(ctx.args[0] + " is not in the database " + folders.db_folder);
  }
  if (!yes) return fail(ctx.args[0] + " を削除するには --yes が必要です");
  std::string last_text;
  DeleteHooks hooks;
  hooks.confirm = [](const std::string&) { return true; };
  hooks.message = [&](const std::string& text, MessageColor) {
    progress(text);
    last_text = text;
  };
  hooks.refresh = [&] { return latest_or_none(folders, year_of(ctx.platform.today())) != "none"; };
  hooks.lock_timeout = database_lock_timeout([](const char* n) { return std::getenv(n); });
  const DeleteResult r = run_delete_year(folders.db_folder, ctx.args[0] + "年", hooks);
  if (r == DeleteResult::locked) return kExitLocked;
  std::cout << "deleted=" << (r == DeleteResult::deleted ? "yes" : "no") << "\n"
            << "latest_date=" << latest_or_none(folders, year_of(ctx.platform.today())) << "\n";
  return r == DeleteResult::deleted ? 0 : 1;
}

// Checks that the two copies of every day agree; --repair mends them under the writer's lock.
int cmd_verify(Context& ctx) {
  const bool repair = ctx.take_flag("--repair");
  if (!ctx.args.empty()) return fail("使い方: verify [--repair]");
  const AppFolders folders = ctx.folders();
  std::error_code ec;
  if (!fs::is_directory(folders.db_folder, ec))
    return fail("株価データベースのフォルダがありません: " + folders.db_folder);
  // Even a check holds the lock: a write in flight would look like damage.
  LockWaitWords words;
  words.timeout = database_lock_timeout([](const char* n) { return std::getenv(n); });
  words.say = progress;
  std::string error;
  bool timed_out = false;
  const auto lock = lock_database(folders.db_folder, words, error, &timed_out);
  if (!lock && (repair || timed_out)) {
    fail(error);
    return timed_out ? kExitLocked : 1;
  }
  // A database on a read-only disk can still be checked, without the lock.
  if (!lock) std::cerr << "lumenpick-cli: 警告: " << error << "（ロックせずに確認します）\n";
  VerifyReport found = verify_database(folders.db_folder, folders.reference_code);
  for (const DbProblem& p : found.problems) std::cout << p.text() << "\n";
  std::cout << "days=" << found.days << "\nseries_files=" << found.series_files
            << "\nlatest_date=" << (found.newest.empty() ? "none" : found.newest)
            << "\nproblems=" << found.problems.size() << "\n";
  if (!repair) return found.whole() ? 0 : 1;
  if (found.whole()) return 0;
  // A repair can uncover more (a year folder emptied by removing a day after the newest):
  // a few passes, each on a fresh check.
  int repaired = 0;
  std::vector<std::pair<DbProblem, std::string>> not_repaired;
  for (int pass = 0; pass < 3 && !found.whole(); ++pass) {
    const RepairReport r = repair_database(folders.db_folder, folders.reference_code, found);
    for (const DbProblem& p : r.repaired) std::cout << "修復: " << p.text() << "\n";
    repaired += static_cast<int>(r.repaired.size());
    not_repaired = r.not_repaired;
    if (!r.error.empty()) {
      std::cerr << "lumenpick-cli: " << r.error << "\n";
      break;
    }
    found = verify_database(folders.db_folder, folders.reference_code);
    if (r.repaired.empty()) break;
  }
  for (const auto& [p, why] : not_repaired)
    std::cout << "修復できません: " << p.text() << "（" << why << "）\n";
  std::cout << "repaired=" << repaired << "\nremaining=" << found.problems.size() << "\n";
  if (!found.whole()) {
    std::cerr << "lumenpick-cli: 修復できない問題が " << found.problems.size()
              << " 件残っています。\n";
    return 1;
  }
  std::cout << "株価データベースを修復しました。\n";
  return 0;
}

}  // namespace

LP_CLI_COMMAND("download",
               "download current|YEAR --host maker|lan|local [--base URL] [--timeout SECONDS] "
               "[--history-days N]",
               "fetch a year's packed files (each within --timeout, default 120 s), unpack them "
               "and clean the staging folders",
               cmd_download);
LP_CLI_COMMAND("unpack", "unpack YEARFOLDER|YEAR",
               "split the staged packed files of a year folder into its database files",
               cmd_unpack);
LP_CLI_COMMAND("verify", "verify [--repair]",
               "check that every day's file and every stock's series agree (--repair mends them "
               "from the other copy); exit 0 whole, 1 problems",
               cmd_verify);
LP_CLI_COMMAND("delete-year", "delete-year YEAR --yes",
               "remove a year folder from the price database", cmd_delete_year);

}  // namespace lp::cli
