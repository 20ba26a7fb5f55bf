#include "pricedb/sectors.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/file_cache.h"

namespace lp::sectors {

namespace {

// The exchange's 33 industries with the 17-industry class of each (TOPIX-17).
const std::vector<Industry> kIndustries = {
    {"0050", "水産・農林業", "1"},
    {"1050", "鉱業", "2"},
    {"2050", "建設業", "3"},
    {"3050", "食料品", "1"},
    {"3100", "繊維製品", "4"},
    {"3150", "パルプ・紙", "4"},
    {"3200", "化学", "4"},
    {"3250", "医薬品", "5"},
    {"3300", "石油・石炭製品", "2"},
    {"3350", "ゴム製品", "6"},
    {"3400", "ガラス・土石製品", "3"},
    {"3450", "鉄鋼", "7"},
    {"3500", "非鉄金属", "7"},
    {"3550", "金属製品", "3"},
    {"3600", "機械", "8"},
    {"3650", "電気機器", "9"},
    {"3700", "輸送用機器", "6"},
    {"3750", "精密機器", "9"},
    {"3800", "その他製品", "4"},
    {"4050", "電気・ガス業", "11"},
    {"5050", "陸運業", "12"},
    {"5100", "海運業", "12"},
    {"5150", "空運業", "12"},
    {"5200", "倉庫・運輸関連業", "12"},
    {"5250", "情報・通信業", "10"},
    {"6050", "卸売業", "13"},
    {"6100", "小売業", "14"},
    {"7050", "銀行業", "15"},
    {"7100", "証券、商品先物取引業", "16"},
    {"7150", "保険業", "16"},
    {"7200", "その他金融業", "16"},
    {"8050", "不動産業", "17"},
    {"9050", "サービス業", "10"},
    {"9999", "その他", "99"},
};

const std::pair<const char*, const char*> k17[] = {
    {"1", "食品"},           {"2", "エネルギー資源"},
    {"3", "建設・資材"},     {"4", "素材・化学"},
    {"5", "医薬品"},         {"6", "自動車・輸送機"},
    {"7", "鉄鋼・非鉄"},     {"8", "機械"},
    {"9", "電機・精密"},     {"10", "情報通信・サービスその他"},
    {"11", "電気・ガス"},    {"12", "運輸・物流"},
    {"13", "商社・卸売"},    {"14", "小売"},
    {"15", "銀行"},          {"16", "金融（除く銀行）"},
    {"17", "不動産"},        {"99", "その他"},
};

// Blanks dropped, full-width digits and the full-width comma read as typed by an IME.
std::string plain_word(std::string_view word) {
  std::string out;
  for (char32_t c : to_u32(word)) {
    if (c == U' ' || c == U'\u3000' || c == U'\t') continue;
    if (c >= U'\uFF10' && c <= U'\uFF19') c = U'0' + (c - U'\uFF10');
    out += to_utf8(c);
  }
  return out;
}

// A field written into our file: no separator, quote or line end.
std::string field_text(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') continue;
    out += c;
  }
  return out;
}

bool is_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

const std::vector<Industry>& industries33() {
  return kIndustries;
}

std::string_view name17(std::string_view code) {
  while (code.size() > 1 && code.front() == '0') code.remove_prefix(1);
  for (const auto& [c, n] : k17) {
    if (code == c) return n;
  }
  return "";
}

std::string_view name33(std::string_view code) {
  for (const Industry& i : kIndustries) {
    if (code == i.code) return i.name;
  }
  return "";
}

std::string code33_of(std::string_view word) {
  const std::string w = plain_word(word);
  if (w.empty()) return {};
  if (is_digits(w)) {
    std::string code = w;
    while (code.size() < 4) code.insert(code.begin(), '0');
    return name33(code).empty() ? std::string() : code;
  }
  for (const Industry& i : kIndustries) {
    if (w == plain_word(i.name)) return i.code;
  }
  return {};
}

bool parse_sector_list(std::string_view text, std::vector<std::string>& codes, std::string& error) {
  codes.clear();
  std::string t(text);
  // 「、」 and 「，」 separate like ",", except inside the one name that holds 「、」.
  const std::string keep = "証券、商品先物取引業";
  std::string masked;
  for (std::size_t i = 0; i < t.size();) {
    if (t.compare(i, keep.size(), keep) == 0) {
      masked += "\x01";
      i += keep.size();
      continue;
    }
    if (t.compare(i, 3, "、") == 0 || t.compare(i, 3, "，") == 0) {
      masked += ',';
      i += 3;
      continue;
    }
    masked += t[i++];
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = masked.find(',', start);
    std::string word = masked.substr(start, comma == std::string::npos ? comma : comma - start);
    for (std::size_t p; (p = word.find('\x01')) != std::string::npos;) word.replace(p, 1, keep);
    if (!plain_word(word).empty()) {
      const std::string code = code33_of(word);
      if (code.empty()) {
        error = "業種 " + trim_blanks(word) + " はありません（33業種の名前かコードで指定してください）";
        return false;
      }
      codes.push_back(code);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  return true;
}

std::string sectors_file_path(const std::string& db_folder) {
  return db_folder + "sectors.csv";
}

const Sector* SectorTable::of(std::string_view code, int day) const {
  auto it = by_code_.find(std::string(code));
  if (it == by_code_.end()) return nullptr;
  const Eras& e = it->second;
  const bool before = day > 0 && day < kSegmentReformDay;
  const Sector& own = before ? e.before : e.after;
  const Sector& other = before ? e.after : e.before;
  if (own.date) return &own;
  return other.date ? &other : nullptr;
}

void SectorTable::merge(const MasterSectors& master, int date) {
  for (const auto& [code, s] : master) {
    Eras& e = by_code_[code];
    Sector& slot = date < kSegmentReformDay ? e.before : e.after;
    if (slot.date > date) continue;  // a newer master of the era already named it
    slot = s;
    slot.date = date;
  }
}

std::string SectorTable::file_bytes() const {
  std::map<std::string, const Eras*> sorted;
  for (const auto& [code, e] : by_code_) sorted.emplace(code, &e);
  std::string out = "Code,Date,S17,S17Nm,S33,S33Nm,MktNm\r\n";
  for (const auto& [code, e] : sorted) {
    for (const Sector* s : {&e->before, &e->after}) {
      if (!s->date) continue;
      out += code + "," + std::to_string(s->date) + "," + field_text(s->s17) + "," +
             utf8_to_cp932(field_text(s->s17_name)) + "," + field_text(s->s33) + "," +
             utf8_to_cp932(field_text(s->s33_name)) + "," + utf8_to_cp932(field_text(s->segment)) +
             "\r\n";
    }
  }
  return out;
}

bool SectorTable::parse(std::string_view bytes) {
  by_code_.clear();
  bool header = true, ok = true;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find_first_of("\r\n");
    std::string_view line = bytes.substr(0, end);
    bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    if (line.empty()) continue;
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string_view> f;
    for (std::size_t start = 0;;) {
      const std::size_t comma = line.find(',', start);
      f.push_back(line.substr(start, comma == std::string_view::npos ? comma : comma - start));
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    if (f.size() < 7 || f[0].empty() || f[1].size() != 8 || !is_digits(f[1])) {
      ok = false;
      continue;
    }
    Sector s;
    s.date = std::stoi(std::string(f[1]));
    s.s17 = f[2];
    s.s17_name = cp932_to_utf8(f[3]);
    s.s33 = f[4];
    s.s33_name = cp932_to_utf8(f[5]);
    s.segment = cp932_to_utf8(f[6]);
    Eras& e = by_code_[std::string(f[0])];
    (s.date < kSegmentReformDay ? e.before : e.after) = std::move(s);
  }
  return ok;
}

std::shared_ptr<SectorTable> SectorTable::load(const std::string& db_folder) {
  auto table = std::make_shared<SectorTable>();
  std::string bytes;
  if (read_file_bytes(sectors_file_path(db_folder), bytes)) table->parse(bytes);
  return table;
}

std::shared_ptr<const SectorTable> SectorTable::shared(const std::string& db_folder) {
  return cached_while_unchanged<SectorTable>(sectors_file_path(db_folder),
                                             [&] { return load(db_folder); });
}

bool store_sectors(const std::string& db_folder,
                   const std::vector<std::pair<int, MasterSectors>>& masters, std::string& error) {
  if (masters.empty()) return true;
  const auto table = SectorTable::load(db_folder);
  for (const auto& [date, m] : masters) table->merge(m, date);
  if (!write_file_atomic(sectors_file_path(db_folder), table->file_bytes())) {
    error = "業種の一覧を書き込めませんでした: " + sectors_file_path(db_folder);
    return false;
  }
  return true;
}

}  // namespace lp::sectors
