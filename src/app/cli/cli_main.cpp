// lumenpick-cli: the headless companion of the desktop program.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <system_error>

#include "app/cli/cli.h"
#include "common/encoding.h"
#include "common/install_layout.h"
#include "common/parallel.h"
#include "common/user_folders.h"
#include "pricedb/series.h"

namespace lp::cli {

std::map<std::string, Command>& registry() {
  static std::map<std::string, Command> commands;
  return commands;
}

namespace {
std::string g_last_failure;
}  // namespace

int fail(const std::string& message) {
  return fail(message, 1);
}

int fail(const std::string& message, int code) {
  std::cerr << "lumenpick-cli: " << message << "\n";
  g_last_failure = message;
  return code;
}

const std::string& last_failure() {
  return g_last_failure;
}

AppFolders Context::folders() const {
  return read_settei_sub(platform.documents_folder, platform.desktop_folder);
}

bool Context::takes_value(const std::string& word) const {
  const OptionRule* rule = find_option(options, word);
  return rule && rule->kind == OptionKind::value;
}

bool Context::take_option(const std::string& name, std::string& value) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == name) {
      value = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return true;
    }
    if (takes_value(args[i])) ++i;
  }
  return false;
}

bool Context::take_flag(const std::string& name) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
    if (takes_value(args[i])) ++i;
  }
  return false;
}

}  // namespace lp::cli

namespace {

constexpr int kUsageError = 2;

// Everything the CLI prints passes printable_text line by line: names, server messages and
// lines of imported files come from outside, and an escape sequence among them would retitle
// or clear the user's terminal. A flush before a line ends keeps back an unfinished UTF-8
// character so it is judged whole.
class PrintableBuf : public std::streambuf {
 public:
  explicit PrintableBuf(std::streambuf* out) : out_(out) {}
  ~PrintableBuf() override { flush_all(); }
  void flush_all() {
    emit(pending_.size());
    out_->pubsync();
  }

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    pending_.push_back(traits_type::to_char_type(c));
    if (c == '\n') emit(pending_.size());
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    const std::size_t nl = pending_.rfind('\n');
    if (nl != std::string::npos) emit(nl + 1);
    return n;
  }
  int sync() override {
    // Up to the last whole character: a lead byte and its continuation bytes stay together.
    std::size_t end = pending_.size();
    std::size_t back = 0;
    while (back < 3 && back < end &&
           (static_cast<unsigned char>(pending_[end - 1 - back]) & 0xC0) == 0x80) {
      ++back;
    }
    if (back < end) {
      const auto lead = static_cast<unsigned char>(pending_[end - 1 - back]);
      const std::size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (back + 1 < want) end -= back + 1;
    }
    emit(end);
    return out_->pubsync();
  }

 private:
  void emit(std::size_t n) {
    if (n == 0) return;
    const std::string text = lp::printable_text(std::string_view(pending_).substr(0, n), true);
    out_->sputn(text.data(), static_cast<std::streamsize>(text.size()));
    pending_.erase(0, n);
  }
  std::streambuf* out_;
  std::string pending_;
};

// Puts the filter in front of standard output and error for the life of main.
struct PrintableStreams {
  PrintableStreams()
      : out_buf(std::cout.rdbuf()),
        err_buf(std::cerr.rdbuf()),
        out_old(std::cout.rdbuf(&out_buf)),
        err_old(std::cerr.rdbuf(&err_buf)) {}
  ~PrintableStreams() {
    std::cout.flush();
    std::cerr.flush();
    out_buf.flush_all();
    err_buf.flush_all();
    std::cout.rdbuf(out_old);
    std::cerr.rdbuf(err_old);
  }
  PrintableBuf out_buf, err_buf;
  std::streambuf* out_old;
  std::streambuf* err_old;
};

void usage(std::ostream& out) {
  out << "usage: lumenpick-cli [--documents DIR] [--today YYYYMMDD] [--threads N] COMMAND "
         "[ARGS...]\n"
         "       lumenpick-cli COMMAND --help\n"
         "       lumenpick-cli --help | --version\n\n"
         "Global options may stand before or after the command; every option takes\n"
         "\"--name value\" or \"--name=value\".\n\n";
  for (const auto& [name, cmd] : lp::cli::registry()) {
    out << "  " << cmd.usage << "\n      " << cmd.summary << "\n";
  }
}

void command_usage(std::ostream& out, const lp::cli::Command& cmd) {
  out << "usage: lumenpick-cli " << cmd.usage
      << " [--documents DIR] [--today YYYYMMDD] [--threads N]\n"
      << "  " << cmd.summary << "\n";
}

int usage_error(const std::string& message, const lp::cli::Command* cmd) {
  std::cerr << "lumenpick-cli: " << message << "\n";
  if (cmd) {
    command_usage(std::cerr, *cmd);
  } else {
    usage(std::cerr);
  }
  return kUsageError;
}

std::string install_folder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe", ec);
  return lp::find_install_folder(ec ? std::string(".") : exe.parent_path().string());
}

}  // namespace

int main(int argc, char** argv) {
  const PrintableStreams printable;
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << "lumenpick-cli " << LUMENPICK_VERSION << "\n";
    return 0;
  }
  const std::vector<std::string> words(argv + 1, argv + argc);
  const lp::cli::CommandLine line =
      lp::cli::split_command_line(words, {"--documents", "--today", "--threads"});
  if (!line.error.empty()) return usage_error(line.error, nullptr);
  if (line.command.empty() || line.command == "help") {
    if (line.help || line.command == "help") {
      usage(std::cout);
      return 0;
    }
    usage(std::cerr);
    return kUsageError;
  }
  auto it = lp::cli::registry().find(line.command);
  if (it == lp::cli::registry().end()) {
    return usage_error("不明なコマンドです: " + line.command, nullptr);
  }
  const lp::cli::Command& cmd = it->second;
  if (line.help) {
    command_usage(std::cout, cmd);
    return 0;
  }

  lp::cli::Context ctx;
  ctx.options = lp::cli::options_from_usage(cmd.usage);
  lp::cli::CheckedArgs checked = lp::cli::check_options(line.words, ctx.options);
  if (!checked.error.empty()) return usage_error(checked.error, &cmd);
  ctx.args = std::move(checked.args);

  const lp::cli::GlobalValue& documents = line.globals[0];
  const lp::cli::GlobalValue& today_option = line.globals[1];
  // With --documents the home folder is never looked at.
  const lp::HomeEnvironment env = lp::home_environment();
  ctx.platform.documents_folder = documents.given ? documents.value : lp::documents_folder(env);
  ctx.documents_given = documents.given;
  if (ctx.platform.documents_folder.empty()) {
    return usage_error(
        "ホームフォルダがないためドキュメントフォルダが分かりません。--documents DIR "
        "で指定してください",
        &cmd);
  }
  ctx.platform.desktop_folder = lp::desktop_folder(env);
  ctx.platform.install_folder = install_folder();
  std::string today = today_option.value;
  if (today_option.given) {
    if (today.size() != 8 || today.find_first_not_of("0123456789") != std::string::npos) {
      return usage_error("--today は YYYYMMDD で指定してください: " + today, &cmd);
    }
  } else {
    today = lp::today_yyyymmdd(lp::Platform{});  // no date handed in: the system's
  }
  ctx.platform.today = [today] { return today; };
  // Worker threads of the per-stock loops: --threads, else the settings' 並列数, else the
  // machine's cores. 1 runs everything on one thread.
  const lp::cli::GlobalValue& threads = line.globals[2];
  if (threads.given) {
    const std::string& t = threads.value;
    const bool digits =
        !t.empty() && t.size() <= 2 && t.find_first_not_of("0123456789") == std::string::npos;
    const int n = digits ? std::stoi(t) : 0;
    if (n < 1 || n > lp::kMaxWorkers) {
      return usage_error(
          "--threads は 1～" + std::to_string(lp::kMaxWorkers) + " の整数で指定してください: " + t,
          &cmd);
    }
    lp::set_worker_count(n);
  } else {
    lp::set_worker_count(ctx.folders().threads);
  }
  try {
    return cmd.run(ctx);
  } catch (const std::exception& e) {
    return lp::cli::fail(e.what());
  }
}
