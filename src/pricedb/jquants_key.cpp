#include "pricedb/jquants_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace lp::jquants {

namespace fs = std::filesystem;

std::string key_file_path(const std::string& home) {
  return home + "/.config/lumenpick/jquants.key";
}

std::string clean_key(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  const std::string key = text.substr(b, e - b);
  if (key.size() > 4096) return {};
  for (unsigned char c : key) {
    if (c < 0x21 || c > 0x7e) return {};
  }
  return key;
}

KeyLookup read_key_file(const std::string& path) {
  KeyLookup out;
  out.source = path;
  // The type is checked before opening: opening a FIFO waits for a writer, a device may do
  // anything. Symlinks are refused too: a key file pointing elsewhere is not the user's own.
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    out.error = errno == ENOENT ? "" : path + " を調べられません (" + std::strerror(errno) + ")";
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.error = path + " は通常のファイルではありません (リンク、FIFO、フォルダなどは読みません)";
    return out;
  }
  // Without blocking all the same, in case the name is swapped for a FIFO in between.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    out.error = path + " を開けません (" + std::strerror(errno) + ")";
    return out;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    out.error = path + " は通常のファイルではありません";
    return out;
  }
  if ((st.st_mode & 077) != 0 || st.st_uid != ::geteuid()) {
    ::close(fd);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    out.error = path + " はあなた専用になっていないため (モード " + mode +
                ")、キーは使いません。chmod 600 " + path + " を実行してください";
    return out;
  }
  std::string text(8192, '\0');
  const ssize_t n = ::read(fd, text.data(), text.size());
  ::close(fd);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  out.key = clean_key(text);
  if (out.key.empty()) out.error = path + " に使えるキーがありません";
  return out;
}

KeyLookup find_api_key(const std::function<const char*(const char*)>& env,
                       const std::string& home) {
  if (env) {
    if (const char* value = env(kKeyEnvironmentVariable); value && *value) {
      KeyLookup out;
      out.source = kKeyEnvironmentVariable;
      out.key = clean_key(value);
      if (out.key.empty())
        out.error = std::string(kKeyEnvironmentVariable) + " に使えるキーがありません";
      return out;
    }
  }
  if (home.empty()) return {};
  return read_key_file(key_file_path(home));
}

bool write_key_file(const std::string& path, const std::string& key, std::string& error) {
  const std::string clean = clean_key(key);
  if (clean.empty()) {
    error = "the key is empty or holds characters a key cannot have";
    return false;
  }
  std::error_code ec;
  const fs::path dir = fs::path(path).parent_path();
  fs::create_directories(dir, ec);
  ::chmod(dir.c_str(), 0700);
  // Created 0600 from the first byte, so the key is never readable by others, not even in the
  // temporary file (the common atomic writer creates 0644 files).
  const std::string tmp = (dir / ("." + fs::path(path).filename().string() + ".lptmp")).string();
  ::unlink(tmp.c_str());
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = "cannot write " + path + " (" + std::strerror(errno) + ")";
    return false;
  }
  const std::string text = clean + "\n";
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                  ::fsync(fd) == 0;
  ::close(fd);
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace lp::jquants
