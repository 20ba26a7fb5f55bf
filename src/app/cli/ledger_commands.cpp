// lumenpick-cli ledger commands: entering and importing transactions into user/ledger/ptfN.csv,
// and the ledger's figures (realised and unrealised gains, tax, NISA use, returns) as
// key=value lines for scripts.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "app/cli/cli.h"
#include "common/csv.h"
#include "common/numbers.h"
#include "ledger/ledger.h"
#include "portfolio/portfolio_model.h"
#include "pricedb/series.h"

namespace lp::cli {
namespace {

using namespace lp::ledger;

constexpr int kRefused = 2;

int refuse(const std::string& message) {
  fail(message);
  return kRefused;
}

bool file_number(const std::string& text, int& n) {
  if (text.size() != 1 || text[0] < '0' || text[0] > '9') return false;
  n = text[0] - '0';
  return true;
}

LedgerStore store_of(Context& ctx) {
  const AppFolders folders = ctx.folders();
  const Platform platform = ctx.platform;
  return LedgerStore(SeriesSource::from(folders), folders.user_folder, [platform] {
    return static_cast<int>(parse_integer(today_yyyymmdd(platform)));
  });
}

// The ledger's transactions for a look; false (after the message) when unusable.
bool read_ledger(const LedgerStore& store, int n, std::vector<Transaction>& out, int& rc) {
  LoadResult r = store.load(n);
  if (r.status == LoadStatus::unreadable) {
    rc = fail("ledger/ptf" + std::to_string(n) + ".csv を開けません");
    return false;
  }
  if (r.status == LoadStatus::damaged) {
    // Still shown: the figures of what reads, with the problem said.
    std::cerr << "lumenpick-cli: 警告: ledger/ptf" << n << ".csv の " << r.problem
              << " この行は数えません\n";
  }
  out = std::move(r.transactions);
  return true;
}

std::string percent(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  return std::string(buf) == "-0.0000" ? "0.0000" : buf;
}

std::optional<Account> account_option(Context& ctx, std::string& error) {
  std::string text;
  if (!ctx.take_option("--account", text)) return std::nullopt;
  const std::optional<Account> a = account_of(text);
  if (!a) {
    error =
        "口座（--account）は tokutei、tokutei-nowh、ippan、nisa-growth、nisa-tsumitate の"
        "どれかです: " +
        text;
  }
  return a;
}

void print_transaction(const Transaction& t) {
  std::cout << "date=" << t.date << "\nkind=" << kind_key(t.kind) << "\ncode=" << t.code
            << "\nshares=" << (t.shares ? fixed_text(t.shares) : "")
            << "\nprice=" << (t.price ? fixed_text(t.price) : "") << "\namount=" << t.amount
            << "\nfee=" << t.fee << "\ntax=" << t.tax << "\naccount=" << account_key(t.account)
            << "\n";
}

int ledger_add(Context& ctx) {
  Entry e;
  const bool has_date = ctx.take_option("--date", e.date);
  const bool has_kind = ctx.take_option("--kind", e.kind);
  const bool has_account = ctx.take_option("--account", e.account);
  ctx.take_option("--code", e.code);
  ctx.take_option("--shares", e.shares);
  ctx.take_option("--price", e.price);
  ctx.take_option("--amount", e.amount);
  ctx.take_option("--fee", e.fee);
  ctx.take_option("--tax", e.tax);
  int n = 0;
  if (ctx.args.size() != 1 || !file_number(ctx.args[0], n)) {
    return refuse("ポートフォリオ番号は0～9で指定してください: " +
                  (ctx.args.empty() ? std::string() : ctx.args[0]));
  }
  if (!has_date) return refuse("日付（--date）がありません。");
  if (!has_kind) return refuse("区分（--kind）がありません。");
  if (!has_account) return refuse("口座（--account）がありません。");
  std::string problem;
  const std::optional<Transaction> t = transaction_from_entry(e, problem);
  if (!t) return refuse(problem);
  LedgerStore store = store_of(ctx);
  const Outcome o = store.add(n, *t);
  if (!o.ok) return o.refused ? refuse(o.message) : fail(o.message);
  print_transaction(*t);
  return 0;
}

int ledger_show(Context& ctx) {
  int n = 0;
  if (ctx.args.size() != 1 || !file_number(ctx.args[0], n)) return fail("使い方: ledger N");
  const LedgerStore store = store_of(ctx);
  std::vector<Transaction> list;
  int rc = 0;
  if (!read_ledger(store, n, list, rc)) return rc;
  std::cout << "no,date,kind,code,shares,price,amount,fee,tax,account\n";
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Transaction& t = list[i];
    std::cout << i + 1 << "," << t.date << "," << kind_key(t.kind) << "," << t.code << ","
              << (t.shares ? fixed_text(t.shares) : "") << ","
              << (t.price ? fixed_text(t.price) : "") << "," << t.amount << "," << t.fee << ","
              << t.tax << "," << account_key(t.account) << "\n";
  }
  return 0;
}

int ledger_delete(Context& ctx) {
  int n = 0;
  if (ctx.args.size() != 2 || !file_number(ctx.args[0], n))
    return fail("使い方: ledger-delete N NO");
  LedgerStore store = store_of(ctx);
  const long long no = parse_integer(ctx.args[1]);
  const std::size_t count = store.load(n).transactions.size();
  if (no < 1 || static_cast<std::size_t>(no) > count) {
    return refuse("台帳に " + ctx.args[1] + " 番の取引はありません（" + std::to_string(count) +
                  "件）");
  }
  const Outcome o = store.remove(n, static_cast<std::size_t>(no - 1));
  if (!o.ok) return o.refused ? refuse(o.message) : fail(o.message);
  std::cout << "deleted=" << no << "\n";
  return 0;
}

int pnl(Context& ctx) {
  std::string error;
  const std::optional<Account> only = account_option(ctx, error);
  if (!error.empty()) return refuse(error);
  std::string year_text;
  const bool has_year = ctx.take_option("--year", year_text);
  int n = 0;
  if (ctx.args.size() != 1 || !file_number(ctx.args[0], n)) {
    return fail("使い方: pnl N [--year Y] [--account A]");
  }
  const int today = static_cast<int>(parse_integer(today_yyyymmdd(ctx.platform)));
  const int year = has_year ? static_cast<int>(parse_integer(year_text)) : today / 10000;
  if (has_year && (year_text.size() != 4 || year < 1900 || year > 9999)) {
    return refuse("年（--year）は YYYY で指定してください: " + year_text);
  }
  const LedgerStore store = store_of(ctx);
  std::vector<Transaction> list;
  int rc = 0;
  if (!read_ledger(store, n, list, rc)) return rc;
  const PnlReport r = pnl_report(store.source(), list, year, today, only ? &*only : nullptr);
  for (const Problem& p : r.problems) {
    std::cerr << "lumenpick-cli: 警告: " << p.index + 1 << "番の取引を数えません: " << p.message
              << "\n";
  }
  for (const HoldingRow& h : r.holdings) {
    std::cout << "holding," << h.code << "," << account_key(h.account) << ","
              << fixed_text(h.shares) << "," << h.unit_cost << ","
              << (h.priced ? to_text(h.value) : "") << ","
              << (h.priced ? to_text(h.unrealised) : "") << "\n";
  }
  std::cout << "realised=" << r.tax.realised << "\n"
            << "dividends=" << r.tax.dividends << "\n"
            << "tax_withheld=" << r.tax.tax_withheld << "\n"
            << "taxable_net=" << r.tax.taxable_net << "\n"
            << "nisa_growth_used=" << r.nisa.growth_used << "\n"
            << "nisa_tsumitate_used=" << r.nisa.tsumitate_used << "\n"
            << "nisa_lifetime_used=" << r.nisa.lifetime_used << "\n"
            << "tax_due=" << r.tax.tax_due << "\n"
            << "tax_balance=" << r.tax.tax_balance << "\n"
            << "year=" << r.year << "\n"
            << "as_of=" << r.as_of << "\n";
  return 0;
}

int perf(Context& ctx) {
  std::string error;
  const std::optional<Account> only = account_option(ctx, error);
  if (!error.empty()) return refuse(error);
  std::string from_text, to_text_;
  const bool has_from = ctx.take_option("--from", from_text);
  const bool has_to = ctx.take_option("--to", to_text_);
  int n = 0;
  if (ctx.args.size() != 1 || !file_number(ctx.args[0], n) || !has_from || !has_to) {
    return fail("使い方: perf N --from D --to D [--account A]");
  }
  const std::string from = portfolio::purchase_date_text(from_text);
  const std::string to = portfolio::purchase_date_text(to_text_);
  if (from.empty()) return refuse("開始日（--from）が日付ではありません: " + from_text);
  if (to.empty()) return refuse("終了日（--to）が日付ではありません: " + to_text_);
  if (from > to) return refuse("開始日（--from）が終了日（--to）より後です。");
  const LedgerStore store = store_of(ctx);
  std::vector<Transaction> list;
  int rc = 0;
  if (!read_ledger(store, n, list, rc)) return rc;
  const Performance p = measure(store.source(), list, static_cast<int>(parse_integer(from)),
                                static_cast<int>(parse_integer(to)), only ? &*only : nullptr);
  if (!p.problem.empty()) return fail(p.problem);
  std::cout << "twr=" << percent(p.twr) << "\n"
            << "irr=" << (p.irr ? percent(*p.irr) : "") << "\n"
            << "benchmark=" << (p.benchmark ? percent(*p.benchmark) : "") << "\n"
            << "base=" << p.base << "\n"
            << "end=" << p.end << "\n"
            << "value=" << format_decimal(std::round(p.points.back().value)) << "\n"
            << "mode=" << (p.cash ? "cash" : "holdings") << "\n";
  return 0;
}

int ledger_import(Context& ctx) {
  std::string map_text;
  const bool has_map = ctx.take_option("--map", map_text);
  int n = 0;
  if (ctx.args.size() != 2 || !file_number(ctx.args[0], n) || !has_map) {
    return fail("使い方: ledger-import N FILE --map date=列名,kind=列名,...");
  }
  std::string problem;
  const std::optional<ColumnMap> map = parse_column_map(map_text, problem);
  if (!map) return refuse(problem);
  std::string bytes;
  if (!read_file_bytes(ctx.args[1], bytes)) return fail(ctx.args[1] + " を読めません");
  const std::optional<std::vector<Transaction>> rows = read_mapped_csv(bytes, *map, problem);
  if (!rows) return refuse(problem);
  LedgerStore store = store_of(ctx);
  const Outcome o = store.add_all(n, *rows);
  if (!o.ok) return o.refused ? refuse(o.message) : fail(o.message);
  std::cout << "imported=" << rows->size() << "\n";
  return 0;
}

int ledger_from_portfolio(Context& ctx) {
  int n = 0;
  if (ctx.args.size() != 1 || !file_number(ctx.args[0], n))
    return fail("使い方: ledger-from-portfolio N");
  LedgerStore store = store_of(ctx);
  const std::size_t before = store.load(n).transactions.size();
  const Outcome o = store.import_portfolio(n);
  if (!o.ok) return o.refused ? refuse(o.message) : fail(o.message);
  std::cout << "imported=" << store.load(n).transactions.size() - before << "\n";
  return 0;
}

int dividends(Context& ctx) {
  std::string year_text;
  const bool has_year = ctx.take_option("--year", year_text);
  int n = 0;
  if (ctx.args.size() != 1 || !file_number(ctx.args[0], n))
    return fail("使い方: dividends N [--year Y]");
  const int today = static_cast<int>(parse_integer(today_yyyymmdd(ctx.platform)));
  const int year = has_year ? static_cast<int>(parse_integer(year_text)) : today / 10000;
  const LedgerStore store = store_of(ctx);
  std::vector<Transaction> list;
  int rc = 0;
  if (!read_ledger(store, n, list, rc)) return rc;
  const DividendCalendar cal = dividend_calendar(store.source(), list, year, today);
  for (int m = 0; m < 12; ++m) {
    std::cout << "month," << m + 1 << "," << cal.actual[static_cast<std::size_t>(m)] << ","
              << cal.expected[static_cast<std::size_t>(m)] << "\n";
  }
  for (const ExpectedDividend& e : cal.rows) {
    std::cout << "expected," << e.code << "," << account_key(e.account) << ","
              << fixed_text(e.shares) << "," << format_decimal(e.dps) << "," << e.amount << ","
              << e.month << "\n";
  }
  return 0;
}

}  // namespace

LP_CLI_COMMAND("ledger-add",
               "ledger-add N --date D --kind buy|sell|dividend|deposit|withdraw [--code C] "
               "[--shares S] [--price P] [--amount A] [--fee F] [--tax T] --account "
               "tokutei|tokutei-nowh|ippan|nisa-growth|nisa-tsumitate",
               "adds a transaction to the ledger of portfolio N (user/ledger/ptfN.csv): a buy or "
               "sell with --code, --shares and --price (and --fee), a dividend (gross) with --code "
               "and --amount (--tax: the tax withheld, 20.315 % outside NISA when omitted), a "
               "deposit or withdrawal with --amount. A sell of more than is held, a trade on a "
               "day the code has no price or a NISA buy beyond the allowance is refused with the "
               "figures: nothing is written, exit 2. Prints the entry as key=value lines",
               ledger_add);
LP_CLI_COMMAND("ledger", "ledger N",
               "the ledger of portfolio N as CSV: no,date,kind,code,shares,price,amount,fee,tax,"
               "account",
               ledger_show);
LP_CLI_COMMAND("ledger-delete", "ledger-delete N NO",
               "deletes transaction NO (the no column of ledger N); refused (exit 2) when a later "
               "sell would then sell more than is held",
               ledger_delete);
LP_CLI_COMMAND("pnl", "pnl N [--year Y] [--account A]",
               "the ledger's holdings at the year's end (today within the current year) as "
               "holding,CODE,ACCOUNT,SHARES,COST_PER_SHARE,VALUE,UNREALISED, then realised=, "
               "dividends= (gross), tax_withheld=, taxable_net=, nisa_growth_used=, "
               "nisa_tsumitate_used=, nisa_lifetime_used=, tax_due=, tax_balance=, year=, as_of= "
               "(yen)",
               pnl);
LP_CLI_COMMAND("perf", "perf N --from D --to D [--account A]",
               "returns of the ledger over the period: twr= (time-weighted, cumulative), irr= "
               "(money-weighted, annualised; empty when undefined), benchmark= (the reference "
               "index over the same days), in % to 4 decimals; then base=, end=, value=, mode=",
               perf);
LP_CLI_COMMAND("ledger-import", "ledger-import N FILE --map MAP",
               "adds the rows of a CSV file (CP932 or UTF-8) to the ledger of portfolio N through "
               "a column mapping of the fields date, kind, code, shares, price, amount, fee, tax "
               "and account to the file's column names, e.g. --map date=約定日,code=銘柄コード,... "
               "(\"account==tokutei\" gives one value for every row); each row is checked as "
               "ledger-add checks it, all or nothing (exit 2)",
               ledger_import);
LP_CLI_COMMAND("ledger-from-portfolio", "ledger-from-portfolio N",
               "「ポートフォリオから取込」: each holding of ptfN.csv becomes a buy in tokutei "
               "(特定(源泉あり)) on its date at its price; ptfN.csv is not changed",
               ledger_from_portfolio);
LP_CLI_COMMAND(
    "dividends", "dividends N [--year Y]",
    "the dividend calendar of portfolio N: month,M,ACTUAL,EXPECTED for each month "
    "(actual: entered, gross; expected: what is held today times the forecast DPS, in "
    "the month the fiscal year ends), then expected,CODE,ACCOUNT,SHARES,DPS,AMOUNT,MONTH",
    dividends);

}  // namespace lp::cli
