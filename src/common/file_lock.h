// Advisory lock on a file that several processes may read, change and rename over (holdings,
// saved screens): an flock on ".<filename>.lock" beside it, held from the read to the rename.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace lp {

class FileLock {
 public:
  // Locks the lock file of `target`, waiting up to `timeout`. nullptr (and a message in
  // `error`, Japanese then English) when the lock file cannot be made or another process
  // keeps the lock for longer than `timeout`.
  static std::unique_ptr<FileLock> acquire(const std::filesystem::path& target,
                                           std::chrono::milliseconds timeout, std::string& error);
  // The same, telling `waiting` how long it has waited about once a second while another
  // process holds the lock (first at once); `waiting` answers false to give up (cancelled).
  using WaitReport = std::function<bool(std::chrono::milliseconds waited)>;
  static std::unique_ptr<FileLock> acquire(const std::filesystem::path& target,
                                           std::chrono::milliseconds timeout, std::string& error,
                                           const WaitReport& waiting);
  ~FileLock();

  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// The lock file beside `target`: ".<filename>.lock".
std::filesystem::path lock_file_path(const std::filesystem::path& target);

// How long the user's writers wait for each other before they give up with a message.
inline constexpr std::chrono::milliseconds kUserFileLockTimeout{5000};

}  // namespace lp
