#include "pricedb/fins_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <unordered_map>

#include "common/csv.h"
#include "common/file_cache.h"
#include "common/file_lock.h"
#include "common/keyvalue.h"
#include "pricedb/jquants_json.h"
#include "pricedb/stock_code.h"

namespace lp::fins {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, kColumnCount> kNames = {
    "DiscDate", "DiscTime", "Code",   "DiscNo", "DocType",   "CurPerType", "CurFYSt", "CurFYEn",
    "NxtFYSt",  "NxtFYEn",  "Sales",  "OP",     "OdP",       "NP",         "EPS",     "BPS",
    "Eq",       "TA",       "DivAnn", "FSales", "FOP",       "FNP",        "FEPS",    "FDivAnn",
    "NxFSales", "NxFOP",    "NxFNp",  "NxFEPS", "NxFDivAnn", "ShOutFY",    "TrShFY",
    "EqAR",     "FOdP",     "NxFOdP", "PayoutRatioAnn", "CFO", "CFI", "CFF", "CashEq",
    "DEPS",     "AvgSh",    "DivUnit", "FDivUnit", "NxFDivUnit", "CurPerSt", "CurPerEn"};

bool equal_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// DiscNo as a number of any length: shorter digit strings are smaller.
int compare_disc_no(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a[0] == '0') a.remove_prefix(1);
  while (b.size() > 1 && b[0] == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

// Splits one line into fields (files we write carry no quotes).
void split_fields(std::string_view line, std::vector<std::string_view>& out) {
  out.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    out.push_back(line.substr(start, comma == std::string_view::npos ? line.npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
}

}  // namespace

std::string_view column_name(int col) {
  return col >= 0 && col < kColumnCount ? kNames[static_cast<std::size_t>(col)] : "";
}

int column_of(std::string_view name) {
  for (int c = 0; c < kColumnCount; ++c) {
    if (equal_ci(name, kNames[static_cast<std::size_t>(c)])) return c;
  }
  return -1;
}

bool is_date_column(int col) {
  return col == DiscDate || col == CurFYSt || col == CurFYEn || col == NxtFYSt || col == NxtFYEn ||
         col == CurPerSt || col == CurPerEn;
}

bool read_disclosed(std::string_view text, double& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return false;
  const char* first = text.data();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

void Disclosure::set(int col, std::string_view value) {
  std::string& t = text[static_cast<std::size_t>(col)];
  t.clear();
  if (is_date_column(col)) {
    t = jquants::normalize_date(value);
  } else if (is_value_column(col) && value.find(',') != std::string_view::npos) {
    // "1,2,3" is no number; dropping the commas would make it 123.
  } else {
    // Only printable ASCII: the separator, quotes and line ends can never reach the file.
    for (char c : value) {
      if (c > ' ' && c < 127 && c != ',' && c != '"') t += c;
    }
  }
  const auto i = static_cast<std::size_t>(col);
  has[i] = false;
  num[i] = 0;
  if (is_value_column(col)) {
    double v = 0;
    if (read_disclosed(t, v)) {
      has[i] = true;
      num[i] = v;
    }
  }
  if (col == DiscDate) {
    date = 0;
    for (char c : t) date = date * 10 + (c - '0');
  }
}

void Disclosure::set_stored(int col, std::string_view value) {
  bool clean = !is_date_column(col) || value.empty() || value.size() == 8;
  for (char c : value) {
    if (!(c > ' ' && c < 127 && c != '"') || (is_date_column(col) && (c < '0' || c > '9'))) {
      clean = false;
      break;
    }
  }
  if (!clean) {
    set(col, value);
    return;
  }
  const auto i = static_cast<std::size_t>(col);
  text[i].assign(value);
  if (is_value_column(col)) {
    double v = 0;
    has[i] = read_disclosed(value, v);
    num[i] = has[i] ? v : 0;
  }
  if (col == DiscDate) {
    date = 0;
    for (char c : value) date = date * 10 + (c - '0');
  }
}

bool Disclosure::is_fy_results() const {
  return (*this)[DocType].rfind("FYFinancialStatements", 0) == 0;
}

bool disclosure_before(const Disclosure& a, const Disclosure& b) {
  if (a.date != b.date) return a.date < b.date;
  return compare_disc_no(a[DiscNo], b[DiscNo]) < 0;
}

std::string fins_folder(const std::string& db_folder) {
  return db_folder + "fins/";
}

std::string fins_file_path(const std::string& db_folder, std::string_view code) {
  return fins_folder(db_folder) + std::string(code) + ".csv";
}

FileState read_fins_file_state(const std::string& path, std::vector<Disclosure>& out) {
  out.clear();
  std::string bytes;
  if (!read_file_bytes(path, bytes)) return FileState::missing;
  std::string_view rest(bytes);
  // A file saved by an editor that writes UTF-8 with a BOM.
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  std::vector<std::string_view> fields;
  std::vector<int> cols;
  bool header = true, damaged = false;
  while (!rest.empty()) {
    std::size_t end = rest.find_first_of("\r\n");
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty()) continue;
    split_fields(line, fields);
    if (header) {
      header = false;
      for (std::string_view f : fields) cols.push_back(column_of(f));
      if (std::find(cols.begin(), cols.end(), DiscDate) == cols.end()) damaged = true;
      continue;
    }
    Disclosure d;
    for (std::size_t i = 0; i < fields.size() && i < cols.size(); ++i) {
      if (cols[i] >= 0) d.set_stored(cols[i], fields[i]);
    }
    if (d.date > 0) {
      out.push_back(std::move(d));
    } else {
      damaged = true;
    }
  }
  if (header && !bytes.empty()) damaged = true;  // bytes, but not even a header line
  // Our files are written in order; only a file from elsewhere needs the sort.
  if (!std::is_sorted(out.begin(), out.end(), disclosure_before)) {
    std::stable_sort(out.begin(), out.end(), disclosure_before);
  }
  return damaged ? FileState::damaged : FileState::ok;
}

bool read_fins_file(const std::string& path, std::vector<Disclosure>& out) {
  if (read_fins_file_state(path, out) == FileState::ok) return true;
  out.clear();
  return false;
}

std::string fins_file_bytes(const std::vector<Disclosure>& list) {
  std::string out;
  out.reserve(64 + list.size() * 200);
  for (int c = 0; c < kColumnCount; ++c) {
    if (c) out += ',';
    out += kNames[static_cast<std::size_t>(c)];
  }
  out += "\r\n";
  for (const Disclosure& d : list) {
    for (int c = 0; c < kColumnCount; ++c) {
      if (c) out += ',';
      out += d[c];
    }
    out += "\r\n";
  }
  return out;
}

namespace {

// What makes two copies the same disclosure: its number, or without one its date, time,
// document and period.
std::string identity_of(const Disclosure& d) {
  if (!d[DiscNo].empty()) {
    std::string_view no = d[DiscNo];
    while (no.size() > 1 && no[0] == '0') no.remove_prefix(1);
    return "#" + std::string(no);
  }
  return d[DiscDate] + '|' + d[DiscTime] + '|' + d[DocType] + '|' + d[CurPerType] + '|' +
         d[CurFYEn];
}


}  // namespace

int merge_disclosures(std::vector<Disclosure>& kept, const std::vector<Disclosure>& incoming) {
  // One index of the kept copies: a merge is O(n log n), however many records a page holds.
  std::unordered_map<std::string, std::size_t> at;
  at.reserve(kept.size() + incoming.size());
  for (std::size_t i = 0; i < kept.size(); ++i) at.emplace(identity_of(kept[i]), i);
  int added = 0;
  for (const Disclosure& d : incoming) {
    auto [it, fresh] = at.emplace(identity_of(d), kept.size());
    if (fresh) {
      kept.push_back(d);
      ++added;
    } else {
      kept[it->second] = d;
    }
  }
  std::stable_sort(kept.begin(), kept.end(), disclosure_before);
  return added;
}

bool store_disclosures(const std::string& db_folder, const std::vector<Disclosure>& incoming,
                       StoreStats& stats, std::string& error, const std::string& stamp) {
  std::map<std::string, std::vector<Disclosure>> by_code;
  for (const Disclosure& d : incoming) {
    ++stats.disclosures;
    if (d.date <= 0 || !is_stock_code(d[Code])) continue;
    by_code[d[Code]].push_back(d);
  }
  if (by_code.empty()) return true;
  const std::string folder = fins_folder(db_folder);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) {
    error = "決算データのフォルダを作れません: " + folder;
    return false;
  }
  const auto lock = FileLock::acquire(fs::path(db_folder) / "fins", kUserFileLockTimeout, error);
  if (!lock) return false;
  std::vector<Disclosure> kept;
  for (auto& [code, list] : by_code) {
    const std::string path = fins_file_path(db_folder, code);
    if (read_fins_file_state(path, kept) == FileState::damaged) {
      // Never written over: the user may want what it held.
      const std::string aside = path + ".bad-" + (stamp.empty() ? local_time_text("%Y%m%d%H%M%S") : stamp);
      if (std::rename(path.c_str(), aside.c_str()) != 0) {
        error = "読めない決算データを退避できませんでした: " + path;
        return false;
      }
      stats.moved_aside.push_back(code);
      stats.warnings.push_back("警告: " + path + " は読めないため " + aside +
                               " に退避し、取得し直します");
      kept.clear();
    }
    stats.added += merge_disclosures(kept, list);
    if (!write_file_atomic(path, fins_file_bytes(kept))) {
      error = "決算データを書き込めませんでした: " + path;
      return false;
    }
    ++stats.files_written;
  }
  return true;
}

std::shared_ptr<FinsTable> FinsTable::load(const std::string& db_folder) {
  auto table = std::make_shared<FinsTable>();
  for (const fs::path& p : list_files(fins_folder(db_folder))) {
    if (p.extension() != ".csv") continue;
    const std::string code = p.stem().string();
    if (!is_stock_code(code)) continue;
    std::vector<Disclosure> list;
    if (read_fins_file(p.string(), list) && !list.empty()) table->by_code_[code] = std::move(list);
  }
  return table;
}

std::shared_ptr<const FinsTable> FinsTable::shared(const std::string& db_folder) {
  return cached_while_unchanged<FinsTable>(fins_folder(db_folder),
                                           [&] { return load(db_folder); });
}

const std::vector<Disclosure>& FinsTable::of(std::string_view code) const {
  static const std::vector<Disclosure> kNone;
  auto it = by_code_.find(std::string(code));
  return it == by_code_.end() ? kNone : it->second;
}

bool database_has_fins(const std::string& db_folder) {
  for (const fs::path& p : list_files(fins_folder(db_folder))) {
    if (p.extension() == ".csv" && is_stock_code(p.stem().string())) return true;
  }
  return false;
}

}  // namespace lp::fins
