#include "common/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "common/encoding.h"

namespace lp {

namespace {

std::string env_text(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string without_trailing_slash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The value of one "XDG_..._DIR=" line: "$HOME/sub" or an absolute path, quoted as the shell
// quotes it; anything else is not a folder.
std::string folder_from_value(std::string_view value, const std::string& home) {
  std::string text;
  if (!value.empty() && value.front() == '"') {
    value.remove_prefix(1);
    bool closed = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) {
        text.push_back(value[++i]);
      } else if (value[i] == '"') {
        closed = true;
        break;
      } else {
        text.push_back(value[i]);
      }
    }
    if (!closed) return {};
  } else {
    text = std::string(value);
  }
  for (std::string_view var : {"${HOME}", "$HOME"}) {
    if (text.compare(0, var.size(), var) == 0 &&
        (text.size() == var.size() || text[var.size()] == '/')) {
      if (home.empty()) return {};
      return without_trailing_slash(home + text.substr(var.size()));
    }
  }
  if (!text.empty() && text.front() == '/') return without_trailing_slash(text);
  return {};
}

}  // namespace

HomeEnvironment home_environment() noexcept {
  HomeEnvironment env;
  try {
    env.home = env_text("HOME");
    if (env.home.empty()) {
      if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) env.home = pw->pw_dir;
    }
    env.home = env.home.empty() ? env.home : without_trailing_slash(env.home);
    env.config_home = env_text("XDG_CONFIG_HOME");
    if (!env.config_home.empty() && env.config_home.front() != '/') env.config_home.clear();
    env.documents_override = env_text("LUMENPICK_DOCUMENTS");
  } catch (...) {
    // Out of memory copying a few strings: nothing sensible is left to report.
  }
  return env;
}

std::string xdg_user_dir(std::string_view key, std::string_view fallback,
                         const HomeEnvironment& env) noexcept {
  try {
    std::string config = env.config_home;
    if (config.empty() && !env.home.empty()) config = env.home + "/.config";
    if (!config.empty()) {
      std::ifstream in(without_trailing_slash(config) + "/user-dirs.dirs");
      const std::string wanted = "XDG_" + std::string(key) + "_DIR=";
      std::string line, found;
      bool seen = false;
      while (in && std::getline(in, line)) {
        const std::string_view l = trim_view(line);
        if (l.substr(0, wanted.size()) != wanted) continue;
        // The file is read by a shell: the last assignment wins.
        found = folder_from_value(trim_view(l.substr(wanted.size())), env.home);
        seen = true;
      }
      if (seen && !found.empty()) return found;
    }
    if (env.home.empty()) return {};
    return env.home + "/" + std::string(fallback);
  } catch (...) {
    return {};
  }
}

std::string documents_folder(const HomeEnvironment& env) noexcept {
  if (!env.documents_override.empty()) {
    try {
      return without_trailing_slash(env.documents_override);
    } catch (...) {
      return {};
    }
  }
  return xdg_user_dir("DOCUMENTS", "Documents", env);
}

std::string desktop_folder(const HomeEnvironment& env) noexcept {
  return xdg_user_dir("DESKTOP", "Desktop", env);
}

std::string folder_error_text(const std::string& folder, const std::error_code& ec) {
  std::string text = "エラー：フォルダを作成できません：" + folder;
  if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted) {
    text += "（書き込みの権限がありません）";
  } else if (ec == std::errc::read_only_file_system) {
    text += "（読み取り専用の場所です）";
  } else if (ec == std::errc::not_a_directory || ec == std::errc::file_exists) {
    text += "（同じ名前のファイルがあります）";
  } else if (ec == std::errc::no_space_on_device) {
    text += "（ディスクの空きがありません）";
  } else if (ec) {
    text += "（" + ec.message() + "）";
  }
  return text;
}

}  // namespace lp
