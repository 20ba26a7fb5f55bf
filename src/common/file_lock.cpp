#include "common/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace lp {

std::filesystem::path lock_file_path(const std::filesystem::path& target) {
  return target.parent_path() / ("." + target.filename().string() + ".lock");
}

std::unique_ptr<FileLock> FileLock::acquire(const std::filesystem::path& target,
                                            std::chrono::milliseconds timeout, std::string& error) {
  return acquire(target, timeout, error, {});
}

std::unique_ptr<FileLock> FileLock::acquire(const std::filesystem::path& target,
                                            std::chrono::milliseconds timeout, std::string& error,
                                            const WaitReport& waiting) {
  const std::filesystem::path lock_path = lock_file_path(target);
  const std::string name = target.filename().string();
  // The lock file is never removed: unlinking it while another process waits on it would let
  // a third one lock a fresh file and both would think they hold the lock.
  const int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    error = "エラー：" + name + " のロックファイルを作成できません。(cannot create lock file " +
            lock_path.string() + ")";
    return nullptr;
  }
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + timeout;
  auto pause = std::chrono::milliseconds(1);
  auto next_report = start;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return std::unique_ptr<FileLock>(new FileLock(fd));
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    const auto now = std::chrono::steady_clock::now();
    if (waiting && now >= next_report) {
      next_report = now + std::chrono::seconds(1);
      if (!waiting(std::chrono::duration_cast<std::chrono::milliseconds>(now - start))) {
        ::close(fd);
        error = "エラー：" + name + " のロックを待つのを中止しました。(cancelled)";
        return nullptr;
      }
    }
    if (now >= deadline) {
      ::close(fd);
      error = "エラー：" + name +
              " は他のプログラムが更新中です。しばらくしてから再度実行してください。(" + name +
              " is locked by another writer)";
      return nullptr;
    }
    // Polling rather than a blocking flock keeps the wait bounded without signals.
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
  ::close(fd);
  error = "エラー：" + name + " をロックできません。(cannot lock " + lock_path.string() + ")";
  return nullptr;
}

FileLock::~FileLock() {
  // Closing the descriptor releases the flock.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace lp
