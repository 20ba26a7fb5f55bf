#include "common/cli_options.h"

#include <algorithm>

namespace lp::cli {

namespace {

std::vector<std::string_view> split_blanks(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    const std::size_t begin = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\n') ++i;
    if (i > begin) words.push_back(text.substr(begin, i - begin));
  }
  return words;
}

bool is_open(char c) {
  return c == '[' || c == '(' || c == '{';
}
bool is_close(char c) {
  return c == ']' || c == ')' || c == '}';
}

std::string_view strip_brackets(std::string_view w) {
  while (!w.empty() && is_open(w.front())) w.remove_prefix(1);
  while (!w.empty() && is_close(w.back())) w.remove_suffix(1);
  return w;
}

bool is_option_word(std::string_view w) {
  return w.size() > 2 && w.substr(0, 2) == "--";
}

// What follows an option in a usage text decides its kind.
OptionKind kind_from_next(std::string_view option_word, const std::string_view* next) {
  if (!option_word.empty() && is_close(option_word.back())) return OptionKind::flag;
  if (!next) return OptionKind::flag;
  std::string_view n = *next;
  if (n.front() == '|' || n.substr(0, 2) == "--" || n.substr(0, 3) == "...") {
    return OptionKind::flag;
  }
  if (is_open(n.front())) {
    const std::string_view inner = strip_brackets(n);
    if (inner.empty() || inner.front() == '-' || inner.substr(0, 3) == "...") {
      return OptionKind::flag;  // a new group
    }
    // "--name [VALUE]" only when the bracket closes right after the placeholder.
    return is_close(n.back()) ? OptionKind::optional_value : OptionKind::flag;
  }
  return OptionKind::value;
}

void add_rule(std::vector<OptionRule>& rules, std::string_view name, OptionKind kind,
              std::string_view placeholder) {
  for (OptionRule& s : rules) {
    if (s.name == name) {
      // Declared twice: the stronger form wins, so a usage never loses a value.
      if (kind == OptionKind::value || s.kind == OptionKind::flag) {
        s.kind = kind;
        s.placeholder = placeholder;
      }
      return;
    }
  }
  rules.push_back({std::string(name), kind, std::string(placeholder)});
}

constexpr std::string_view kDatePlaceholder = "YYYYMMDD";

// Eight digits naming a day of the calendar (20240229 is one, 20240230 is not).
bool calendar_date(std::string_view t) {
  if (t.size() != 8 || t.find_first_not_of("0123456789") != std::string_view::npos) return false;
  auto num = [&](std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (t[i] - '0');
    return v;
  };
  const int y = num(0, 4), m = num(4, 2), d = num(6, 2);
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return y >= 1900 && m >= 1 && m <= 12 && d >= 1 && d <= kDays[m - 1] + (m == 2 && leap);
}

}  // namespace

std::vector<OptionRule> options_from_usage(std::string_view usage) {
  std::vector<OptionRule> rules;
  const std::vector<std::string_view> words = split_blanks(usage);
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string_view core = strip_brackets(words[i]);
    // Only the options of this word, which may be "--a|--b" or "--name=VALUE".
    std::vector<std::string_view> names;
    bool inline_value = false;
    while (!core.empty()) {
      const std::size_t bar = core.find('|');
      std::string_view piece = core.substr(0, bar);
      if (const std::size_t eq = piece.find('='); eq != std::string_view::npos) {
        inline_value = is_option_word(piece.substr(0, eq));
        piece = piece.substr(0, eq);
      }
      piece = strip_brackets(piece);
      if (is_option_word(piece)) names.push_back(piece);
      if (bar == std::string_view::npos) break;
      core.remove_prefix(bar + 1);
    }
    if (names.empty()) continue;
    const OptionKind kind =
        inline_value ? OptionKind::value
                     : kind_from_next(words[i], i + 1 < words.size() ? &words[i + 1] : nullptr);
    std::string_view placeholder;
    if (kind != OptionKind::flag && !inline_value && i + 1 < words.size()) {
      placeholder = strip_brackets(words[i + 1]);
    }
    for (std::string_view n : names) add_rule(rules, n, kind, placeholder);
  }
  return rules;
}

const OptionRule* find_option(const std::vector<OptionRule>& rules, std::string_view name) {
  for (const OptionRule& s : rules) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

CheckedArgs check_options(const std::vector<std::string>& words,
                          const std::vector<OptionRule>& rules) {
  CheckedArgs out;
  std::string from, to;  // dates of --from and --to, when given
  auto take_value = [&](const OptionRule& rule, const std::string& value) {
    out.args.push_back(value);
    if (rule.placeholder != kDatePlaceholder) return true;
    if (!calendar_date(value)) {
      out.error = rule.name + " の日付 " + value.substr(0, 20) +
                  " は暦にありません (YYYYMMDD で実在する日付を指定してください)";
      return false;
    }
    if (rule.name == "--from") from = value;
    if (rule.name == "--to") to = value;
    return true;
  };
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (!is_option_word(w)) {
      out.args.push_back(w);
      continue;
    }
    const std::size_t eq = w.find('=');
    const std::string name = w.substr(0, eq);
    const OptionRule* rule = find_option(rules, name);
    if (!rule) {
      out.error = "不明なオプションです: " + name;
      return out;
    }
    out.args.push_back(name);
    if (eq != std::string::npos) {
      if (rule->kind == OptionKind::flag) {
        out.error = name + " には値を付けません";
        return out;
      }
      if (!take_value(*rule, w.substr(eq + 1))) return out;
      continue;
    }
    if (rule->kind != OptionKind::value) continue;
    if (i + 1 >= words.size() || is_option_word(words[i + 1])) {
      out.error = name + " には値が必要です";
      return out;
    }
    if (!take_value(*rule, words[++i])) return out;
  }
  if (!from.empty() && !to.empty() && from > to) {
    out.error = "--from " + from + " が --to " + to + " より後です";
  }
  return out;
}

CommandLine split_command_line(const std::vector<std::string>& argv,
                               const std::vector<std::string>& global_value_options) {
  CommandLine line;
  for (const std::string& g : global_value_options) line.globals.push_back({g, {}, false});
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& w = argv[i];
    if (!is_option_word(w)) {
      if (line.command.empty()) {
        line.command = w;
      } else {
        line.words.push_back(w);
      }
      continue;
    }
    const std::size_t eq = w.find('=');
    const std::string name = w.substr(0, eq);
    auto global = std::find_if(line.globals.begin(), line.globals.end(),
                               [&](const GlobalValue& g) { return g.name == name; });
    if (global != line.globals.end()) {
      if (eq != std::string::npos) {
        global->value = w.substr(eq + 1);
      } else if (i + 1 < argv.size() && !is_option_word(argv[i + 1])) {
        global->value = argv[++i];
      } else {
        line.error = name + " には値が必要です";
        return line;
      }
      if (global->value.empty()) {
        line.error = name + " には値が必要です";
        return line;
      }
      global->given = true;
    } else if (name == "--help") {
      line.help = true;
    } else if (line.command.empty()) {
      line.error = "不明なオプションです: " + name;
      return line;
    } else {
      line.words.push_back(w);
    }
  }
  return line;
}

}  // namespace lp::cli
