#include "watch/watch_schedule.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/csv.h"
#include "common/encoding.h"

namespace lp::watch {

namespace {

namespace fs = std::filesystem;

// The shipped templates' text, for a program run from a folder without them.
constexpr const char* kServiceTemplate =
    "[Unit]\n"
    "Description=LumenPick daily update, watched screens and report\n"
    "After=network-online.target\n"
    "Wants=network-online.target\n\n"
    "[Service]\n"
    "Type=oneshot\n"
    "ExecStart=@EXEC@ daily\n"
    "Nice=5\n";
constexpr const char* kTimerTemplate =
    "[Unit]\n"
    "Description=LumenPick daily run on weekdays at @TIME@\n\n"
    "[Timer]\n"
    "OnCalendar=Mon..Fri *-*-* @TIME@:00\n"
    "Persistent=true\n"
    "Unit=lumenpick-daily.service\n\n"
    "[Install]\n"
    "WantedBy=timers.target\n";

std::string read_template(const std::string& install_folder, const char* name,
                          const char* fallback) {
  std::string text;
  if (!install_folder.empty() &&
      read_file_bytes((fs::path(install_folder) / "systemd" / name).string(), text) &&
      !text.empty()) {
    return text;
  }
  return fallback;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
    text.replace(p, from.size(), to);
}

std::string line_value(const std::string& text, const std::string& key) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

}  // namespace

bool valid_schedule_time(const std::string& text) {
  if (text.size() != 5 || text[2] != ':') return false;
  for (std::size_t i : {0u, 1u, 3u, 4u}) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  const int h = (text[0] - '0') * 10 + (text[1] - '0');
  const int m = (text[3] - '0') * 10 + (text[4] - '0');
  return h <= 23 && m <= 59;
}

std::string user_unit_folder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return (fs::path(xdg) / "systemd" / "user").string();
  const char* home = std::getenv("HOME");
  if (!home || *home != '/') return {};
  return (fs::path(home) / ".config" / "systemd" / "user").string();
}

std::string unit_path_problem(const std::string& path) {
  const bool control = std::any_of(path.begin(), path.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
  if (control) {
    return "改行や制御文字を含むパスはユニットファイルに書けません: " + printable_text(path);
  }
  if (to_utf8(to_u32(path)) != path) {
    return "UTF-8 ではないパスはユニットファイルに書けません: " + printable_text(path);
  }
  return {};
}

std::string exec_word(const std::string& word) {
  std::string out = "\"";
  for (char c : word) {
    if (c == '%') {
      out += "%%";
    } else if (c == '$') {
      out += "$$";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) >= 0x20) {
      out += c;
    }
  }
  return out + "\"";
}

UnitTexts unit_texts(const std::string& install_folder, const std::string& cli_path,
                     const std::string& documents, const std::string& time) {
  UnitTexts t;
  t.service = read_template(install_folder, kServiceName, kServiceTemplate);
  t.timer = read_template(install_folder, kTimerName, kTimerTemplate);
  std::string exec = exec_word(cli_path);
  if (!documents.empty()) exec += " --documents " + exec_word(documents);
  replace_all(t.service, "@EXEC@", exec);
  replace_all(t.timer, "@TIME@", time);
  t.service = std::string(kUnitMarker) + "\n" + t.service;
  t.timer = std::string(kUnitMarker) + "\n" + t.timer;
  return t;
}

bool units_are_ours(const std::string& folder, std::string& error) {
  for (const char* name : {kServiceName, kTimerName}) {
    const fs::path path = fs::path(folder) / name;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) continue;
    std::string text;
    const bool ours = fs::is_regular_file(fs::symlink_status(path, ec)) &&
                      read_file_bytes(path.string(), text) &&
                      text.find(kUnitMarker) != std::string::npos;
    if (!ours) {
      error = path.string() +
              " は LumenPick が書いたユニットではないため、変更も削除もしません。";
      return false;
    }
  }
  return true;
}

bool write_units(const std::string& folder, const UnitTexts& texts, std::string& error) {
  if (!units_are_ours(folder, error)) return false;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!write_file_atomic(fs::path(folder) / kServiceName, texts.service, true) ||
      !write_file_atomic(fs::path(folder) / kTimerName, texts.timer, true)) {
    error = "ユニットファイルを " + folder + " に書き込めません。";
    return false;
  }
  return true;
}

bool remove_units(const std::string& folder, std::string& error) {
  if (!units_are_ours(folder, error)) return false;
  bool ok = true;
  for (const char* name : {kTimerName, kServiceName}) {
    std::error_code ec;
    fs::remove(fs::path(folder) / name, ec);
    if (ec) {
      error = "ユニットファイル " + std::string(name) + " を削除できません。";
      ok = false;
    }
  }
  return ok;
}

ScheduleState read_schedule(const std::string& folder) {
  ScheduleState s;
  std::string timer, service;
  if (!read_file_bytes((fs::path(folder) / kTimerName).string(), timer)) return s;
  read_file_bytes((fs::path(folder) / kServiceName).string(), service);
  s.installed = true;
  const std::string cal = line_value(timer, "OnCalendar");
  // "Mon..Fri *-*-* HH:MM:00"
  const std::size_t colon = cal.rfind(':');
  if (colon != std::string::npos && colon >= 5) s.time = cal.substr(colon - 5, 5);
  s.command = line_value(service, "ExecStart");
  return s;
}

int systemctl_user(const std::string& args, std::string& output) {
  output.clear();
  const std::string command = "systemctl --user " + args + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[512];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  const int status = pclose(p);
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace lp::watch
