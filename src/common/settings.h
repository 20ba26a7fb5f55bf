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
};

// The product folder below the documents folder, ending in "/".
std::string product_folder(const std::string& documents_folder);

// Defaults under documents + "nordhaven/lumenpick/", overridden by the product folder's
// "settei.txt". Never fails: an unreadable file leaves the defaults.
AppFolders read_settei_sub(const std::string& documents_folder, const std::string& desktop_folder);

}  // namespace lp
