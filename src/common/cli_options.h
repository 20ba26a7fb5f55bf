// Command-line options of lumenpick-cli, checked against each command's usage text, so an
// option a command does not know (or one that lacks its value) is an error instead of being
// ignored, and a command's usage line is the one place its options are declared.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lp::cli {

enum class OptionKind {
  flag,           // "--name"
  value,          // "--name VALUE"
  optional_value  // "--name [VALUE]": the command decides whether the next word is its value
};

struct OptionRule {
  std::string name;  // with the leading "--"
  OptionKind kind = OptionKind::flag;
  std::string placeholder;  // the value's word in the usage ("N", "YYYYMMDD"), "" for a flag
};

// The options a usage text declares: "--name" followed by a placeholder word ("N", "A,B",
// "YYYYMMDD", "maker|lan|local") takes a value; "--name" followed by nothing, by another
// option or by a new bracketed group is a flag; "--name [VALUE]" has an optional value.
// Alternatives written "--a|--b WORD" share the placeholder.
std::vector<OptionRule> options_from_usage(std::string_view usage);

const OptionRule* find_option(const std::vector<OptionRule>& rules, std::string_view name);

// The words after the command, checked and normalised: "--name=value" becomes "--name"
// "value", every option is known and every value option has its value. A value whose
// placeholder is YYYYMMDD must be a date of the calendar, and --from may not lie after --to. Words
// that do not start with "--" are left where they are (a "-5" is a word, not an option).
struct CheckedArgs {
  std::vector<std::string> args;
  std::string error;  // a usage error, empty when the words are fine
};
CheckedArgs check_options(const std::vector<std::string>& words,
                          const std::vector<OptionRule>& rules);

// The whole command line: the command name (the first word that is not a global option or
// its value), the global options (anywhere, before or after the command), "--help" anywhere,
// and the command's own words in order.
struct GlobalValue {
  std::string name;  // "--documents"
  std::string value;
  bool given = false;
};
struct CommandLine {
  std::string command;
  std::vector<GlobalValue> globals;  // one per global value option, in the order asked for
  bool help = false;
  std::vector<std::string> words;
  std::string error;  // a usage error (an unknown option before the command, a missing value)
};
CommandLine split_command_line(const std::vector<std::string>& argv,
                               const std::vector<std::string>& global_value_options);

}  // namespace lp::cli
