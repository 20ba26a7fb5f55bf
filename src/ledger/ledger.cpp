#include "ledger/ledger.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/file_lock.h"
#include "common/numbers.h"
#include "portfolio/portfolio_model.h"
#include "pricedb/formats.h"
#include "pricedb/fundamentals.h"

namespace lp::ledger {

namespace {

// The name of a code from its newest series file on or before `date` (header field 3).
std::string stock_name(const std::string& db_folder, std::string_view code, int date) {
  for (int y = date / 10000; y >= date / 10000 - 2; --y) {
    CsvFile f;
    if (!f.open(series_file_path(db_folder, y, code))) continue;
    f.skip(2);
    return clean_company_marker(cp932_to_utf8(f.next_or_empty()));
  }
  return {};
}

}  // namespace

PnlReport pnl_report(const SeriesSource& src, const std::vector<Transaction>& list, int year,
                     int today, const Account* only) {
  PnlReport out;
  out.year = year;
  out.as_of = std::min(year * 10000 + 1231, today > 0 ? today : 99991231);
  const Replay r = replay(list, load_splits(src, ledger_codes(list)), out.as_of);
  out.problems = r.problems;
  for (const Position& p : r.positions) {
    if (p.shares <= 0 || (only && p.account != *only)) continue;
    HoldingRow h;
    h.code = p.code;
    h.account = p.account;
    h.shares = p.shares;
    h.unit_cost = p.unit_cost();
    h.cost = p.cost;
    if (const auto c = latest_close(src.db_folder, p.code, out.as_of)) {
      h.priced = true;
      h.price_date = c->first;
      h.close = c->second;
      h.value = round_half_even(static_cast<double>(p.shares) / kFixed * c->second);
      h.unrealised = h.value - round_half_even(static_cast<double>(h.unit_cost) *
                                               static_cast<double>(p.shares) / kFixed);
      h.name = stock_name(src.db_folder, p.code, h.price_date);
    }
    out.holdings.push_back(std::move(h));
  }
  for (const Sale& s : r.sales) {
    if (s.date / 10000 == year && (!only || s.account == *only)) out.sales.push_back(s);
  }
  out.tax = year_tax(r, year, only);
  out.nisa = nisa_use(r, year);
  if (only && !is_nisa(*only)) out.nisa = NisaUse{};
  if (only && *only == Account::nisa_growth) out.nisa.tsumitate_used = 0;
  if (only && *only == Account::nisa_tsumitate) out.nisa.growth_used = 0;
  return out;
}

DividendCalendar dividend_calendar(const SeriesSource& src, const std::vector<Transaction>& list,
                                   int year, int today) {
  DividendCalendar cal;
  cal.year = year;
  for (const Transaction& t : list) {
    if (t.kind == Kind::dividend && t.date / 10000 == year) {
      cal.actual[static_cast<std::size_t>(t.date / 100 % 100 - 1)] += t.amount;
    }
  }
  const Replay r = replay(list, load_splits(src, ledger_codes(list)), today);
  fins::FiguresBook book(src, to_text(today));
  for (const Position& p : r.positions) {
    if (p.shares <= 0) continue;
    const fins::Figures* f = book.figures(p.code);
    if (!f || !f->dps || *f->dps <= 0) continue;
    // The month the fiscal year ends, from the newest results known today.
    int month = 0;
    for (const fins::Disclosure& d : fins::disclosures_of(src, p.code)) {
      if (d.date > today) break;
      const int end = static_cast<int>(parse_integer(d[fins::CurFYEn]));
      if (end > 0) month = end / 100 % 100;
    }
    if (month < 1 || month > 12) continue;
    ExpectedDividend e{p.code,
                       p.account,
                       p.shares,
                       *f->dps,
                       round_half_even(*f->dps * static_cast<double>(p.shares) / kFixed),
                       month};
    cal.expected[static_cast<std::size_t>(month - 1)] += e.amount;
    cal.rows.push_back(std::move(e));
  }
  return cal;
}

LedgerStore::LedgerStore(SeriesSource src, std::string user_folder, std::function<int()> today)
    : src_(std::move(src)), user_folder_(std::move(user_folder)), today_(std::move(today)) {}

LoadResult LedgerStore::load(int file_no) const {
  return load_ledger(path(file_no));
}

std::string LedgerStore::check_market(const Transaction& t) const {
  // Money and dividends may be entered up to today; a trade needs the day's price, so it may
  // not be after the database's latest trading day.
  const int now = today() > 0 ? today() : 99991231;
  if (!is_trade(t.kind) && t.date > now) {
    return "日付（--date）" + date_text(t.date) + " が今日 " + date_text(now) + " より後です。";
  }
  if (!t.code.empty()) {
    // The code becomes part of a path: plain letters and digits only.
    const bool plain = t.code.size() <= 8 && std::all_of(t.code.begin(), t.code.end(), [](char c) {
                         return std::isalnum(static_cast<unsigned char>(c));
                       });
    if (!plain) return "コード（--code）が正しくありません: " + t.code;
  }
  if (!is_trade(t.kind)) return {};
  const int latest = latest_trading_day(src_, now);
  if (latest > 0 && t.date > latest) {
    return "日付（--date）" + date_text(t.date) + " が最新の取引日 " + date_text(latest) +
           " より後です。";
  }
  // A day before the database begins cannot be checked: a holding bought long ago is taken as
  // entered.
  const std::vector<int> years = years_present(src_.db_folder);
  if (years.empty() || t.date / 10000 < years.back()) return {};
  if (t.date / 10000 == years.back()) {
    const CloseSeries first =
        load_closes(src_.db_folder, src_.reference_code, years.back(), years.back());
    if (first.empty() || t.date < first.dates.front()) return {};
  }
  const CloseSeries s = load_closes(src_.db_folder, t.code, t.date / 10000, t.date / 10000);
  if (!close_on(s, t.date)) {
    const auto before = close_on_or_before(s, t.date);
    return "コード " + t.code + " は " + date_text(t.date) + " に価格がありません（" +
           (before ? "直前の取引日は " + date_text(before->first) + "、終値 " +
                         format_decimal(before->second) + "円"
                   : std::string("その年に取引がありません")) +
           "）。売買はその銘柄の取引があった日に入力してください。";
  }
  return {};
}

Outcome LedgerStore::change(
    int file_no,
    const std::function<std::string(std::vector<Transaction>&, std::vector<std::size_t>&)>& edit) {
  const std::string target = path(file_no);
  std::error_code ec;
  std::filesystem::create_directories(ledger_folder(user_folder_), ec);
  std::string lock_error;
  const std::unique_ptr<FileLock> lock = FileLock::acquire(target, lock_timeout_, lock_error);
  if (!lock) return {false, false, lock_error};
  LoadResult loaded = load_ledger(target);
  const std::string name = "ledger/ptf" + std::to_string(file_no) + ".csv";
  if (loaded.status == LoadStatus::unreadable)
    return {false, false, "エラー：" + name + " を開けません。"};
  if (loaded.status == LoadStatus::damaged) {
    return {false, false,
            "エラー：" + name + " の内容を読み取れません（" + loaded.problem +
                "）。ファイルは変更しません。"};
  }
  std::vector<Transaction> list = loaded.transactions;
  const SplitTable splits = load_splits(src_, ledger_codes(list));
  const Replay before = replay(list, splits);
  std::vector<std::size_t> made;
  if (std::string refused = edit(list, made); !refused.empty()) return {false, true, refused};
  // Codes that are new to the ledger bring their corrections.
  SplitTable after_splits = splits;
  for (const std::string& code : ledger_codes(list)) {
    if (!after_splits.count(code)) {
      SplitTable one = load_splits(src_, {code});
      after_splits.insert(one.begin(), one.end());
    }
  }
  const Replay after = replay(list, after_splits);
  // Refused: an entry made here that the replay refuses, or any refusal the ledger did not have
  // (an earlier sell that leaves a later one without shares).
  for (const Problem& p : after.problems) {
    const bool new_entry = std::find(made.begin(), made.end(), p.index) != made.end();
    const bool known = std::any_of(before.problems.begin(), before.problems.end(),
                                   [&](const Problem& q) { return q.message == p.message; });
    if (new_entry || !known) return {false, true, p.message};
  }
  if (!save_ledger(target, list)) return {false, false, "エラー：" + name + " に書き込めません。"};
  return {true, false, {}};
}

Outcome LedgerStore::add(int file_no, const Transaction& t) {
  return add_all(file_no, {t});
}

Outcome LedgerStore::add_all(int file_no, const std::vector<Transaction>& entries) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (std::string bad = check_market(entries[i]); !bad.empty()) {
      return {false, true, entries.size() > 1 ? std::to_string(i + 1) + "件目: " + bad : bad};
    }
  }
  return change(file_no, [&](std::vector<Transaction>& list, std::vector<std::size_t>& made) {
    // Inserted one by one; the indexes of those already in move up with each later insert.
    for (const Transaction& t : entries) {
      const std::size_t at = insert_in_order(list, t);
      for (std::size_t& m : made) {
        if (m >= at) ++m;
      }
      made.push_back(at);
    }
    return std::string();
  });
}

Outcome LedgerStore::replace(int file_no, std::size_t index, const Transaction& t,
                             const std::vector<Transaction>* shown) {
  if (std::string bad = check_market(t); !bad.empty()) return {false, true, bad};
  return change(file_no, [&](std::vector<Transaction>& list, std::vector<std::size_t>& made) {
    if ((shown && list != *shown) || index >= list.size()) {
      return std::string(
          "台帳は他で変更されていました。表示し直してからもう一度操作してください。");
    }
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
    made.push_back(insert_in_order(list, t));
    return std::string();
  });
}

Outcome LedgerStore::remove(int file_no, std::size_t index, const std::vector<Transaction>* shown) {
  return change(file_no, [&](std::vector<Transaction>& list, std::vector<std::size_t>&) {
    if ((shown && list != *shown) || index >= list.size()) {
      return std::string(
          "台帳は他で変更されていました。表示し直してからもう一度操作してください。");
    }
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
    return std::string();
  });
}

Outcome LedgerStore::import_portfolio(int file_no) {
  const portfolio::LoadResult holdings =
      portfolio::load_holdings(portfolio::holdings_path(user_folder_, file_no), false);
  if (holdings.status == portfolio::LoadStatus::kMissing || holdings.holdings.empty()) {
    return {false, true, portfolio::holdings_file_name(file_no) + " に保有銘柄がありません。"};
  }
  if (!holdings.writable()) {
    return {false, false,
            "エラー：" + portfolio::holdings_file_name(file_no) + " を読み取れません。"};
  }
  std::vector<Transaction> list;
  for (std::size_t i = 0; i < holdings.holdings.size(); ++i) {
    const portfolio::Holding& h = holdings.holdings[i];
    Entry e{h.date, "buy", h.code, h.shares, h.price, "", "", "", "tokutei"};
    // The stored texts carry up to four decimals already; separators are not in the file.
    std::string problem;
    std::optional<Transaction> t = transaction_from_entry(e, problem);
    if (!t) {
      return {false, true,
              portfolio::holdings_file_name(file_no) + " の " + std::to_string(i + 1) + "番（" +
                  h.code + "）: " + problem};
    }
    list.push_back(std::move(*t));
  }
  return add_all(file_no, list);
}

// ---- a CSV file through a column mapping ----

namespace {

constexpr std::array<std::string_view, 9> kFields = {"date",   "kind", "code", "shares", "price",
                                                     "amount", "fee",  "tax",  "account"};

std::vector<std::string> csv_line_fields(std::string_view line) {
  std::vector<std::string> out;
  FieldReader reader(line);
  std::string_view f;
  while (reader.next(f)) out.emplace_back(trim_view(f));
  if (!line.empty() && line.back() == ',') out.emplace_back();
  return out;
}

}  // namespace

std::optional<ColumnMap> parse_column_map(std::string_view text, std::string& problem) {
  ColumnMap map;
  std::size_t p = 0;
  while (p <= text.size()) {
    std::size_t e = text.find(',', p);
    if (e == std::string_view::npos) e = text.size();
    const std::string_view item = trim_view(text.substr(p, e - p));
    p = e + 1;
    if (item.empty()) continue;
    const std::size_t eq = item.find('=');
    const std::string_view key = trim_view(item.substr(0, eq));
    const auto it = std::find(kFields.begin(), kFields.end(), key);
    if (eq == std::string_view::npos || it == kFields.end()) {
      problem = "--map の項目が読めません: " + std::string(item) +
                "（date、kind、code、shares、price、amount、fee、tax、account = 列名）";
      return std::nullopt;
    }
    const std::size_t field = static_cast<std::size_t>(it - kFields.begin());
    std::string_view value = trim_view(item.substr(eq + 1));
    // "kind==買付" or "account==nisa-growth": one value for every row.
    if (!value.empty() && value.front() == '=') {
      map.fixed[field] = std::string(trim_view(value.substr(1)));
    } else {
      map.column[field] = std::string(value);
    }
  }
  for (std::size_t f : {std::size_t{0}, std::size_t{1}, std::size_t{8}}) {
    if (map.column[f].empty() && map.fixed[f].empty()) {
      problem = "--map に " + std::string(kFields[f]) + " がありません。";
      return std::nullopt;
    }
  }
  return map;
}

std::optional<std::vector<Transaction>> read_mapped_csv(std::string_view bytes,
                                                        const ColumnMap& map,
                                                        std::string& problem) {
  std::string text = cp932_to_utf8(bytes);
  // A file saved as UTF-8 with a BOM reads as well (its bytes decode to U+FFFD as CP932).
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") text = std::string(bytes.substr(3));
  std::vector<Transaction> out;
  std::array<int, 9> at{};
  at.fill(-1);
  bool header_seen = false;
  bool refused = false;
  for_each_line(text, [&](std::string_view line, int number) {
    const std::vector<std::string> f = csv_line_fields(line);
    if (!header_seen) {
      // The header is the first line that names every mapped column (brokers put a few
      // lines of their own above it).
      std::array<int, 9> found{};
      found.fill(-1);
      bool all = true;
      for (std::size_t k = 0; k < kFields.size(); ++k) {
        if (map.column[k].empty()) continue;
        const auto it = std::find(f.begin(), f.end(), map.column[k]);
        if (it == f.end()) {
          all = false;
          break;
        }
        found[k] = static_cast<int>(it - f.begin());
      }
      if (all) {
        at = found;
        header_seen = true;
      }
      return true;
    }
    auto value = [&](std::size_t k) -> std::string {
      if (!map.fixed[k].empty()) return map.fixed[k];
      if (at[k] < 0 || at[k] >= static_cast<int>(f.size())) return {};
      return f[static_cast<std::size_t>(at[k])];
    };
    Entry entry{value(0), value(1), value(2), value(3), value(4),
                value(5), value(6), value(7), value(8)};
    // Brokers print amounts with separators and "-" for none.
    for (std::string* s : {&entry.shares, &entry.price, &entry.amount, &entry.fee, &entry.tax}) {
      if (*s == "-" || *s == "--") s->clear();
    }
    // Brokers' words for kinds and accounts, read here and handed on as ours.
    const std::optional<Kind> kind = kind_of(entry.kind, true);
    if (kind) entry.kind = std::string(kind_key(*kind));
    if (const std::optional<Account> a = account_of(entry.account, true)) {
      entry.account = std::string(account_key(*a));
    }
    if (kind && is_trade(*kind)) {
      entry.amount.clear();  // a broker's 受渡金額; the trade is its shares and price
      entry.tax.clear();
    } else if (kind) {
      if (*kind != Kind::dividend) entry.code.clear();
      entry.shares.clear();
      entry.price.clear();
      entry.fee.clear();
    }
    std::string why;
    std::optional<Transaction> t = transaction_from_entry(entry, why);
    if (!t) {
      problem = std::to_string(number) + "行目: " + why;
      refused = true;
      return false;
    }
    out.push_back(std::move(*t));
    return true;
  });
  if (refused) return std::nullopt;
  if (!header_seen) {
    problem = "--map の列名を並べた見出しの行がファイルにありません。";
    return std::nullopt;
  }
  return out;
}

}  // namespace lp::ledger
