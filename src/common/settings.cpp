#include "common/settings.h"

#include "common/encoding.h"
#include "common/keyvalue.h"
#include "common/platform.h"

namespace lp {

namespace {

constexpr const char* kProductSub = "nordhaven/lumenpick/";
constexpr const char* kDefaultDbUrl = "http://www.nordhaven.jp/kabu/kabu2/kabuka_db/";
constexpr const char* kDefaultHpUrl = "http://www.nordhaven.jp/kabu/";

// "Desktop\..." and "MyDocuments\..." hang under the platform's folders; anything else is
// taken as written. False when the value is blank or only the prefix (nothing to resolve).
bool resolve_folder(const std::string& value, const std::string& desktop,
                    const std::string& documents, std::string& out) {
  // A blank value is no folder: taken as written it would put the files in whatever folder
  // the program happens to run in.
  if (value.find_first_not_of(" \t") == std::string::npos) return false;
  if (cp_left(value, 7) == "Desktop") {
    if (cp_count(value) <= 7) return false;
    out = desktop + cp_mid(value, 8);
  } else if (cp_left(value, 11) == "MyDocuments") {
    if (cp_count(value) <= 11) return false;
    out = documents + cp_mid(value, 12);
  } else {
    out = value;
  }
  // Values arrive with "\" separators; a folder without a trailing separator would
  // glue its last name to every file name joined onto it.
  out = as_folder(out);
  return true;
}

}  // namespace

std::string product_folder(const std::string& documents_folder) {
  return as_folder(documents_folder) + kProductSub;
}

AppFolders read_settei_sub(const std::string& documents_folder, const std::string& desktop_folder) {
  const std::string d = as_folder(desktop_folder);
  const std::string m = as_folder(documents_folder);
  AppFolders f;
  f.app_folder = m + kProductSub;
  f.db_folder = f.app_folder + "kabuka_db/";
  f.user_folder = f.app_folder + "user/";
  f.reference_code = "1001";
  f.db_url = kDefaultDbUrl;
  f.hp_url = kDefaultHpUrl;

  read_key_values(
      f.app_folder + "settei.txt", [&](const std::string& key, const std::string& value) {
        std::string resolved;
        if (key == "株価データベースフォルダパス") {
          if (resolve_folder(value, d, m, resolved)) f.db_folder = resolved;
        } else if (key == "ユーザフォルダパス") {
          if (resolve_folder(value, d, m, resolved)) f.user_folder = resolved;
        } else if (key == "基準コード１") {
          f.reference_code = value;
        } else if (key == "nordhaven株DB_URL") {
          f.db_url = value;
        } else if (key == "nordhaven株HP_URL") {
          f.hp_url = value;
        } else if (key == "ダウンロード上限秒") {
          // Whole seconds only; anything else keeps the default rather than guessing.
          const bool digits = !value.empty() && value.size() <= 6 &&
                              value.find_first_not_of("0123456789") == std::string::npos;
          const int seconds = digits ? std::stoi(value) : 0;
          if (seconds >= 1 && seconds <= 86400) f.download_timeout_s = seconds;
        } else if (key == "並列数") {
          const bool digits = !value.empty() && value.size() <= 2 &&
                              value.find_first_not_of("0123456789") == std::string::npos;
          const int n = digits ? std::stoi(value) : 0;
          if (n >= 1 && n <= 64) f.threads = n;
        }
      });
  return f;
}

}  // namespace lp
