#include "common/shared_settings.h"

#include <filesystem>

#include "common/csv.h"
#include "common/file_lock.h"
#include "common/keyvalue.h"

namespace lp {

namespace {

bool plain_value(const std::string& v) {
  if (v.empty() || v.size() > 300) return false;
  for (unsigned char c : v) {
    if (c <= 0x20 || c == 0x7f) return false;
  }
  return true;
}

bool accepted(const std::string& key, const std::string& value) {
  if (key == "plan") {
    return value == "free" || value == "light" || value == "standard" || value == "premium";
  }
  if (key == "host") {
    return value == "maker" || value == "lan" || value == "local" || value == "jquants";
  }
  if (key == "fins") return value == "on" || value == "off";
  if (key == "base") {
    return plain_value(value) &&
           (value.rfind("http://", 0) == 0 || value.rfind("https://", 0) == 0);
  }
  return false;
}

std::string& field(SharedSettings& s, const std::string& key) {
  return key == "plan" ? s.plan : key == "base" ? s.base : key == "host" ? s.host : s.fins;
}

SharedSettings parse(const std::string& bytes) {
  SharedSettings s;
  for_each_key_value_line(bytes, [&](const std::string& key, const std::string& value) {
    if (accepted(key, value)) field(s, key) = value;
  });
  return s;
}

}  // namespace

SharedSettings read_shared_settings(const std::string& app_folder) {
  std::string bytes;
  if (!read_file_bytes(app_folder + kSharedSettingsFile, bytes)) return {};
  return parse(bytes);
}

bool write_shared_setting(const std::string& app_folder, const std::string& key,
                          const std::string& value, std::string& error) {
  if (!accepted(key, value)) {
    error = "設定できない値です: " + key + "=" + value;
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(app_folder, ec);
  const std::filesystem::path path = app_folder + kSharedSettingsFile;
  const auto lock = FileLock::acquire(path, kUserFileLockTimeout, error);
  if (!lock) return false;
  std::string bytes;
  SharedSettings s = read_file_bytes(path, bytes) ? parse(bytes) : SharedSettings{};
  field(s, key) = value;
  std::string out;
  if (!s.plan.empty()) out += "plan=" + s.plan + "\n";
  if (!s.base.empty()) out += "base=" + s.base + "\n";
  if (!s.host.empty()) out += "host=" + s.host + "\n";
  if (!s.fins.empty()) out += "fins=" + s.fins + "\n";
  if (!write_file_atomic(path, out)) {
    error = "設定を書き込めませんでした: " + path.string();
    return false;
  }
  return true;
}

std::string data_age_text(const std::string& plan, const std::string& newest) {
  if (plan != "free" || newest.size() != 8) return {};
  return newest.substr(0, 4) + "/" + newest.substr(4, 2) + "/" + newest.substr(6, 2) +
         " 分のデータ (12週遅れ)";
}

std::string chosen_data_age_text(const std::string& app_folder, const std::string& newest) {
  const SharedSettings s = read_shared_settings(app_folder);
  return s.host == "jquants" ? data_age_text(s.plan.empty() ? "free" : s.plan, newest) : "";
}

}  // namespace lp
