// Saved screens: the whole state of the screening window (ticked criteria with their
// parameters, the formula rows, the market boxes) under a name the user chooses, kept as
// "user/screens/<name>.txt" in the key/value form of "init.txt" (CP932, CR LF, "EOF").
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "screening/controls.h"

namespace lp::screening {

inline constexpr int kMaxScreenNameLength = 40;

// The folder of saved screens below the user folder (a native folder ending in "/").
std::string screens_folder(const std::string& user_folder);

// "" when `name` may name a saved screen, else the message that refuses it: 1-40 characters,
// no path separators or control characters, not "." or ".." and not starting with "." (the
// form of hidden and temporary files).
std::string check_screen_name(std::string_view name);

// The saved screens' names, sorted. Temporary and hidden files are not screens.
std::vector<std::string> list_screens(const std::string& user_folder);

// The file text of a screen (UTF-8; committed as CP932): one "control,value" line per value,
// combo lists as "name,CLEAR" then one line per item, then "name_初期値,text"; "EOF" last.
// False and `error` set when a value cannot be stored (a double quote or a line break).
bool screen_text(const ControlSet& controls, std::string& text, std::string& error);

// Writes the screen atomically (replacing one of the same name) under the advisory lock of
// its file. False and a message when the name is refused, the lock is held elsewhere for too
// long or the file cannot be written.
bool save_screen(const std::string& user_folder, std::string_view name, const ControlSet& controls,
                 std::string& error);
// Replaces `controls` by the saved state. False and a message when there is no such screen.
bool load_screen(const std::string& user_folder, std::string_view name, ControlSet& controls,
                 std::string& error);
bool delete_screen(const std::string& user_folder, std::string_view name, std::string& error);

// What a saved screen carries beside the window's controls: whether it runs after every
// update of the database ("監視"), and the stocks it is limited to ("対象": "ptf1" for the
// holdings of ptf1.csv, or codes "7203,6758,130A"; empty: the whole market). Screens saved
// before these keys existed read as not watched, whole market.
struct ScreenMarks {
  bool watched = false;
  std::string universe;
  // The backtest dialog's settings kept with the screen (account, exits, costs), as
  // "検証_<key>" lines; empty for a screen never backtested from the dialog.
  std::map<std::string, std::string> backtest = {};
  bool operator==(const ScreenMarks&) const = default;
};
inline constexpr std::string_view kWatchKey = "監視";
inline constexpr std::string_view kUniverseKey = "対象";
inline constexpr std::string_view kBacktestPrefix = "検証_";

// "" when `text` is a universe a screen may keep (after trimming blanks), else the message:
// "ptf0".."ptf9", or one to 400 stock codes ("7203", "130A") separated by commas.
std::string check_universe(std::string_view text);
// The universe text in its stored form: trimmed, codes upper-cased, blanks around commas gone.
std::string normal_universe(std::string_view text);

// The stock codes of a universe text, sorted: the holdings of a portfolio file or the codes
// given. False and a message when the portfolio is missing or damaged or the text is no
// universe.
bool universe_codes(const std::string& user_folder, const std::string& universe,
                    std::vector<std::string>& codes, std::string& error);

// save_screen with the marks written too.
bool save_screen(const std::string& user_folder, std::string_view name, const ControlSet& controls,
                 const ScreenMarks& marks, std::string& error);
// load_screen that also gives the marks.
bool load_screen(const std::string& user_folder, std::string_view name, ControlSet& controls,
                 ScreenMarks& marks, std::string& error);
// The marks alone. False and a message when there is no such screen.
bool read_screen_marks(const std::string& user_folder, std::string_view name, ScreenMarks& marks,
                       std::string& error);
// Changes the marks of a stored screen in place (its controls untouched), under the lock.
bool write_screen_marks(const std::string& user_folder, std::string_view name,
                        const ScreenMarks& marks, std::string& error);

}  // namespace lp::screening
