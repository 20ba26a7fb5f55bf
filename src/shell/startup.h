// The main window's start-up and command states, without any widget: product folders, the
// first-start template copy, the year lists, the database status text and the status table.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "common/user_folders.h"
#include "pricedb/main_status.h"

namespace lp {

inline constexpr const char* kVersionText = "v20130515";
inline constexpr const char* kTemplateNames[] = {"cmd.txt", "init.txt", "settei.txt"};

struct ProductFolderSetup {
  bool created = false;             // the product folder did not exist and was made now
  std::vector<std::string> copied;  // template names copied into it
  // Why the product folder is missing after the call (UTF-8, for the user); empty when it is
  // there.
  std::string error;
};

// Creates the documents folder itself (a fresh account may have none), documents/nordhaven/
// and documents/nordhaven/lumenpick/ where missing. Only when
// the product folder itself is created now are the templates copied from the installation
// folder, each on its own (a missing template is skipped): an existing product folder is
// never refilled, so a template the user deleted stays deleted. Best effort, never throws.
ProductFolderSetup prepare_product_folders(const std::string& documents_folder,
                                           const std::string& install_folder);

// The year lists of the main window: every year from the current one down to 1983, newest
// first, as "yyyy年"; a year present in db_folder goes to `present` (the delete and view
// lists), any other to `download`. db_folder is created when missing.
struct YearLists {
  std::vector<std::string> download;
  std::vector<std::string> present;
};
YearLists build_year_lists(const std::string& db_folder, int current_year);

// "株価データベース:　～" + date when a date was found and reads above 0, else the "no data" text.
std::string database_status_text(bool found, const std::string& date);

// The busy indicator's ten frames, shown in turn every 100 ms while a download runs.
const std::array<std::string_view, 10>& busy_frames();

// The controls set_main_status touches for one status text, each with its new enabled state.
// An unknown status text yields an empty list: nothing changes.
using ControlStates = std::vector<std::pair<std::string_view, bool>>;
const ControlStates& main_status_effects(std::string_view status);

}  // namespace lp
