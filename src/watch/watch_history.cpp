#include "watch/watch_history.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/file_lock.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/market_store.h"

namespace lp::watch {

namespace {

namespace fs = std::filesystem;

bool is_date_line(std::string_view line) {
  return line.size() == 8 && line.find_first_not_of("0123456789") == std::string_view::npos;
}

// A text field of our own CSV: no separator, no line break, no quote, no control character.
std::string clean_field(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ',') {
      out += "，";
    } else if (c == '"' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7F) {
      continue;
    } else {
      out += c;
    }
  }
  return out;
}

// A code as the screens keep it: a few digits and capital letters ("7203", "130A", "0998").
bool is_code_field(std::string_view code) {
  return !code.empty() && code.size() <= 5 &&
         code.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string_view::npos;
}

bool by_date(const Block& a, const Block& b) {
  return a.date < b.date;
}

// A plain decimal number: an optional sign, digits, at most one point with digits after it.
bool is_number_text(std::string_view t) {
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.remove_prefix(1);
  const std::size_t point = t.find('.');
  const std::string_view whole = t.substr(0, point);
  const std::string_view part = point == std::string_view::npos ? "" : t.substr(point + 1);
  const auto digits = [](std::string_view d) {
    return d.find_first_not_of("0123456789") == std::string_view::npos;
  };
  return !whole.empty() && digits(whole) && digits(part) &&
         (point == std::string_view::npos || !part.empty());
}

}  // namespace

std::string shown_value(std::string_view value, bool grouped) {
  const std::string_view t = trim_view(value);
  if (!is_number_text(t)) return std::string(t);
  return format_pattern(parse_number(t), grouped ? "#,##0.00" : "0.00");
}

std::string shown_price(std::string_view price) {
  const std::string_view t = trim_view(price);
  if (!is_number_text(t)) return std::string(t);
  std::string out = format_pattern(parse_number(t), "#,##0.##");
  if (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

std::string watch_folder(const std::string& user_folder) {
  return user_folder + "watch/";
}

std::string history_path(const std::string& user_folder, std::string_view screen) {
  return watch_folder(user_folder) + std::string(screen) + ".csv";
}

std::vector<Block> parse_history(std::string_view text, std::vector<std::string>* warnings) {
  std::vector<Block> blocks;
  std::size_t pos = 0;
  int number = 0;
  const auto skip = [&](std::string_view line) {
    if (warnings)
      warnings->push_back(std::to_string(number) + "行目は該当銘柄の行ではないため無視します: " +
                          clean_field(line.substr(0, 40)));
  };
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trim_view(line);
    if (line.empty()) continue;
    if (is_date_line(line)) {
      blocks.push_back(Block{std::string(line), {}});
      continue;
    }
    FieldReader reader(line);
    Hit hit;
    std::string_view f;
    std::string* into[] = {&hit.code, &hit.name, &hit.close, &hit.value};
    int fields = 0;
    for (std::string* s : into) {
      if (!reader.next(f)) break;
      *s = std::string(f);
      ++fields;
    }
    // A hit line is what history_text writes: a code and three more fields, nothing after.
    if (blocks.empty() || fields < 4 || reader.next(f) || !is_code_field(hit.code)) {
      skip(line);
      continue;
    }
    if (hit.value.empty()) hit.value = "-";
    blocks.back().hits.push_back(std::move(hit));
  }
  // One block per date, in date order: a hand-edited repeat keeps the first.
  std::stable_sort(blocks.begin(), blocks.end(), by_date);
  blocks.erase(std::unique(blocks.begin(), blocks.end(),
                           [](const Block& a, const Block& b) { return a.date == b.date; }),
               blocks.end());
  return blocks;
}

std::string history_text(const std::vector<Block>& blocks) {
  std::string text;
  for (const Block& b : blocks) {
    text += b.date + "\r\n";
    for (const Hit& h : b.hits) {
      text += clean_field(h.code) + "," + clean_field(h.name) + "," + clean_field(h.close) + "," +
              (h.value.empty() ? std::string("-") : clean_field(h.value)) + "\r\n";
    }
  }
  return text;
}

std::vector<Block> read_history(const std::string& user_folder, std::string_view screen,
                                std::string_view newest, std::vector<std::string>* warnings) {
  std::string text;
  if (!read_cp932_file(history_path(user_folder, screen), text)) return {};
  std::vector<std::string> found;
  std::vector<Block> blocks = parse_history(text, warnings ? &found : nullptr);
  if (!newest.empty()) {
    while (!blocks.empty() && blocks.back().date > newest) {
      if (warnings)
        found.push_back(blocks.back().date + "の記録は株価データの最新日 " + std::string(newest) +
                        " より後のため無視します");
      blocks.pop_back();
    }
  }
  if (warnings) {
    for (const std::string& w : found)
      warnings->push_back("監視履歴「" + std::string(screen) + "」: " + w);
  }
  return blocks;
}

bool append_blocks(const std::string& user_folder, std::string_view screen,
                   std::vector<Block>& blocks, std::string& error) {
  if (blocks.empty()) return true;
  if (!make_own_folder(watch_folder(user_folder), error)) return false;
  const fs::path path = history_path(user_folder, screen);
  const auto lock = FileLock::acquire(path, kUserFileLockTimeout, error);
  if (!lock) return false;
  // Read again under the lock: another run may have written a day meanwhile.
  std::vector<Block> all = read_history(user_folder, screen);
  std::set<std::string> held;
  for (const Block& b : all) held.insert(b.date);
  std::erase_if(blocks, [&](const Block& b) { return !held.insert(b.date).second; });
  all.insert(all.end(), blocks.begin(), blocks.end());
  const std::size_t added = blocks.size();
  if (added == 0) return true;
  std::stable_sort(all.begin(), all.end(), by_date);
  if (!write_file_atomic(path, utf8_to_cp932(history_text(all)), true)) {
    error = "監視履歴「" + std::string(screen) + "」を書き込めません。";
    blocks.clear();
    return false;
  }
  return true;
}

const Block* find_block(const std::vector<Block>& blocks, std::string_view date) {
  for (const Block& b : blocks) {
    if (b.date == date) return &b;
  }
  return nullptr;
}

const Block* previous_block(const std::vector<Block>& blocks, std::string_view date) {
  const Block* prev = nullptr;
  for (const Block& b : blocks) {
    if (b.date >= date) break;
    prev = &b;
  }
  return prev;
}

Changes compare_blocks(const Block* previous, const Block& today) {
  Changes c;
  if (!previous) {
    c.continuing = today.hits;
    return c;
  }
  std::set<std::string> before, now;
  for (const Hit& h : previous->hits) before.insert(h.code);
  for (const Hit& h : today.hits) now.insert(h.code);
  for (const Hit& h : today.hits) (before.count(h.code) ? c.continuing : c.entered).push_back(h);
  for (const Hit& h : previous->hits) {
    if (!now.count(h.code)) c.dropped.push_back(h);
  }
  return c;
}

TradedOn day_file_trades(const std::string& db_folder, std::shared_ptr<const MarketStore> store) {
  struct Days {
    std::mutex mutex;
    std::map<std::string, std::optional<std::set<std::string>>> traded;  // nullopt: no file
  };
  auto days = std::make_shared<Days>();
  return [db_folder, store, days](const std::string& date, const std::string& code) {
    std::lock_guard<std::mutex> lock(days->mutex);
    auto it = days->traded.find(date);
    if (it == days->traded.end()) {
      DayFile file;
      const bool found = store ? store->day_file(date, file, false)
                               : read_day_file(day_file_path(db_folder, date), file, false);
      std::optional<std::set<std::string>> codes;
      if (found) {
        codes.emplace();
        for (const PriceRecord& r : file.rows) {
          if (parse_number(r.volume) > 0) codes->insert(trim_blanks(r.code));
        }
      }
      it = days->traded.emplace(date, std::move(codes)).first;
    }
    return !it->second || it->second->count(code) > 0;
  };
}

Changes compare_day(const std::vector<Block>& history, std::string_view date,
                    const TradedOn& traded) {
  Changes c;
  const Block* today = find_block(history, date);
  if (!today) return c;
  // The blocks before `date`, newest first.
  std::vector<const Block*> before;
  for (const Block& b : history) {
    if (b.date < date) before.insert(before.begin(), &b);
  }
  if (before.empty()) {
    c.continuing = today->hits;
    return c;
  }
  const auto traded_on = [&](const std::string& day, const std::string& code) {
    return !traded || traded(day, code);
  };
  // The stock's hit on its last day that counts, or nullptr when it was no hit there.
  const auto last_status = [&](const std::string& code) -> const Hit* {
    for (const Block* b : before) {
      for (const Hit& h : b->hits) {
        if (h.code == code) return &h;
      }
      if (traded_on(b->date, code)) return nullptr;
    }
    return nullptr;
  };
  std::set<std::string> now;
  for (const Hit& h : today->hits) now.insert(h.code);
  for (const Hit& h : today->hits) (last_status(h.code) ? c.continuing : c.entered).push_back(h);
  const std::string day(date);
  std::set<std::string> seen;
  for (const Block* b : before) {
    for (const Hit& h : b->hits) {
      if (now.count(h.code) || !seen.insert(h.code).second) continue;
      if (!traded_on(day, h.code)) continue;  // no trade today: nothing is known
      if (const Hit* last = last_status(h.code)) c.dropped.push_back(*last);
    }
  }
  return c;
}

}  // namespace lp::watch
