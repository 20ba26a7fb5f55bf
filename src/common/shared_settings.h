// What the window chooses and the command line and the timer must honour too: the J-Quants
// plan, the J-Quants address and the download host. One small file in the product folder,
// "connection.txt" (key=value lines, UTF-8), replaced whole under a lock; an option given on
// the command line still wins.
#pragma once

#include <string>

namespace lp {

inline constexpr const char* kSharedSettingsFile = "connection.txt";

struct SharedSettings {
  std::string plan;  // "free", "light", "standard", "premium" (empty: not chosen)
  std::string base;  // a J-Quants API address (empty: settei.txt's or the default)
  std::string host;  // "maker", "lan", "local" or "jquants" (empty: not chosen)
  std::string fins;  // "off": the syncs fetch no results summaries (empty or "on": they do)
};

// `app_folder` is the product folder ending in "/". Unknown keys and bad values are ignored.
SharedSettings read_shared_settings(const std::string& app_folder);
// Sets one key ("plan", "base", "host" or "fins"), keeping the others. False with `error` when the
// key or value is refused or the file cannot be written.
bool write_shared_setting(const std::string& app_folder, const std::string& key,
                          const std::string& value, std::string& error);

// The Free plan serves prices twelve weeks late, so every notice names the day they are of:
// 「2026/09/11 分のデータ (12週遅れ)」 for `plan` "free" and a yyyymmdd `newest`, else "".
std::string data_age_text(const std::string& plan, const std::string& newest);
// The same for the plan chosen in the window (the product folder's shared settings; none
// chosen is the Free plan), when the window updates from J-Quants.
std::string chosen_data_age_text(const std::string& app_folder, const std::string& newest);

}  // namespace lp
