// import-csv: daily bars the user already has, from CSV files into the price database. Rows
// that cannot be read go to standard error with their file and line; the outcome to standard
// output as key=value lines.
#include <cstdlib>
#include <iostream>

#include "app/cli/cli.h"
#include "app/cli/watch_hook.h"
#include "pricedb/csv_import.h"
#include "pricedb/db_lock.h"
#include "shell/startup.h"

namespace lp::cli {

namespace {

constexpr const char* kImportUsage =
    "import-csv FILE... [--code CODE] [--name NAME] [--market SEGMENT] [--splits FILE] "
    "[--history-days N]";

int cmd_import_csv(Context& ctx) {
  CsvImportOptions opt;
  ctx.take_option("--code", opt.code);
  ctx.take_option("--name", opt.name);
  ctx.take_option("--market", opt.market);
  ctx.take_option("--splits", opt.splits);
  opt.today = ctx.platform.today();
  opt.lock_timeout = database_lock_timeout([](const char* n) { return std::getenv(n); });
  opt.waiting = [](const std::string& text) { std::cerr << text << "\n"; };
  int history_days = 20;
  if (std::string e; !take_history_days(ctx, history_days, e)) {
    std::cerr << "lumenpick-cli: " << e << "\n使い方: lumenpick-cli " << kImportUsage << "\n";
    return 2;
  }
  for (const std::string& a : ctx.args) {
    if (a.rfind("--", 0) == 0) {
      std::cerr << "lumenpick-cli: 不明なオプションです: " << a << "\n使い方: lumenpick-cli "
                << kImportUsage << "\n";
      return 2;
    }
  }
  if (ctx.args.empty()) {
    std::cerr << "lumenpick-cli: FILE が指定されていません\n使い方: lumenpick-cli " << kImportUsage
              << "\n";
    return 2;
  }
  prepare_product_folders(ctx.platform.documents_folder, ctx.platform.install_folder);
  const AppFolders folders = ctx.folders();
  const WatchSnapshot watch_before = watch_snapshot(ctx, history_days);
  CsvImportReport report;
  std::string error;
  const bool ok =
      import_price_csv(folders.db_folder, folders.reference_code, ctx.args, opt, report, error);
  for (const std::string& m : report.messages) std::cerr << m << "\n";
  std::string codes;
  for (const std::string& c : report.codes) codes += (codes.empty() ? "" : ",") + c;
  std::cout << "files_used=" << report.files_used << "\nfiles_refused=" << report.files_refused
            << "\nrows_imported=" << report.rows_imported
            << "\nrows_skipped=" << report.rows_skipped << "\ncodes=" << codes
            << "\ndates=" << report.dates_touched << "\nholiday_rows=" << report.holiday_rows
            << "\ncorrections=" << report.corrections_written
            << "\nsplit_warnings=" << report.split_warnings
            << "\nindex_rebuilt=" << (report.index_rebuilt ? "yes" : "no") << "\n";
  if (!ok) {
    fail(error + " (何も変更していません)");
    return report.locked ? kExitLocked : 1;
  }
  if (report.files_used == 0)
    return fail("使える行のあるファイルがありません (何も変更していません)");
  watch_after_update(ctx, watch_before);
  return 0;
}

}  // namespace

LP_CLI_COMMAND("import-csv", kImportUsage,
               "imports daily bars from CSV files (Date,Open,High,Low,Close,Volume or 日付,始値,"
               "高値,安値,終値,出来高; or <TICKER>,<PER>,<DATE>,...); the code comes from --code, "
               "the ticker or the file name (7203.csv, 130a.jp.txt); --splits FILE records splits "
               "(lines YYYYMMDD,RATIO such as 20211001,5)",
               cmd_import_csv);

}  // namespace lp::cli
