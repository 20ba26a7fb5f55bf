// A table read from a file or folder, kept per path for the process and read again only when
// the path's inode or modification time has changed (every writer renames into place).
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace lp {

// `load()` gives a fresh table; without the path, an empty one is returned, uncached.
template <class T, class Load>
std::shared_ptr<const T> cached_while_unchanged(const std::string& path, Load load) {
  struct Held {
    std::shared_ptr<const T> table;
    std::timespec mtime{};
    ino_t inode = 0;
  };
  static std::mutex mutex;
  static std::map<std::string, Held> held;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::make_shared<T>();
  std::lock_guard<std::mutex> lock(mutex);
  Held& h = held[path];
  if (h.table && h.inode == st.st_ino && h.mtime.tv_sec == st.st_mtim.tv_sec &&
      h.mtime.tv_nsec == st.st_mtim.tv_nsec) {
    return h.table;
  }
  h.table = load();
  // Changed within the last two seconds, it may change again within the same tick of its
  // clock: such a table is used once and read again next time.
  const bool settled = std::time(nullptr) - st.st_mtim.tv_sec >= 2;
  h.inode = st.st_ino;
  h.mtime = settled ? st.st_mtim : std::timespec{};
  return h.table;
}

}  // namespace lp
