#include "screening/saved_screens.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/file_lock.h"
#include "common/keyvalue.h"
#include "portfolio/portfolio_model.h"
#include "pricedb/stock_code.h"

namespace lp::screening {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kStartSuffix = "_初期値";

std::filesystem::path screen_path(const std::string& user_folder, std::string_view name) {
  return fs::path(screens_folder(user_folder)) / (std::string(name) + ".txt");
}

}  // namespace

std::string screens_folder(const std::string& user_folder) {
  return user_folder + "screens/";
}

std::string check_screen_name(std::string_view name) {
  const std::u32string cps = to_u32(name);
  if (cps.empty()) return "保存条件の名前を入れてください。";
  if (cps.size() > static_cast<std::size_t>(kMaxScreenNameLength)) {
    return "保存条件の名前は" + std::to_string(kMaxScreenNameLength) + "文字までです。";
  }
  for (char32_t c : cps) {
    if (c == '/' || c == '\\' || c == 0xFF0F || c == 0xFF3C) {
      return "保存条件の名前に「/」「\\」は使えません。";
    }
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      return "保存条件の名前に制御文字は使えません。";
    }
  }
  // A leading "." would make the file hidden (and "." / ".." are folders, not names).
  if (cps.front() == '.') return "保存条件の名前は「.」で始められません。";
  // The name is also the start of a file name: text that is no valid UTF-8 has no file.
  if (to_utf8(cps) != name) return "保存条件の名前に使えない文字があります。";
  return {};
}

std::vector<std::string> list_screens(const std::string& user_folder) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(screens_folder(user_folder), ec);
  if (ec) return names;
  for (const auto& entry : it) {
    std::error_code fec;
    if (!entry.is_regular_file(fec)) continue;
    const std::string file = entry.path().filename().string();
    if (file.size() <= 4 || file.compare(file.size() - 4, 4, ".txt") != 0) continue;
    const std::string name = file.substr(0, file.size() - 4);
    if (!check_screen_name(name).empty()) continue;  // temporary, hidden or foreign files
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool screen_text(const ControlSet& controls, std::string& text, std::string& error) {
  text.clear();
  // Every value goes in double quotes, so commas and outer blanks survive; the file form has
  // no escape for a quote or a line break inside a value.
  auto line = [&](const std::string& key, const std::string& value) {
    if (value.find_first_of("\"\r\n") != std::string::npos) {
      error = "「" + key + "」の値に「\"」や改行は保存できません。";
      return false;
    }
    text += key + ",\"" + value + "\"\r\n";
    return true;
  };
  for (const Control& c : controls.all()) {
    switch (c.kind) {
      case ControlKind::check:
      case ControlKind::option:
        if (!line(c.name, c.checked ? "ON" : "OFF")) return false;
        break;
      case ControlKind::text:
        if (!line(c.name, c.text)) return false;
        break;
      case ControlKind::combo:
        if (!line(c.name, "CLEAR")) return false;
        for (const std::string& item : c.items) {
          if (!line(c.name, item)) return false;
        }
        if (!line(c.name + std::string(kStartSuffix), c.text)) return false;
        break;
    }
  }
  text += "EOF\r\n";
  return true;
}

namespace {

// One pair of a screen file, keyed by control name.
void apply_screen_pair(ControlSet& controls, const std::string& key, const std::string& value) {
  std::string name = key;
  bool start = false;
  if (name.size() > kStartSuffix.size() &&
      name.compare(name.size() - kStartSuffix.size(), kStartSuffix.size(), kStartSuffix) == 0) {
    name.resize(name.size() - kStartSuffix.size());
    start = true;
  }
  Control* c = controls.find(name);
  if (!c) return;  // a control of another version of the window
  switch (c->kind) {
    case ControlKind::check:
      if (value == "ON") c->checked = true;
      if (value == "OFF") c->checked = false;
      break;
    case ControlKind::option:
      if (value == "ON") controls.select_option(name);
      break;
    case ControlKind::text:
      c->text = value;
      break;
    case ControlKind::combo:
      if (start) {
        c->text = value;
      } else if (value == "CLEAR") {
        c->items.clear();
      } else {
        c->items.push_back(value);
      }
      break;
  }
}

}  // namespace

bool save_screen(const std::string& user_folder, std::string_view name, const ControlSet& controls,
                 std::string& error) {
  return save_screen(user_folder, name, controls, ScreenMarks{}, error);
}

bool save_screen(const std::string& user_folder, std::string_view name, const ControlSet& controls,
                 const ScreenMarks& marks, std::string& error) {
  error = check_screen_name(name);
  if (!error.empty()) return false;
  if (error = check_universe(marks.universe); !error.empty()) return false;
  std::string text;
  if (!screen_text(controls, text, error)) return false;
  text.resize(text.size() - 5);  // "EOF\r\n" goes after the marks
  text += std::string(kWatchKey) + ",\"" + (marks.watched ? "ON" : "OFF") + "\"\r\n";
  for (const auto& [key, value] : marks.backtest) {
    if (key.find_first_of("\",\r\n") != std::string::npos ||
        value.find_first_of("\"\r\n") != std::string::npos) {
      error = "検証の設定「" + key + "」に「\"」や改行は保存できません。";
      return false;
    }
    text += std::string(kBacktestPrefix) + key + ",\"" + value + "\"\r\n";
  }
  text += std::string(kUniverseKey) + ",\"" + normal_universe(marks.universe) + "\"\r\nEOF\r\n";
  std::error_code ec;
  fs::create_directories(screens_folder(user_folder), ec);
  // Another program (the window and the command line) may save or delete the same screen:
  // the lock orders them, and the file is written whole and renamed over the old one, so a
  // reader always finds one complete screen.
  const fs::path path = screen_path(user_folder, name);
  const auto lock = FileLock::acquire(path, kUserFileLockTimeout, error);
  if (!lock) return false;
  if (!write_file_atomic(path, utf8_to_cp932(text), true)) {
    error = "保存条件「" + std::string(name) + "」を書き込めません。";
    return false;
  }
  return true;
}

bool load_screen(const std::string& user_folder, std::string_view name, ControlSet& controls,
                 std::string& error) {
  ScreenMarks marks;
  return load_screen(user_folder, name, controls, marks, error);
}

bool load_screen(const std::string& user_folder, std::string_view name, ControlSet& controls,
                 ScreenMarks& marks, std::string& error) {
  error = check_screen_name(name);
  if (!error.empty()) return false;
  // Read through the key/value reader's decoding (CP932, or UTF-8 with a byte order mark
  // when the user edited the file so), then applied from a fresh control set.
  ControlSet fresh = ControlSet::with_builtins();
  ScreenMarks read_marks;
  const bool found = read_key_values(screen_path(user_folder, name).string(),
                                     [&](const std::string& key, const std::string& value) {
                                       if (key == kWatchKey) {
                                         read_marks.watched = value == "ON";
                                       } else if (key == kUniverseKey) {
                                         read_marks.universe = value;
                                       } else if (key.rfind(kBacktestPrefix, 0) == 0) {
                                         read_marks.backtest[key.substr(kBacktestPrefix.size())] =
                                             value;
                                       } else {
                                         apply_screen_pair(fresh, key, value);
                                       }
                                     });
  if (!found) {
    error = "保存条件「" + std::string(name) + "」がありません。";
    return false;
  }
  controls = std::move(fresh);
  marks = std::move(read_marks);
  return true;
}

bool read_screen_marks(const std::string& user_folder, std::string_view name, ScreenMarks& marks,
                       std::string& error) {
  ControlSet scratch;
  return load_screen(user_folder, name, scratch, marks, error);
}

bool write_screen_marks(const std::string& user_folder, std::string_view name,
                        const ScreenMarks& marks, std::string& error) {
  error = check_screen_name(name);
  if (!error.empty()) return false;
  if (error = check_universe(marks.universe); !error.empty()) return false;
  const fs::path path = screen_path(user_folder, name);
  std::unique_ptr<FileLock> lock = FileLock::acquire(path, kUserFileLockTimeout, error);
  if (!lock) return false;
  ControlSet controls;
  ScreenMarks old;
  if (!load_screen(user_folder, name, controls, old, error)) return false;
  lock.reset();  // save_screen takes the same lock again; the read and the write stay close
  return save_screen(user_folder, name, controls, marks, error);
}

bool universe_codes(const std::string& user_folder, const std::string& universe,
                    std::vector<std::string>& codes, std::string& error) {
  codes.clear();
  error = check_universe(universe);
  if (!error.empty()) return false;
  const std::string u = normal_universe(universe);
  if (u.rfind("ptf", 0) == 0) {
    const int n = u[3] - '0';
    const portfolio::LoadResult r =
        portfolio::load_holdings(portfolio::holdings_path(user_folder, n), false);
    if (r.status == portfolio::LoadStatus::kMissing) {
      error = "ポートフォリオ " + u + " がありません。";
      return false;
    }
    if (r.status != portfolio::LoadStatus::kLoaded) {
      error = "ポートフォリオ " + u + " を読めません。" + r.problem;
      return false;
    }
    for (const portfolio::Holding& h : r.holdings) codes.push_back(trim_blanks(h.code));
  } else {
    std::size_t start = 0;
    while (start <= u.size()) {
      std::size_t end = u.find(',', start);
      if (end == std::string::npos) end = u.size();
      codes.push_back(u.substr(start, end - start));
      start = end + 1;
    }
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  return true;
}

std::string normal_universe(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (out.size() == 4 && out.compare(0, 3, "PTF") == 0) {
    out = "ptf" + out.substr(3);
  }
  return out;
}

std::string check_universe(std::string_view text) {
  const std::string u = normal_universe(text);
  if (u.empty()) return {};
  if (u.size() == 4 && u.compare(0, 3, "ptf") == 0) {
    if (u[3] >= '0' && u[3] <= '9') return {};
    return "対象のポートフォリオは ptf0〜ptf9 で指定してください。";
  }
  std::size_t count = 0, start = 0;
  while (start <= u.size()) {
    std::size_t end = u.find(',', start);
    if (end == std::string::npos) end = u.size();
    const std::string code = u.substr(start, end - start);
    const bool shaped = is_stock_code(code);
    if (!shaped) return "対象の銘柄コード「" + code + "」は4桁のコードではありません。";
    if (++count > 400) return "対象の銘柄コードは400までです。";
    start = end + 1;
  }
  return {};
}

bool delete_screen(const std::string& user_folder, std::string_view name, std::string& error) {
  error = check_screen_name(name);
  if (!error.empty()) return false;
  const fs::path path = screen_path(user_folder, name);
  const auto lock = FileLock::acquire(path, kUserFileLockTimeout, error);
  if (!lock) return false;
  std::error_code ec;
  if (!fs::remove(path, ec) || ec) {
    error = "保存条件「" + std::string(name) + "」を削除できません。";
    return false;
  }
  return true;
}

}  // namespace lp::screening
