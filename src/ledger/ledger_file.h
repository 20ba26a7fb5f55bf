// The holdings ledger of a portfolio: user/ledger/ptfN.csv beside the ten holdings lists, one
// transaction a line (買付, 売却, 配当, 入金, 出金) with its account. CP932, CR LF, replaced whole
// under the file's lock like the holdings files. Money is whole yen; shares and prices are
// fixed-point with four decimals (a consolidation may leave a fraction of a share).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lp::ledger {

enum class Kind { buy, sell, dividend, deposit, withdraw };
enum class Account { tokutei, tokutei_nowh, ippan, nisa_growth, nisa_tsumitate };
inline constexpr int kAccountCount = 5;
inline constexpr std::array<Account, kAccountCount> kAccounts = {
    Account::tokutei, Account::tokutei_nowh, Account::ippan, Account::nisa_growth,
    Account::nisa_tsumitate};

// Shares and prices are held in units of 1/10000.
inline constexpr std::int64_t kFixed = 10000;

struct Transaction {
  int date = 0;  // yyyymmdd
  Kind kind = Kind::buy;
  std::string code;         // empty for 入金 and 出金
  std::int64_t shares = 0;  // 1/10000 share
  std::int64_t price = 0;   // 1/10000 yen
  std::int64_t amount = 0;  // yen: a trade's 約定金額, a dividend's gross, a cash entry's sum
  std::int64_t fee = 0;     // yen, buys and sells
  std::int64_t tax = 0;     // yen withheld from a dividend
  Account account = Account::tokutei;

  bool operator==(const Transaction&) const = default;
};

// 買付 / 売却 / 配当 / 入金 / 出金, and the command line's buy / sell / dividend / deposit /
// withdraw.
std::string_view kind_name(Kind k);
std::string_view kind_key(Kind k);
// Either spelling; with `loose` also the words brokers' files use (買, 売, 現物買, 現物売, 売付,
// 配当金...).
std::optional<Kind> kind_of(std::string_view text, bool loose = false);
// 特定(源泉あり) ..., and tokutei / tokutei-nowh / ippan / nisa-growth / nisa-tsumitate.
std::string_view account_name(Account a);
std::string_view account_key(Account a);
// Either spelling; with `loose` also the short forms brokers print (特定, 一般, NISA(成長投資枠),
// つみたて...).
std::optional<Account> account_of(std::string_view text, bool loose = false);
bool is_nisa(Account a);
inline bool is_trade(Kind k) {
  return k == Kind::buy || k == Kind::sell;
}

// A decimal typed with or without thousands separators (full-width digits read) as a fixed-point
// number of `decimals` places; nullopt when it is no plain non-negative number or has more
// decimals than that.
std::optional<std::int64_t> parse_fixed(std::string_view text, int decimals);
// The fixed-point text back: "1234.5", "100".
std::string fixed_text(std::int64_t value, int decimals = 4);
// price x shares in whole yen (half to even).
std::int64_t trade_amount(std::int64_t price, std::int64_t shares);
// The tax withheld at 20.315 % on `yen`: 15.315 % income tax (incl. the reconstruction surtax)
// and 5 % resident tax, each with the yen fraction dropped. 0 for nothing or a loss.
std::int64_t withholding_tax(std::int64_t yen);

// user_folder + "ledger/"; user_folder + "ledger/ptfN.csv".
std::string ledger_folder(const std::string& user_folder);
std::string ledger_path(const std::string& user_folder, int file_no);

// The header line of the file.
inline constexpr const char* kHeader = "日付,区分,コード,株数,単価,金額,手数料,税額,口座";

enum class LoadStatus { loaded, missing, unreadable, damaged };
struct LoadResult {
  LoadStatus status = LoadStatus::unreadable;
  std::vector<Transaction> transactions;  // the lines that read (all of them unless damaged)
  std::string problem;                    // what is wrong with a damaged file (UTF-8)
  bool writable() const { return status == LoadStatus::loaded || status == LoadStatus::missing; }
};

// Reads a ledger file. A line that is not a transaction makes the file damaged: it is then
// only shown, never rewritten.
LoadResult load_ledger(const std::string& path);
// The file's text (UTF-8): the header, then one line per transaction in the order given.
std::string ledger_text(const std::vector<Transaction>& list);
// Writes the file whole (CP932, CR LF) through a temporary file flushed to the disk, so a kill
// or a full disk leaves the old file.
bool save_ledger(const std::string& path, const std::vector<Transaction>& list);
// One transaction as a line of the file, and back (nullopt with a message when it is none).
std::string transaction_line(const Transaction& t);
std::optional<Transaction> parse_transaction_line(std::string_view line, std::string& problem);

// Calls `take` with each line of `text` that is not blank (trimmed; CR LF, LF or CR ends) and
// its number counting from 1; stops when it returns false.
void for_each_line(std::string_view text,
                   const std::function<bool(std::string_view line, int number)>& take);

// Puts `t` after every transaction of its date or earlier (the file stays in date order).
std::size_t insert_in_order(std::vector<Transaction>& list, Transaction t);

// What ledger-add and the 「取引」 page are given, as typed.
struct Entry {
  std::string date, kind, code, shares, price, amount, fee, tax, account;
};
// Checks the fields of an entry on their own (each refusal names its field) and makes the
// transaction: a trade needs code, shares and price; a dividend a code and its gross amount
// (tax withheld: 20.315 % of it in the taxable accounts when not given, none in NISA); a cash
// entry its amount. nullopt with the message in `problem`.
std::optional<Transaction> transaction_from_entry(const Entry& e, std::string& problem);

}  // namespace lp::ledger
