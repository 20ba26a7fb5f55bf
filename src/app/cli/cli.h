// Command registry of lumenpick-cli. Each subsystem adds its commands in a file of its own
// with LP_CLI_COMMAND, so the commands stay next to nothing but their own code.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/cli_options.h"
#include "common/platform.h"
#include "common/settings.h"

namespace lp::cli {

// Options common to every command, plus the command's own words.
struct Context {
  Platform platform;                // documents folder, today, no yield
  std::vector<std::string> args;    // the words after the command name, options checked
  std::vector<OptionRule> options;  // the command's options, read from its usage text
  bool documents_given = false;     // --documents was on the command line
  AppFolders folders() const;       // read_settei_sub on the platform's folders

  // "--name value" among args: true and the value if present (removed from args). The
  // values of other options are never taken for option names.
  bool take_option(const std::string& name, std::string& value);
  // "--name" flag among args (removed from args).
  bool take_flag(const std::string& name);

 private:
  bool takes_value(const std::string& word) const;
};

// Prints a one-line error to standard error and returns the exit code 1.
int fail(const std::string& message);
// The same with an exit code of its own: 2 for "the database holds no company results" (a
// formula on results where there are none), which scripts tell from a mistake in the options.
int fail(const std::string& message, int code);
// The message of the last fail() of this process ("" when none).
const std::string& last_failure();

using Handler = std::function<int(Context&)>;

struct Command {
  std::string usage;
  std::string summary;
  Handler run;
};

std::map<std::string, Command>& registry();

struct Registrar {
  Registrar(const std::string& name, const std::string& usage, const std::string& summary,
            Handler run) {
    registry()[name] = Command{usage, summary, std::move(run)};
  }
};

}  // namespace lp::cli

#define LP_CLI_CONCAT2(a, b) a##b
#define LP_CLI_CONCAT(a, b) LP_CLI_CONCAT2(a, b)
#define LP_CLI_COMMAND(name, usage, summary, fn) \
  static ::lp::cli::Registrar LP_CLI_CONCAT(lp_cli_registrar_, __LINE__)(name, usage, summary, fn)
