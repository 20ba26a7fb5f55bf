#include "ledger/ledger_file.h"

#include <algorithm>
#include <cctype>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "portfolio/portfolio_model.h"

namespace lp::ledger {

namespace {

struct Names {
  Kind kind;
  std::string_view name, key;
};
constexpr Names kKinds[] = {{Kind::buy, "買付", "buy"},
                            {Kind::sell, "売却", "sell"},
                            {Kind::dividend, "配当", "dividend"},
                            {Kind::deposit, "入金", "deposit"},
                            {Kind::withdraw, "出金", "withdraw"}};

struct AccountNames {
  Account account;
  std::string_view name, key;
};
constexpr AccountNames kAccountNames[] = {
    {Account::tokutei, "特定(源泉あり)", "tokutei"},
    {Account::tokutei_nowh, "特定(源泉なし)", "tokutei-nowh"},
    {Account::ippan, "一般", "ippan"},
    {Account::nisa_growth, "NISA成長", "nisa-growth"},
    {Account::nisa_tsumitate, "NISAつみたて", "nisa-tsumitate"}};

// Full-width letters, digits and brackets as ASCII, blanks dropped: what brokers' files and
// input methods write reads the same as what this program writes.
std::string folded(std::string_view text) {
  std::string out;
  for (char32_t c : to_u32(trim_view(text))) {
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;
    if (c == U' ' || c == 0x3000) continue;
    if (c < 0x80) {
      out.push_back(static_cast<char>(std::tolower(static_cast<int>(c))));
    } else {
      out += to_utf8(c);
    }
  }
  return out;
}

bool contains(std::string_view s, std::string_view part) {
  return s.find(part) != std::string_view::npos;
}

std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> fields;
  FieldReader reader(line);
  std::string_view f;
  while (reader.next(f)) fields.push_back(f);
  if (!line.empty() && line.back() == ',') fields.emplace_back();
  return fields;
}

}  // namespace

std::string_view kind_name(Kind k) {
  for (const Names& n : kKinds) {
    if (n.kind == k) return n.name;
  }
  return {};
}

std::string_view kind_key(Kind k) {
  for (const Names& n : kKinds) {
    if (n.kind == k) return n.key;
  }
  return {};
}

std::optional<Kind> kind_of(std::string_view text, bool loose) {
  const std::string t = folded(text);
  for (const Names& n : kKinds) {
    if (t == n.name || t == n.key) return n.kind;
  }
  if (!loose) return std::nullopt;
  // Brokers' words: 現物買 / 株式現物買 / 買付 / 買, 現物売 / 売付 / 売, 配当金 / 分配金.
  if (contains(t, "配当") || contains(t, "分配")) return Kind::dividend;
  if (contains(t, "入金")) return Kind::deposit;
  if (contains(t, "出金")) return Kind::withdraw;
  if (contains(t, "買")) return Kind::buy;
  if (contains(t, "売")) return Kind::sell;
  return std::nullopt;
}

std::string_view account_name(Account a) {
  for (const AccountNames& n : kAccountNames) {
    if (n.account == a) return n.name;
  }
  return {};
}

std::string_view account_key(Account a) {
  for (const AccountNames& n : kAccountNames) {
    if (n.account == a) return n.key;
  }
  return {};
}

std::optional<Account> account_of(std::string_view text, bool loose) {
  const std::string t = folded(text);
  for (const AccountNames& n : kAccountNames) {
    if (t == folded(n.name) || t == n.key) return n.account;
  }
  if (!loose) return std::nullopt;
  if (contains(t, "nisa") || contains(t, "ニーサ")) {
    if (contains(t, "つみたて") || contains(t, "積立") || contains(t, "tsumitate")) {
      return Account::nisa_tsumitate;
    }
    return Account::nisa_growth;
  }
  if (contains(t, "つみたて")) return Account::nisa_tsumitate;
  if (contains(t, "成長")) return Account::nisa_growth;
  if (contains(t, "特定")) {
    return contains(t, "なし") || contains(t, "無") ? Account::tokutei_nowh : Account::tokutei;
  }
  if (contains(t, "一般")) return Account::ippan;
  return std::nullopt;
}

bool is_nisa(Account a) {
  return a == Account::nisa_growth || a == Account::nisa_tsumitate;
}

std::optional<std::int64_t> parse_fixed(std::string_view text, int decimals) {
  std::string t;
  for (char32_t c : to_u32(trim_view(text))) {
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;
    if (c == U',' || c == 0x3001) continue;  // separators, 、
    if (c == 0x3002) c = U'.';               // 。
    if (c > 0x7F) return std::nullopt;
    t.push_back(static_cast<char>(c));
  }
  const std::size_t point = t.find('.');
  const std::string whole = t.substr(0, point);
  const std::string fraction = point == std::string::npos ? std::string() : t.substr(point + 1);
  auto digits = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if ((whole.empty() && fraction.empty()) || !digits(whole) || !digits(fraction)) {
    return std::nullopt;
  }
  if (point != std::string::npos && fraction.empty() && whole.empty()) return std::nullopt;
  // Trailing zeros of the fraction do not count as decimals ("1.50" is fine with one).
  std::string frac = fraction;
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (static_cast<int>(frac.size()) > decimals || whole.size() > 13) return std::nullopt;
  std::int64_t v = 0;
  for (char c : whole) v = v * 10 + (c - '0');
  for (int i = 0; i < decimals; ++i) {
    v = v * 10 + (i < static_cast<int>(frac.size()) ? frac[static_cast<std::size_t>(i)] - '0' : 0);
  }
  return v;
}

std::string fixed_text(std::int64_t value, int decimals) {
  std::int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const bool negative = value < 0;
  const std::uint64_t a =
      negative ? static_cast<std::uint64_t>(-(value + 1)) + 1 : static_cast<std::uint64_t>(value);
  std::string out = (negative ? "-" : "") + std::to_string(a / static_cast<std::uint64_t>(scale));
  std::string frac = std::to_string(a % static_cast<std::uint64_t>(scale));
  frac.insert(0, static_cast<std::size_t>(decimals) - frac.size(), '0');
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (!frac.empty()) out += "." + frac;
  return out;
}

std::int64_t trade_amount(std::int64_t price, std::int64_t shares) {
  const __int128 p = static_cast<__int128>(price) * shares;
  const __int128 unit = static_cast<__int128>(kFixed) * kFixed;
  __int128 q = p / unit;
  const __int128 r = p % unit;
  if (r * 2 > unit || (r * 2 == unit && (q % 2) != 0)) ++q;
  return static_cast<std::int64_t>(q);
}

std::int64_t withholding_tax(std::int64_t yen) {
  if (yen <= 0) return 0;
  return yen * 15315 / 100000 + yen * 5 / 100;
}

std::string ledger_folder(const std::string& user_folder) {
  return user_folder + "ledger/";
}

std::string ledger_path(const std::string& user_folder, int file_no) {
  return ledger_folder(user_folder) + "ptf" + std::to_string(file_no) + ".csv";
}

std::string transaction_line(const Transaction& t) {
  CsvWriter w;
  w.field(to_text(t.date))
      .field(kind_name(t.kind))
      .field(t.code)
      .field(t.shares ? fixed_text(t.shares) : std::string())
      .field(t.price ? fixed_text(t.price) : std::string())
      .field(static_cast<long long>(t.amount))
      .field(static_cast<long long>(t.fee))
      .field(static_cast<long long>(t.tax))
      .field(account_name(t.account));
  std::string s = w.text();
  return s;
}

std::string ledger_text(const std::vector<Transaction>& list) {
  std::string out = std::string(kHeader) + "\r\n";
  for (const Transaction& t : list) out += transaction_line(t) + "\r\n";
  return out;
}

bool save_ledger(const std::string& path, const std::vector<Transaction>& list) {
  return write_file_atomic(path, utf8_to_cp932(ledger_text(list)), true);
}

std::optional<Transaction> parse_transaction_line(std::string_view line, std::string& problem) {
  const std::vector<std::string_view> f = split_fields(line);
  if (f.size() != 9) {
    problem = "項目数が" + std::to_string(f.size()) + "です（9のはず）。";
    return std::nullopt;
  }
  Transaction t;
  const std::string date = portfolio::purchase_date_text(f[0]);
  const std::optional<Kind> kind = kind_of(f[1]);
  const std::optional<Account> account = account_of(f[8]);
  if (date.empty() || !kind || !account) {
    problem = date.empty() ? "日付が読めません。"
              : !kind      ? "区分が読めません。"
                           : "口座が読めません。";
    return std::nullopt;
  }
  t.date = static_cast<int>(parse_integer(date));
  t.kind = *kind;
  t.account = *account;
  t.code = std::string(trim_view(f[2]));
  const std::optional<std::int64_t> shares = f[3].empty() ? 0 : parse_fixed(f[3], 4);
  const std::optional<std::int64_t> price = f[4].empty() ? 0 : parse_fixed(f[4], 4);
  const std::optional<std::int64_t> amount = f[5].empty() ? 0 : parse_fixed(f[5], 0);
  const std::optional<std::int64_t> fee = f[6].empty() ? 0 : parse_fixed(f[6], 0);
  const std::optional<std::int64_t> tax = f[7].empty() ? 0 : parse_fixed(f[7], 0);
  if (!shares || !price || !amount || !fee || !tax) {
    problem = "数値が読めません。";
    return std::nullopt;
  }
  t.shares = *shares;
  t.price = *price;
  t.amount = *amount;
  t.fee = *fee;
  t.tax = *tax;
  const bool needs_code = t.kind == Kind::buy || t.kind == Kind::sell || t.kind == Kind::dividend;
  if (needs_code == t.code.empty() || (is_trade(t.kind) && (t.shares <= 0 || t.price <= 0))) {
    problem = "区分に必要な項目がありません。";
    return std::nullopt;
  }
  if (is_trade(t.kind) && t.amount == 0) t.amount = trade_amount(t.price, t.shares);
  return t;
}

LoadResult load_ledger(const std::string& path) {
  LoadResult result;
  std::string bytes;
  if (!read_file_bytes(path, bytes)) {
    std::error_code ec;
    result.status =
        std::filesystem::exists(path, ec) ? LoadStatus::unreadable : LoadStatus::missing;
    return result;
  }
  const std::string text = cp932_to_utf8(bytes);
  for_each_line(text, [&](std::string_view line, int number) {
    if (number == 1 && line.substr(0, 6) == "日付") return true;  // the header
    std::string problem;
    std::optional<Transaction> t = parse_transaction_line(line, problem);
    if (!t) {
      if (result.problem.empty()) result.problem = std::to_string(number) + "行目: " + problem;
      return true;
    }
    result.transactions.push_back(std::move(*t));
    return true;
  });
  result.status = result.problem.empty() ? LoadStatus::loaded : LoadStatus::damaged;
  return result;
}

void for_each_line(std::string_view text,
                   const std::function<bool(std::string_view line, int number)>& take) {
  int number = 0;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t e = text.find_first_of("\r\n", p);
    if (e == std::string_view::npos) e = text.size();
    const std::string_view line = trim_view(text.substr(p, e - p));
    ++number;
    p = e;
    if (p < text.size() && text[p] == '\r') ++p;
    if (p < text.size() && text[p] == '\n') ++p;
    if (!line.empty() && !take(line, number)) return;
  }
}

std::size_t insert_in_order(std::vector<Transaction>& list, Transaction t) {
  const auto at = std::upper_bound(list.begin(), list.end(), t.date,
                                   [](int date, const Transaction& x) { return date < x.date; });
  const std::size_t index = static_cast<std::size_t>(at - list.begin());
  list.insert(at, std::move(t));
  return index;
}

std::optional<Transaction> transaction_from_entry(const Entry& e, std::string& problem) {
  Transaction t;
  const std::string date = portfolio::purchase_date_text(e.date);
  if (date.empty()) {
    problem =
        "日付（--date）を YYYYMMDD、YYYY/MM/DD または YYYY-MM-DD で入力してください: " + e.date;
    return std::nullopt;
  }
  t.date = static_cast<int>(parse_integer(date));
  const std::optional<Kind> kind = kind_of(e.kind);
  if (!kind) {
    problem = "区分（--kind）は buy、sell、dividend、deposit、withdraw のどれかです: " + e.kind;
    return std::nullopt;
  }
  t.kind = *kind;
  const std::optional<Account> account = account_of(e.account);
  if (!account) {
    problem =
        "口座（--account）は tokutei、tokutei-nowh、ippan、nisa-growth、nisa-tsumitate の"
        "どれかです: " +
        e.account;
    return std::nullopt;
  }
  t.account = *account;
  auto number = [&](const std::string& text, const char* field, int decimals, std::int64_t& out,
                    bool positive) {
    const std::optional<std::int64_t> v = parse_fixed(text, decimals);
    if (!v || (positive && *v <= 0)) {
      problem = std::string(field) + " が正しくありません（" +
                (decimals ? "小数4桁までの" : "円単位の整数の") +
                (positive ? "正の数" : "0以上の数") + "）: " + text;
      return false;
    }
    out = *v;
    return true;
  };
  const bool has_code = !trim_view(e.code).empty();
  t.code = portfolio::code_text(e.code);
  if (is_trade(t.kind)) {
    if (!has_code) {
      problem = "コード（--code）がありません。";
      return std::nullopt;
    }
    if (e.shares.empty() || e.price.empty()) {
      problem = std::string(e.shares.empty() ? "株数（--shares）" : "単価（--price）") +
                "がありません。買付と売却には株数と単価が必要です。";
      return std::nullopt;
    }
    if (!number(e.shares, "株数（--shares）", 4, t.shares, true)) return std::nullopt;
    if (t.shares > 1'000'000'000LL * kFixed) {
      problem = "株数（--shares）が大きすぎます（1,000,000,000 まで）: " + e.shares;
      return std::nullopt;
    }
    if (!number(e.price, "単価（--price）", 4, t.price, true)) return std::nullopt;
    if (t.price > 100'000'000LL * kFixed) {
      problem = "単価（--price）が大きすぎます（100,000,000 円まで）: " + e.price;
      return std::nullopt;
    }
    if (!e.amount.empty()) {
      problem = "金額（--amount）は配当と入出金のものです。買付と売却は株数と単価で入力します。";
      return std::nullopt;
    }
    t.amount = trade_amount(t.price, t.shares);
    if (!e.fee.empty() && !number(e.fee, "手数料（--fee）", 0, t.fee, false)) return std::nullopt;
    if (!e.tax.empty()) {
      problem = "税額（--tax）は配当の源泉徴収税額です。";
      return std::nullopt;
    }
    return t;
  }
  if (!e.shares.empty() || !e.price.empty()) {
    problem = std::string(e.shares.empty() ? "単価（--price）" : "株数（--shares）") +
              "は買付と売却のものです。配当と入出金は金額（--amount）で入力します。";
    return std::nullopt;
  }
  if (e.amount.empty()) {
    problem = "金額（--amount）がありません。";
    return std::nullopt;
  }
  if (!number(e.amount, "金額（--amount）", 0, t.amount, true)) return std::nullopt;
  if (!e.fee.empty()) {
    problem = "手数料（--fee）は買付と売却のものです。";
    return std::nullopt;
  }
  if (t.kind == Kind::dividend) {
    if (!has_code) {
      problem = "コード（--code）がありません。配当には銘柄のコードが必要です。";
      return std::nullopt;
    }
    if (e.tax.empty()) {
      t.tax = is_nisa(t.account) ? 0 : withholding_tax(t.amount);
    } else if (!number(e.tax, "税額（--tax）", 0, t.tax, false)) {
      return std::nullopt;
    } else if (t.tax > t.amount) {
      problem = "税額（--tax）" + to_text(t.tax) + " 円が配当の金額 " + to_text(t.amount) +
                " 円を超えています。";
      return std::nullopt;
    }
    return t;
  }
  if (has_code) {
    problem = "入金と出金にコード（--code）はありません。";
    return std::nullopt;
  }
  if (!e.tax.empty()) {
    problem = "税額（--tax）は配当の源泉徴収税額です。";
    return std::nullopt;
  }
  t.code.clear();
  return t;
}

}  // namespace lp::ledger
