#include "search/search_model.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "common/encoding.h"
#include "pricedb/formats.h"

namespace lp {

namespace {

// Full-width forms of the half-width katakana block U+FF61..U+FF9F.
constexpr char32_t kHalfKana[] = {
    U'。', U'「', U'」', U'、', U'・', U'ヲ', U'ァ', U'ィ', U'ゥ', U'ェ', U'ォ', U'ャ', U'ュ',
    U'ョ', U'ッ', U'ー', U'ア', U'イ', U'ウ', U'エ', U'オ', U'カ', U'キ', U'ク', U'ケ', U'コ',
    U'サ', U'シ', U'ス', U'セ', U'ソ', U'タ', U'チ', U'ツ', U'テ', U'ト', U'ナ', U'ニ', U'ヌ',
    U'ネ', U'ノ', U'ハ', U'ヒ', U'フ', U'ヘ', U'ホ', U'マ', U'ミ', U'ム', U'メ', U'モ', U'ヤ',
    U'ユ', U'ヨ', U'ラ', U'リ', U'ル', U'レ', U'ロ', U'ワ', U'ン', U'゛', U'゜'};
static_assert(sizeof(kHalfKana) / sizeof(kHalfKana[0]) == 0xFF9F - 0xFF61 + 1);

constexpr char32_t kVoicedMark = U'゛';      // U+309B, what ﾞ becomes
constexpr char32_t kSemiVoicedMark = U'゜';  // U+309C, what ﾟ becomes

char32_t normalise_char(char32_t c) {
  // Full width.
  if (c == U' ') {
    c = U'\u3000';
  } else if (c >= 0x21 && c <= 0x7E) {
    c += 0xFEE0;
  } else if (c >= 0xFF61 && c <= 0xFF9F) {
    c = kHalfKana[c - 0xFF61];
  }
  // Upper case.
  if (c >= U'ａ' && c <= U'ｚ') c -= 0x20;
  // Hiragana to katakana.
  if ((c >= U'ぁ' && c <= U'ゖ') || c == U'ゝ' || c == U'ゞ') c += 0x60;
  // Combining marks read as the spacing marks, so they compose the same way.
  if (c == 0x3099) c = kVoicedMark;
  if (c == 0x309A) c = kSemiVoicedMark;
  return c;
}

// The katakana a base takes with a (semi-)voiced mark, or 0 when it has none.
char32_t compose(char32_t base, char32_t mark) {
  if (mark == kVoicedMark) {
    if ((base >= U'カ' && base <= U'チ' && (base - U'カ') % 2 == 0) || base == U'ツ' ||
        base == U'テ' || base == U'ト') {
      return base + 1;
    }
    if (base >= U'ハ' && base <= U'ホ' && (base - U'ハ') % 3 == 0) return base + 1;
    if (base == U'ウ') return U'ヴ';
    if (base == U'ワ') return U'ヷ';
    if (base == U'ヲ') return U'ヺ';
    if (base == U'ヽ') return U'ヾ';
  } else if (mark == kSemiVoicedMark) {
    if (base >= U'ハ' && base <= U'ホ' && (base - U'ハ') % 3 == 0) return base + 2;
  }
  return 0;
}

bool is_blank(char32_t c) {
  return c == U' ' || c == U'\t' || c == U'\u3000';
}

std::u32string_view trim(std::u32string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// The matching core, with a scratch buffer reused across names.
int match_score_with(std::u32string_view query, std::u32string_view name,
                     std::vector<unsigned char>& used) {
  used.assign(name.size(), 0);
  int score = 0;
  for (char32_t q : query) {
    for (std::size_t k = 0; k < name.size(); ++k) {
      if (!used[k] && name[k] == q) {
        used[k] = 1;
        ++score;
        break;
      }
    }
  }
  return score;
}

long long distance(std::size_t a, std::size_t b) {
  return a > b ? static_cast<long long>(a - b) : static_cast<long long>(b - a);
}

}  // namespace

std::u32string normalise_for_search(std::u32string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    const char32_t n = normalise_char(c);
    if ((n == kVoicedMark || n == kSemiVoicedMark) && !out.empty()) {
      if (char32_t composed = compose(out.back(), n)) {
        out.back() = composed;
        continue;
      }
    }
    out.push_back(n);
  }
  return out;
}

std::u32string normalise_for_search(std::string_view utf8) {
  return normalise_for_search(std::u32string_view(to_u32(utf8)));
}

int match_score(std::u32string_view query, std::u32string_view name) {
  std::vector<unsigned char> used;
  return match_score_with(query, name, used);
}

std::vector<SearchHit> rank_stocks(const std::vector<StockEntry>& entries, std::string_view query,
                                   std::size_t limit) {
  const std::u32string raw = to_u32(query);
  const std::u32string q = normalise_for_search(trim(raw));
  struct Scored {
    int score;
    long long dist;
    std::size_t index;
  };
  std::vector<Scored> scored;
  std::vector<unsigned char> used;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const int s = match_score_with(q, entries[i].key, used);
    if (s > 0) scored.push_back({s, distance(entries[i].key.size(), q.size()), i});
  }
  // Stable: file order decides among equal score and distance.
  std::stable_sort(scored.begin(), scored.end(), [](const Scored& a, const Scored& b) {
    if (a.score != b.score) return a.score > b.score;
    return a.dist < b.dist;
  });
  if (scored.size() > limit) scored.resize(limit);
  std::vector<SearchHit> hits;
  hits.reserve(scored.size());
  for (const Scored& s : scored) {
    hits.push_back({s.score, entries[s.index].code, entries[s.index].name});
  }
  return hits;
}

std::string chart_name(std::string_view name) {
  static constexpr std::string_view kMarker = "(株)";
  // Trimmed like the search key, so a full-width blank before "(株)" does not hide it.
  std::string n = to_utf8(trim(to_u32(name)));
  // The marker found after the first character is taken to end the name.
  if (n.size() > 1 && n.find(kMarker, 1) != std::string::npos) {
    const std::size_t len = cp_count(n);
    n = cp_left(n, len >= 3 ? len - 3 : 0);
  }
  if (n.compare(0, kMarker.size(), kMarker) == 0) n = cp_mid(n, 3);
  return cp_left(n, 5);
}

StockEntry make_stock_entry(std::string code, std::string market, std::string name) {
  StockEntry e;
  e.key = normalise_for_search(trim(to_u32(name)));
  e.code = std::move(code);
  e.market = std::move(market);
  e.name = std::move(name);
  return e;
}

bool read_stock_table(const std::string& day_file, std::vector<StockEntry>& out) {
  out.clear();
  DayFile day;
  if (!read_day_file(day_file, day, true)) return false;
  std::unordered_set<std::string> seen;
  seen.reserve(day.rows.size() * 2);
  out.reserve(day.rows.size());
  for (PriceRecord& r : day.rows) {
    if (!seen.insert(r.code).second) continue;
    out.push_back(make_stock_entry(std::move(r.code), std::move(r.market), std::move(r.name)));
  }
  return true;
}

void StockSearch::reopen() {
  loaded_ = false;
  table_.clear();
  day_file_.clear();
}

StockSearch::Status StockSearch::search(const AppFolders& folders, const std::string& today,
                                        std::string_view query, std::vector<SearchHit>& out) {
  out.clear();
  cut_ = false;
  if (!loaded_) {
    int year = 0;
    for (std::size_t k = 0; k < 4 && k < today.size(); ++k) {
      if (today[k] < '0' || today[k] > '9') break;
      year = year * 10 + (today[k] - '0');
    }
    std::string date;
    if (!read_latest_date(folders.db_folder, folders.reference_code, year, year - 2, date)) {
      return Status::no_day_file;
    }
    const std::string path = day_file_path(folders.db_folder, date);
    if (!read_stock_table(path, table_)) return Status::no_day_file;
    day_file_ = path;
    loaded_ = true;
  }
  // One hit more than is shown tells whether the list was cut.
  out = rank_stocks(table_, query, kMaxSearchResults + 1);
  cut_ = out.size() > kMaxSearchResults;
  if (cut_) out.resize(kMaxSearchResults);
  return Status::ok;
}

}  // namespace lp
