// lumenpick-cli: the headless companion of the desktop program.
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/cli/cli.h"
#include "common/install_layout.h"
#include "pricedb/series.h"

namespace lp::cli {

std::map<std::string, Command>& registry() {
  static std::map<std::string, Command> commands;
  return commands;
}

int fail(const std::string& message) {
  std::cerr << "lumenpick-cli: " << message << "\n";
  return 1;
}

AppFolders Context::folders() const {
  return read_settei_sub(platform.documents_folder, platform.desktop_folder);
}

bool Context::take_option(const std::string& name, std::string& value) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == name) {
      value = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return true;
    }
  }
  return false;
}

bool Context::take_flag(const std::string& name) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

}  // namespace lp::cli

namespace {

std::string home_folder(const char* sub) {
  const char* home = std::getenv("HOME");
  std::string base = home ? home : ".";
  std::filesystem::path p = std::filesystem::path(base) / sub;
  if (std::filesystem::is_directory(p)) return p.string();
  return base;
}

void usage() {
  std::cout << "usage: lumenpick-cli COMMAND [--documents DIR] [--today YYYYMMDD] ...\n"
               "       lumenpick-cli --help | --version\n\n";
  for (const auto& [name, cmd] : lp::cli::registry()) {
    std::cout << "  " << cmd.usage << "\n      " << cmd.summary << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << "lumenpick-cli " << LUMENPICK_VERSION << "\n";
    return 0;
  }
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "help") {
    usage();
    return argc < 2 ? 1 : 0;
  }
  const std::string name = argv[1];
  auto it = lp::cli::registry().find(name);
  if (it == lp::cli::registry().end()) return lp::cli::fail("unknown command: " + name);

  lp::cli::Context ctx;
  for (int i = 2; i < argc; ++i) ctx.args.emplace_back(argv[i]);
  std::string documents, today;
  ctx.platform.documents_folder =
      ctx.take_option("--documents", documents) ? documents : home_folder("Documents");
  ctx.platform.desktop_folder = home_folder("Desktop");
  ctx.platform.install_folder =
      lp::find_install_folder(std::filesystem::canonical("/proc/self/exe").parent_path().string());
  if (ctx.take_option("--today", today)) {
    if (today.size() != 8 || today.find_first_not_of("0123456789") != std::string::npos) {
      return lp::cli::fail("--today wants YYYYMMDD, got " + today);
    }
  } else {
    today = lp::today_yyyymmdd(lp::Platform{});  // no date handed in: the system's
  }
  ctx.platform.today = [today] { return today; };
  try {
    return it->second.run(ctx);
  } catch (const std::exception& e) {
    return lp::cli::fail(e.what());
  }
}
