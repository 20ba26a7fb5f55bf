// "search": the stock search by name; "results": the results window's pages as text.
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "common/encoding.h"
#include "results/results_export.h"
#include "results/results_model.h"
#include "results/results_valuation.h"
#include "search/search_model.h"

namespace lp::cli {

namespace {

int search_command(Context& ctx) {
  std::string query;
  for (const std::string& word : ctx.args) query += (query.empty() ? "" : " ") + word;
  if (query.empty()) return fail("使い方: search QUERY");
  const std::string today = ctx.platform.today ? ctx.platform.today() : std::string();
  StockSearch search;
  std::vector<SearchHit> hits;
  if (search.search(ctx.folders(), today, query, hits) != StockSearch::Status::ok) {
    return fail("銘柄の検索ができません。");
  }
  for (const SearchHit& hit : hits) {
    std::cout << hit.code << '\t' << hit.name << '\t' << hit.score << '\n';
  }
  return 0;
}

const char* colour_name(RowColour c) {
  switch (c) {
    case RowColour::red:
      return "red";
    case RowColour::green:
      return "green";
    case RowColour::blue:
      return "blue";
    case RowColour::black:
      break;
  }
  return "black";
}

// A grid column by number (0..5) or by its caption; the valuation columns and 業種 by their
// captions (6..10 when shown), as the window's double click on them.
bool column_of(const std::string& word, const ResultTable& table, int& column) {
  for (int k = 0; k < kValuationColumns; ++k) {
    const std::string& caption = valuation_captions()[static_cast<std::size_t>(k)];
    // 「利回り」 and 「時価総額」 as typed in a hurry name the same columns.
    if (word == caption || (k == 2 && word == "利回り") || (k == 3 && word == "時価総額")) {
      column = kGridColumns + k;
      return true;
    }
  }
  if (word == kSectorCaption) {
    column = kGridColumns + kValuationColumns;
    return true;
  }
  if (!word.empty() && word.size() <= 2 &&
      word.find_first_not_of("0123456789") == std::string::npos) {
    column = std::stoi(word);
    return column < kGridColumns;
  }
  const auto captions = grid_captions(table);
  for (int c = 0; c < kGridColumns; ++c) {
    if (captions[c] == word) {
      column = c;
      return true;
    }
  }
  return false;
}

void print_page(const ResultTable& table, int p, const ValuationTable& v) {
  const GridPage page = fill_page(table, p);
  std::cout << "最新取引日：" << table.date() << "\t件数 " << table.count() << "\tページ " << p
            << "/" << last_page(table.count()) << '\n';
  for (const std::string& caption : page.captions) std::cout << caption << '\t';
  // The window's columns at the right end, when the database holds what they show.
  if (v.present) {
    for (const std::string& caption : valuation_captions()) std::cout << caption << '\t';
  }
  if (v.sectors) std::cout << kSectorCaption << '\t';
  std::cout << "色\n";
  for (const GridRow& row : page.rows) {
    for (const std::string& cell : row.cells) std::cout << cell << '\t';
    const std::string code = trim_blanks(table.field(row.result, 1));
    if (v.present) {
      for (const std::string& cell : valuation_cells(v, code)) std::cout << cell << '\t';
    }
    if (v.sectors) {
      const std::string& sector = v.sector_of(code);
      std::cout << (sector.empty() ? "-" : sector) << '\t';
    }
    std::cout << colour_name(row.colour) << '\n';
  }
}

int results_command(Context& ctx) {
  std::string page_text = "0", sort_text, export_path, screen_name;
  ctx.take_option("--page", page_text);
  const bool sorted = ctx.take_option("--sort", sort_text);
  const bool exporting = ctx.take_option("--export", export_path);
  const bool cp932 = ctx.take_flag("--cp932");
  ctx.take_option("--screen-name", screen_name);
  if (!ctx.args.empty()) return fail("余分な引数です: " + ctx.args.front());

  const std::string path = ctx.folders().user_folder + "sel0_out.csv";
  ResultTable table;
  if (!read_result_file(path, table)) return fail("結果ファイルがありません: " + path);

  // The company-results columns and 業種, when the database holds what they show.
  const ValuationTable valuation = compute_valuation(table, SeriesSource::from(ctx.folders()));
  if (sorted) {
    // Each listed column is one double click, so "終値,終値" sorts descending, then ascending.
    ResultSorter sorter;
    std::stringstream words(sort_text);
    std::string word;
    while (std::getline(words, word, ',')) {
      int column = 0;
      if (!column_of(word, table, column)) return fail("不明な並べ替えの列です: " + word);
      const bool sector = column == kGridColumns + kValuationColumns;
      if (column >= kGridColumns && !(sector ? valuation.sectors : valuation.present)) {
        return fail("並べ替えの列 " + word + " はありません（" +
                    (sector ? "業種の一覧" : "決算データ") + "がありません）");
      }
      sorter.sort(table, column, {}, &valuation);
    }
  }

  if (exporting) {
    // The list as sorted, written whole; the pages are the window's business.
    ExportOptions options;
    options.screen_name = screen_name;
    options.valuation = &valuation;
    if (!export_format_for(export_path, cp932, options.format))
      return fail("--export は .xlsx か .csv で終わるファイル名で指定してください: " + export_path);
    std::string error;
    if (!export_results(table, export_path, options, error)) return fail(error);
    std::cout << "exported=" << table.count() << "\n";
    return 0;
  }

  const int last = last_page(table.count());
  if (page_text == "all") {
    for (int p = 0; p <= last; ++p) print_page(table, p, valuation);
    if (last < 0) print_page(table, 0, valuation);
    return 0;
  }
  if (page_text.empty() || page_text.find_first_not_of("0123456789") != std::string::npos ||
      page_text.size() > 6) {
    return fail("--page はページ番号か all で指定してください: " + page_text);
  }
  const int p = std::stoi(page_text);
  if (p > std::max(last, 0))
    return fail("ページ " + page_text + " はありません（最後のページは " + std::to_string(last) +
                "）");
  print_page(table, p, valuation);
  return 0;
}

}  // namespace

LP_CLI_COMMAND("search", "search QUERY",
               "stocks of the latest trading day ranked by name: code, name, score "
               "(tab-separated, best first, at most 100)",
               search_command);
LP_CLI_COMMAND("results",
               "results [--page N|all] [--sort COLUMN[,COLUMN...]] [--export FILE] [--cp932] "
               "[--screen-name NAME]",
               "the results window's page of sel0_out.csv: a date line, the captions, then one "
               "tab-separated row per result ending in its colour; each sort column is one "
               "double click (number 0-5 or caption; 予想PER, PBR, 予想利回り, 時価総額(億円) and 業種 "
               "by caption). Rows and --export (the whole sorted list to FILE.xlsx or FILE.csv, "
               "UTF-8 with BOM, --cp932 for Shift_JIS) gain 予想PER, PBR, 予想利回り and "
               "時価総額(億円) when the database holds results summaries and 業種 when it holds "
               "the industries; --export prints exported=N",
               results_command);

}  // namespace lp::cli
