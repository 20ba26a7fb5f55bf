// Folder and server resolution from "settei.txt".
#pragma once

#include <string>

namespace lp {

// Every folder field is a native path ending in "/".
struct AppFolders {
  std::string db_folder;
  std::string user_folder;
  std::string reference_code;
  std::string db_url;
  std::string hp_url;
  std::string app_folder;
  // Key "ダウンロード上限秒": the most one downloaded file may take, in seconds (1 to 86400).
  int download_timeout_s = 120;
  // Key "並列数": worker threads of the screening, ranking and backtest loops (1 to 64);
  // 0 (the default) means one per core of the machine.
  int threads = 0;
};

// The product folder below the documents folder, ending in "/".
std::string product_folder(const std::string& documents_folder);

// Defaults under documents + "nordhaven/lumenpick/", overridden by the product folder's
// "settei.txt". Never fails: an unreadable file leaves the defaults.
AppFolders read_settei_sub(const std::string& documents_folder, const std::string& desktop_folder);

}  // namespace lp
