#include "support/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "support/fixtures.h"

extern char** environ;

namespace lp::test {

ProcessResult run_process(const std::vector<std::string>& argv_in,
                          const std::string& scratch_folder) {
  static std::atomic<int> serial{0};
  std::vector<std::string> args = argv_in;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Unique per process and call: forked test processes run this at the same time.
  const std::string stem =
      scratch_folder + "/proc" + std::to_string(::getpid()) + "_" + std::to_string(serial++);
  const std::string out_path = stem + ".out", err_path = stem + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  ProcessResult result;
  pid_t pid = 0;
  if (!argv.empty() && argv[0] &&
      posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = read_bytes(out_path);
  result.err = read_bytes(err_path);
  std::error_code ec;
  std::filesystem::remove(out_path, ec);
  std::filesystem::remove(err_path, ec);
  return result;
}

}  // namespace lp::test
