#include "common/install_layout.h"

#include <filesystem>
#include <system_error>

namespace lp {

namespace fs = std::filesystem;

std::string find_install_folder(const std::string& program_folder) {
  if (program_folder.empty()) return program_folder;
  std::error_code ec;
  const fs::path installed = (fs::path(program_folder) / kInstalledDataFolder).lexically_normal();
  // settei.txt marks a complete installation: an empty or half-removed share folder must not
  // hide the templates of a build tree.
  if (fs::is_regular_file(installed / "settei.txt", ec)) {
    std::string out = installed.string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
  }
  return program_folder;
}

}  // namespace lp
