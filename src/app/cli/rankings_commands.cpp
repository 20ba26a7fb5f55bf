// rank, rankings: the top-25 rankings of the latest trading day from "initdata1.csv".
#include <stdlib.h>

#include <filesystem>
#include <iostream>

#include "app/cli/cli.h"
#include "app/cli/screen_options.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"
#include "screening/rankings.h"

namespace lp::cli {

namespace {

int cmd_rankings(Context& ctx) {
  if (!ctx.args.empty()) return fail("使い方: rankings");
  // One name a line; `rank N` takes the N-th.
  for (const auto& def : screening::ranking_defs()) std::cout << def.name << "\n";
  return 0;
}

int cmd_rank(Context& ctx) {
  const bool write_results = ctx.take_flag("--write-results");
  std::string as_of;
  if (ctx.take_option("--as-of", as_of) && !valid_yyyymmdd(as_of)) {
    return fail("rank: --as-of は YYYYMMDD で指定してください: " + as_of);
  }
  if (ctx.args.size() != 1) {
    return fail("使い方: rank NAME|NUMBER [--write-results] [--as-of YYYYMMDD]");
  }
  const screening::RankingDef* def = screening::find_ranking_loosely(ctx.args[0]);
  if (!def)
    return fail("不明なランキングです: " + ctx.args[0] +
                "（rankings の名前か番号1～12で指定してください）");
  const std::string name = def->name;
  const AppFolders folders = ctx.folders();
  const int this_year = static_cast<int>(parse_integer(today_yyyymmdd(ctx.platform).substr(0, 4)));
  std::string latest;
  if (!read_latest_date(folders.db_folder, folders.reference_code, this_year, kLowestYear,
                        latest)) {
    return fail("株価データがありません: " + folders.db_folder);
  }
  screening::RankingSource source;
  source.source = SeriesSource::from(folders);
  source.latest_year = static_cast<int>(parse_integer(latest.substr(0, 4)));
  // As of a past day the summary is built for that day in a scratch folder of its own: the
  // database's summary of the latest day stays as it is.
  std::string scratch;
  if (!as_of.empty()) {
    source.source.as_of = as_of;
    std::error_code ec;
    std::string templ =
        (std::filesystem::temp_directory_path(ec) / "lumenpick-rank-XXXXXX").string();
    if (ec || !::mkdtemp(templ.data())) return fail("rank: 作業用のフォルダを作成できません");
    scratch = templ;
    source.summary_folder = scratch + "/";
  }
  const screening::Top25 top = screening::rank_top25(source, name);
  if (!scratch.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
  }
  if (top.date.empty()) {
    return fail(as_of.empty() ? latest.substr(0, 4) + " 年の日別株価ファイルがありません"
                              : as_of + " 以前の取引日がありません");
  }
  for (std::size_t i = 0; i < top.entries.size(); ++i) {
    const auto& e = top.entries[i];
    // Fewer than 25 stocks qualify: the places left keep their sentinel and are not shown.
    if (!e.filled()) continue;
    std::cout << i + 1 << "," << e.code() << "," << e.name() << "," << e.close() << "," << e.value
              << "\n";
  }
  if (write_results && !screening::write_ranking_results(top, folders.user_folder)) {
    return fail("結果ファイルを書き込めません: " + folders.user_folder);
  }
  return 0;
}

}  // namespace

LP_CLI_COMMAND("rankings", "rankings", "the names of the twelve top-25 rankings", cmd_rankings);
LP_CLI_COMMAND("rank", "rank NAME|NUMBER [--write-results] [--as-of YYYYMMDD]",
               "the 25 best stocks of the latest day (or of the day --as-of names) by one ranking "
               "(a name in any width, or its number 1-12 in the order of rankings): "
               "rank,code,name,close,value "
               "(--write-results also writes sel0.csv and sel0_out.csv)",
               cmd_rank);

}  // namespace lp::cli
