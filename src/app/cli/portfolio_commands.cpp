// lumenpick-cli portfolio commands: the valuation of a holdings file as the portfolio window
// shows it, and adding or deleting a holding the way its buttons do.
#include <filesystem>
#include <iostream>
#include <optional>
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
// `for_change` false is a look only: no folder or file is created.
std::string open_book(Context& ctx, const std::string& arg, std::unique_ptr<Book>& book,
                      bool for_change = true) {
  int n = 0;
  if (!file_number(arg, n)) return "ポートフォリオ番号は0～9で指定してください: " + arg;
  const AppFolders folders = ctx.folders();
  if (for_change) {
    std::error_code ec;
    std::filesystem::create_directories(folders.user_folder, ec);
  }
  const Platform platform = ctx.platform;
  book = std::make_unique<Book>(SeriesSource::from(folders), folders.user_folder,
                                [platform] { return today_yyyymmdd(platform); });
  const portfolio::Outcome o = book->open(n, for_change);
  return o.ok ? std::string() : o.message;
}

// A value for scripts: plain decimal, empty when there is none.
std::string raw(const std::optional<double>& v) {
  return v ? format_decimal(*v) : std::string();
}

void print_raw_report(const Book& book) {
  const auto& headers = portfolio::column_headers();
  for (std::size_t c = 0; c < headers.size(); ++c) std::cout << (c ? "\t" : "") << headers[c];
  std::cout << "\n";
  const portfolio::Report& report = book.report();
  for (std::size_t i = 0; i < report.rows.size(); ++i) {
    const portfolio::ReportRow& r = report.rows[i];
    std::cout << i + 1 << "\t" << r.code << "\t" << r.name << "\t" << r.date;
    for (const auto* v : {&r.shares, &r.price, &r.current, &r.difference, &r.amount, &r.valuation,
                          &r.profit, &r.ratio, &r.change}) {
      std::cout << "\t" << raw(*v);
    }
    std::cout << "\n";
  }
  const portfolio::Totals& t = report.totals;
  std::cout << "合計\t" << t.count << "\t" << format_decimal(t.purchase) << "\t"
            << format_decimal(t.valuation) << "\t" << format_decimal(t.profit) << "\t"
            << format_decimal(t.ratio) << "\n";
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
  const bool raw_numbers = ctx.take_flag("--raw");
  if (ctx.args.size() != 1) return fail("使い方: portfolio N [--raw]");
  std::unique_ptr<Book> book;
  const std::string error = open_book(ctx, ctx.args[0], book, false);
  // A damaged file still shows the holdings that could be read, then says what is wrong.
  if (book && !book->writable() && book->count() > 0) {
    raw_numbers ? print_raw_report(*book) : print_report(*book);
  }
  if (!error.empty()) return fail(error);
  raw_numbers ? print_raw_report(*book) : print_report(*book);
  return 0;
}

int portfolio_add(Context& ctx) {
  const char* usage = "使い方: portfolio-add N CODE --date D --shares S --price P";
  portfolio::Entries entries;
  const bool has_date = ctx.take_option("--date", entries.date);
  const bool has_shares = ctx.take_option("--shares", entries.shares);
  const bool has_price = ctx.take_option("--price", entries.price);
  const bool named = has_date || has_shares || has_price;
  if (named) {
    if (ctx.args.size() != 2) return fail(usage);
    if (!has_date || !has_shares || !has_price) {
      return fail("portfolio-add には --date、--shares、--price が必要です");
    }
  } else if (ctx.args.size() == 5) {
    // The old order DATE PRICE SHARES differs from the window's (shares, then price).
    std::cerr << "lumenpick-cli: 警告: portfolio-add N CODE DATE PRICE SHARES の形は廃止予定です。"
                 "portfolio-add N CODE --date D --shares S --price P を使ってください\n";
    entries.date = ctx.args[2];
    entries.price = ctx.args[3];
    entries.shares = ctx.args[4];
  } else {
    return fail(usage);
  }
  entries.code = ctx.args[1];
  std::unique_ptr<Book> book;
  // Opened as a look: the add itself writes the file, and a refused add writes nothing.
  const std::string error = open_book(ctx, ctx.args[0], book, false);
  if (!error.empty()) return fail(error);
  const portfolio::Outcome o = book->add(entries);
  if (!o.ok) return fail(o.message);
  print_report(*book);
  return 0;
}

int portfolio_delete(Context& ctx) {
  if (ctx.args.size() != 2) return fail("使い方: portfolio-delete N NO");
  std::unique_ptr<Book> book;
  const std::string error = open_book(ctx, ctx.args[0], book, false);
  if (!error.empty()) return fail(error);
  const int no = static_cast<int>(parse_integer(ctx.args[1]));
  if (no < 1 || no > book->count()) {
    return fail(portfolio::holdings_file_name(book->file_no()) + " に " + ctx.args[1] +
                " 番の保有銘柄はありません");
  }
  const portfolio::Outcome o = book->remove(no - 1);
  if (!o.ok) return fail(o.message);
  print_report(*book);
  return 0;
}

}  // namespace

LP_CLI_COMMAND("portfolio", "portfolio N [--raw]",
               "values ptfN.csv at the latest prices: one tab-separated line per holding with "
               "the window's thirteen columns, then 合計, count, purchase, valuation, profit, "
               "profit % (--raw: plain numbers, empty when missing); never creates the file",
               portfolio_show);
LP_CLI_COMMAND("portfolio-add", "portfolio-add N CODE --date D --shares S --price P",
               "adds a holding to ptfN.csv (the code must have a series file; D is YYYYMMDD, "
               "YYYY/MM/DD or YYYY-MM-DD, not after the latest trading day; S whole shares from 1 "
               "to 1,000,000,000; P above 0 and at most 100,000,000; full-width digits read) "
               "and prints the report. The old form N CODE DATE PRICE SHARES still works, "
               "with a warning",
               portfolio_add);
LP_CLI_COMMAND("portfolio-delete", "portfolio-delete N NO",
               "deletes holding number NO (the No column) from ptfN.csv and prints the report",
               portfolio_delete);

}  // namespace lp::cli
