// The daily run on a schedule: a systemd user timer and service
// (~/.config/systemd/user/lumenpick-daily.timer / .service) that run "lumenpick-cli daily"
// on weekdays. The unit texts come from the templates shipped with the program.
#pragma once

#include <string>

namespace lp::watch {

inline constexpr const char* kDefaultScheduleTime = "18:00";
inline constexpr const char* kTimerName = "lumenpick-daily.timer";
inline constexpr const char* kServiceName = "lumenpick-daily.service";

// True for "HH:MM" with HH 00-23 and MM 00-59 (exactly five characters).
bool valid_schedule_time(const std::string& text);

// The systemd user unit folder: $XDG_CONFIG_HOME/systemd/user, else $HOME/.config/systemd/user;
// "" when neither is set (never a folder relative to wherever the program was started).
std::string user_unit_folder();
// Why `path` cannot go into a unit file ("" when it can): a line break or other control
// character would cut the command line, and systemd reads only UTF-8.
std::string unit_path_problem(const std::string& path);

struct UnitTexts {
  std::string service, timer;
};
// The texts from the templates in `install_folder`/systemd (built-in copies when absent):
// ExecStart with the quoted absolute `cli_path`, "--documents DIR" when `documents` is given,
// then "daily"; OnCalendar on weekdays at `time`.
UnitTexts unit_texts(const std::string& install_folder, const std::string& cli_path,
                     const std::string& documents, const std::string& time);

// A word of an ExecStart line: double-quoted, with systemd's specifiers ("%") and variables
// ("$") and the quote and backslash escaped.
std::string exec_word(const std::string& word);

// Writes both units atomically into `folder`. False and a message on failure.
// The line every unit of ours carries: a unit without it is the user's and is never written
// over nor removed.
inline constexpr const char* kUnitMarker = "# X-LumenPick-Managed: schedule";
// False (and `error` naming the file) when a unit file of our names exists without the marker.
bool units_are_ours(const std::string& folder, std::string& error);
bool write_units(const std::string& folder, const UnitTexts& texts, std::string& error);
// Removes both units; true when none is left.
bool remove_units(const std::string& folder, std::string& error);

struct ScheduleState {
  bool installed = false;
  std::string time;     // HH:MM of the timer
  std::string command;  // the ExecStart line's command
};
ScheduleState read_schedule(const std::string& folder);

// Runs "systemctl --user ARGS" and gives its exit status and output (stderr included); -1 when
// it could not be started.
int systemctl_user(const std::string& args, std::string& output);

}  // namespace lp::watch
