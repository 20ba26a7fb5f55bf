#include "shell/startup.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/numbers.h"
#include "common/platform.h"
#include "common/settings.h"
#include "pricedb/formats.h"

namespace lp {

namespace fs = std::filesystem;

ProductFolderSetup prepare_product_folders(const std::string& documents_folder,
                                           const std::string& install_folder) {
  ProductFolderSetup out;
  if (documents_folder.empty()) {
    // No home folder to put it in: never a tree at the root of the file system.
    out.error = "エラー：ドキュメントフォルダが分かりません。";
    return out;
  }
  std::error_code ec;
  const std::string product = product_folder(documents_folder);
  const fs::path maker = fs::path(product).parent_path().parent_path();
  if (fs::is_directory(product, ec)) return out;
  // The whole tree: a fresh account may have no documents folder yet.
  ec.clear();
  if (!fs::is_directory(maker, ec)) fs::create_directories(maker, ec);
  if (!ec) fs::create_directory(product, ec);
  std::error_code look_ec;
  if (ec || !fs::is_directory(product, look_ec)) {
    out.error = folder_error_text(product, ec);
    return out;
  }
  out.created = true;
  const std::string install = as_folder(install_folder);
  for (const char* name : kTemplateNames) {
    std::error_code copy_ec;
    if (fs::copy_file(install + name, product + name, fs::copy_options::overwrite_existing,
                      copy_ec)) {
      out.copied.emplace_back(name);
    }
  }
  return out;
}

YearLists build_year_lists(const std::string& db_folder, int current_year) {
  YearLists lists;
  std::error_code ec;
  if (!fs::is_directory(db_folder, ec)) fs::create_directory(db_folder, ec);
  const std::vector<int> present = years_present(db_folder);
  for (int y = current_year; y >= kOldestYear; --y) {
    std::string entry = std::to_string(y) + "年";
    if (std::find(present.begin(), present.end(), y) != present.end()) {
      lists.present.push_back(std::move(entry));
    } else {
      lists.download.push_back(std::move(entry));
    }
  }
  return lists;
}

std::string database_status_text(bool found, const std::string& date) {
  if (found && parse_number(date) > 0) return "株価データベース:　～" + date;
  return "株価データベース:　データ無";
}

const std::array<std::string_view, 10>& busy_frames() {
  static const std::array<std::string_view, 10> frames = {"－", "＋", "＊", "＋", "－",
                                                          "－", "＋", "＊", "＋", ""};
  return frames;
}

const ControlStates& main_status_effects(std::string_view status) {
  static const ControlStates none;
  static const auto commands = [](bool on) {
    return ControlStates{{"download_cmd", on},  {"meigara_sel2_cmd", on}, {"graph_cmd", on},
                         {"portforio_cmd", on}, {"vup1_cmd", on},         {"end_cmd", on}};
  };
  static const auto with = [](ControlStates base, std::initializer_list<std::string_view> names,
                              bool on) {
    for (std::string_view n : names) base.emplace_back(n, on);
    return base;
  };
  static const ControlStates idle = with(commands(true), {"mnt_frm"}, true);
  static const ControlStates download_start =
      with(commands(false),
           {"cmd_frm", "mnt_frm", "yyyy_dl_cmb", "yyyy_dl_cmd", "yyyy_delet_cmb", "yyyy_del_cmd",
            "see_data_cmd", "yyyy_cmb"},
           false);
  static const ControlStates download_done =
      with(commands(true),
           {"cmd_frm", "mnt_frm", "yyyy_dl_cmb", "yyyy_dl_cmd", "yyyy_delet_cmb", "yyyy_del_cmd",
            "see_data_cmd", "yyyy_cmb"},
           true);
  static const ControlStates delete_start = with(
      commands(false), {"yyyy_dl_cmb", "yyyy_dl_cmd", "yyyy_delet_cmb", "yyyy_del_cmd"}, false);
  static const ControlStates delete_done =
      with(commands(true),
           {"yyyy_dl_cmb", "yyyy_dl_cmd", "yyyy_delet_cmb", "yyyy_del_cmd", "see_data_cmd"}, true);
  if (status == kStatusIdle) return idle;
  if (status == kStatusDownloadStart) return download_start;
  if (status == kStatusDownloadDone) return download_done;
  if (status == kStatusDeleteStart) return delete_start;
  if (status == kStatusDeleteDone) return delete_done;
  return none;
}

}  // namespace lp
