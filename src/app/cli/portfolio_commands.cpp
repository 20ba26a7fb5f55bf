// lumenpick-cli portfolio commands: the valuation of a holdings file as the portfolio window
// shows it, and adding or deleting a holding the way its buttons do.
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "app/cli/cli.h"
#include "common/numbers.h"
#include "portfolio/portfolio_model.h"
#include "pricedb/series.h"

namespace lp::cli {
namespace {

using portfolio::Book;

bool file_number(const std::string& text, int& n) {
  if (text.size() != 1 || text[0] < '0' || text[0] > '9') return false;
  n = text[0] - '0';
  return true;
}

// A book on ptfN.csv of the user folder, opened and valued. Empty message: all is well.
std::string open_book(Context& ctx, const std::string& arg, std::unique_ptr<Book>& book) {
  int n = 0;
  if (!file_number(arg, n)) return "the portfolio number is 0 to 9, got " + arg;
  const AppFolders folders = ctx.folders();
  std::error_code ec;
  std::filesystem::create_directories(folders.user_folder, ec);
  const Platform platform = ctx.platform;
  book = std::make_unique<Book>(SeriesSource::from(folders), folders.user_folder,
                                [platform] { return today_yyyymmdd(platform); });
  const portfolio::Outcome o = book->open(n);
  return o.ok ? std::string() : o.message;
}

void print_report(const Book& book) {
  const auto& headers = portfolio::column_headers();
  for (std::size_t c = 0; c < headers.size(); ++c) std::cout << (c ? "\t" : "") << headers[c];
  std::cout << "\n";
  const portfolio::Report& report = book.report();
  for (std::size_t i = 0; i < report.rows.size(); ++i) {
    const portfolio::GridRow row = portfolio::format_row(report.rows[i], static_cast<int>(i));
    for (std::size_t c = 0; c < row.size(); ++c) std::cout << (c ? "\t" : "") << row[c].text;
    std::cout << "\n";
  }
  const portfolio::TotalsView t = portfolio::format_totals(report.totals);
  std::cout << "合計\t" << report.totals.count;
  for (const auto& cell : t.cells) std::cout << "\t" << cell.text;
  std::cout << "\n";
}

int portfolio_show(Context& ctx) {
  if (ctx.args.size() != 1) return fail("usage: portfolio N");
  std::unique_ptr<Book> book;
  const std::string error = open_book(ctx, ctx.args[0], book);
  if (!error.empty()) return fail(error);
  print_report(*book);
  return 0;
}

int portfolio_add(Context& ctx) {
  if (ctx.args.size() != 5) return fail("usage: portfolio-add N CODE DATE PRICE SHARES");
  std::unique_ptr<Book> book;
  const std::string error = open_book(ctx, ctx.args[0], book);
  if (!error.empty()) return fail(error);
  const portfolio::Outcome o = book->add({ctx.args[1], ctx.args[2], ctx.args[4], ctx.args[3]});
  if (!o.ok) return fail(o.message);
  print_report(*book);
  return 0;
}

int portfolio_delete(Context& ctx) {
  if (ctx.args.size() != 2) return fail("usage: portfolio-delete N NO");
  std::unique_ptr<Book> book;
  const std::string error = open_book(ctx, ctx.args[0], book);
  if (!error.empty()) return fail(error);
  const int no = static_cast<int>(parse_integer(ctx.args[1]));
  if (no < 1 || no > book->count()) {
    return fail("no holding number " + ctx.args[1] + " in " +
                portfolio::holdings_file_name(book->file_no()));
  }
  const portfolio::Outcome o = book->remove(no - 1);
  if (!o.ok) return fail(o.message);
  print_report(*book);
  return 0;
}

}  // namespace

LP_CLI_COMMAND("portfolio", "portfolio N",
               "values ptfN.csv at the latest prices: one tab-separated line per holding with "
               "the window's thirteen columns, then 合計, count, purchase, valuation, profit, "
               "profit %",
               portfolio_show);
LP_CLI_COMMAND("portfolio-add", "portfolio-add N CODE DATE PRICE SHARES",
               "adds a holding to ptfN.csv (the code must have a series file) and prints the "
               "report",
               portfolio_add);
LP_CLI_COMMAND("portfolio-delete", "portfolio-delete N NO",
               "deletes holding number NO (the No column) from ptfN.csv and prints the report",
               portfolio_delete);

}  // namespace lp::cli
