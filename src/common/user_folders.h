// The user's documents and desktop folders as the desktop names them: "XDG_DOCUMENTS_DIR" and
// "XDG_DESKTOP_DIR" of "user-dirs.dirs" when set, else "~/Documents" and "~/Desktop". One
// answer for the desktop program and the CLI. Nothing here throws: a home folder that cannot
// be read only means the defaults.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace lp {

struct HomeEnvironment {
  std::string home;                // $HOME, else the account's home folder; may be empty
  std::string config_home;         // $XDG_CONFIG_HOME when absolute, else empty
  std::string documents_override;  // $LUMENPICK_DOCUMENTS
};

// The environment of this process.
HomeEnvironment home_environment() noexcept;

// The folder "XDG_<key>_DIR" names in `user-dirs.dirs` ("$HOME/..." expanded, an absolute path
// as written), else `home/fallback`; "" when neither gives a folder (no home). Without a
// trailing separator.
std::string xdg_user_dir(std::string_view key, std::string_view fallback,
                         const HomeEnvironment& env) noexcept;

// LUMENPICK_DOCUMENTS when set, else the desktop's documents folder.
std::string documents_folder(const HomeEnvironment& env) noexcept;
std::string desktop_folder(const HomeEnvironment& env) noexcept;

// "エラー：フォルダを作成できません：" + folder, with the reason in words where it is a usual one.
std::string folder_error_text(const std::string& folder, const std::error_code& ec);

}  // namespace lp
