#include "watch/watch_history.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/file_lock.h"

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

bool by_date(const Block& a, const Block& b) {
  return a.date < b.date;
}

}  // namespace

std::string watch_folder(const std::string& user_folder) {
  return user_folder + "watch/";
}

std::string history_path(const std::string& user_folder, std::string_view screen) {
  return watch_folder(user_folder) + std::string(screen) + ".csv";
}

std::vector<Block> parse_history(std::string_view text) {
  std::vector<Block> blocks;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trim_view(line);
    if (line.empty()) continue;
    if (is_date_line(line)) {
      blocks.push_back(Block{std::string(line), {}});
      continue;
    }
    if (blocks.empty()) continue;
    FieldReader reader(line);
    Hit hit;
    std::string_view f;
    std::string* into[] = {&hit.code, &hit.name, &hit.close, &hit.value};
    for (std::string* s : into) {
      if (!reader.next(f)) break;
      *s = std::string(f);
    }
    if (hit.code.empty()) continue;
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

std::vector<Block> read_history(const std::string& user_folder, std::string_view screen) {
  std::string text;
  if (!read_cp932_file(history_path(user_folder, screen), text)) return {};
  return parse_history(text);
}

bool append_blocks(const std::string& user_folder, std::string_view screen,
                   const std::vector<Block>& blocks, int& added, std::string& error) {
  added = 0;
  if (blocks.empty()) return true;
  std::error_code ec;
  fs::create_directories(watch_folder(user_folder), ec);
  const fs::path path = history_path(user_folder, screen);
  const auto lock = FileLock::acquire(path, kUserFileLockTimeout, error);
  if (!lock) return false;
  // Read again under the lock: another run may have written a day meanwhile.
  std::vector<Block> all = read_history(user_folder, screen);
  std::set<std::string> held;
  for (const Block& b : all) held.insert(b.date);
  for (const Block& b : blocks) {
    if (!held.insert(b.date).second) continue;
    all.push_back(b);
    ++added;
  }
  if (added == 0) return true;
  std::stable_sort(all.begin(), all.end(), by_date);
  if (!write_file_atomic(path, utf8_to_cp932(history_text(all)), true)) {
    error = "監視履歴「" + std::string(screen) + "」を書き込めません。";
    added = 0;
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

}  // namespace lp::watch
