#include "common/csv.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "common/encoding.h"

namespace lp {

std::string_view FieldReader::next_or_empty() {
  std::string_view f;
  next(f);
  return f;
}

bool FieldReader::skip(std::size_t count) {
  std::string_view f;
  for (std::size_t i = 0; i < count; ++i) {
    if (!next(f)) return false;
  }
  return true;
}

namespace {

// Reads a whole opened file into `out` and closes it.
bool read_open_file(int fd, std::string& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::size_t want = static_cast<std::size_t>(st.st_size);
  out.resize(want);
  std::size_t got = 0;
  while (true) {
    if (got == out.size()) {
      // The file may have grown since fstat: keep reading until a read returns 0.
      if (got != want) break;
      out.resize(got + 4096);
    }
    ssize_t r = ::read(fd, out.data() + got, out.size() - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      out.clear();
      return false;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  out.resize(got);
  ::close(fd);
  return true;
}

// Non-blocking: a named pipe in place of a data file would otherwise wait for a writer
// forever. It makes no difference to the regular files that are read.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;

}  // namespace

bool read_file_bytes(const char* path, std::string& out) {
  out.clear();
  int fd = ::open(path, kReadFlags);
  if (fd < 0) return false;
  return read_open_file(fd, out);
}

bool read_file_bytes_at(int dir_fd, const char* name, std::string& out) {
  out.clear();
  int fd = ::openat(dir_fd, name, kReadFlags);
  if (fd < 0) return false;
  return read_open_file(fd, out);
}

namespace {
constexpr std::string_view kTempSuffix = ".lptmp";
}  // namespace

void temp_file_name(std::string_view target_name, std::string& out) {
  static std::atomic<unsigned> counter{0};
  char numbers[48];
  const int n =
      std::snprintf(numbers, sizeof numbers, ".%ld_%u", static_cast<long>(::getpid()), counter++);
  out.assign(1, '.');
  out.append(target_name);
  out.append(numbers, static_cast<std::size_t>(n));
  out.append(kTempSuffix);
}

std::filesystem::path temp_file_for(const std::filesystem::path& target) {
  std::string name;
  temp_file_name(target.filename().string(), name);
  return target.parent_path() / name;
}

bool is_temp_file_name(std::string_view name) {
  return name.size() > kTempSuffix.size() + 1 && name.front() == '.' &&
         name.substr(name.size() - kTempSuffix.size()) == kTempSuffix;
}

bool sweep_temp_file(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  if (!is_temp_file_name(name)) return false;
  // ".NAME.<pid>_<n>.lptmp": the writer's process id sits after the last "." before the
  // suffix.
  const std::string stem = name.substr(0, name.size() - kTempSuffix.size());
  const std::size_t dot = stem.rfind('.');
  long pid = 0;
  if (dot != std::string::npos) {
    for (std::size_t i = dot + 1; i < stem.size() && stem[i] >= '0' && stem[i] <= '9'; ++i) {
      pid = pid * 10 + (stem[i] - '0');
      if (pid > 1L << 30) break;
    }
  }
  bool writer_gone = pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !writer_gone) {
    writer_gone = ::time(nullptr) - st.st_mtime > 24 * 60 * 60;
  }
  if (writer_gone) ::unlink(path.c_str());
  return true;
}

std::vector<std::filesystem::path> list_files(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (sweep_temp_file(it->path())) continue;
    std::error_code fec;
    if (it->is_regular_file(fec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  return files;
}

namespace {

// At most this many names are tried when a temporary name is taken (a stale file of an
// earlier process with the same id, or something planted there).
constexpr int kTempTries = 16;
constexpr int kTempFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;

// Opens a new temporary file for the target `name` in `dir_fd` (`prefix` is the folder part
// of the path, "" for a bare name); its path goes to `temp`.
int open_temp(int dir_fd, std::string_view prefix, std::string_view name, std::string& temp) {
  std::string bare;
  for (int i = 0; i < kTempTries; ++i) {
    temp_file_name(name, bare);
    temp.assign(prefix);
    temp.append(bare);
    const int fd = ::openat(dir_fd, temp.c_str(), kTempFlags, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

std::string folder_prefix(const std::filesystem::path& target) {
  std::string prefix = target.parent_path().string();
  if (!prefix.empty() && prefix.back() != '/') prefix.push_back('/');
  return prefix;
}

// Gives the temporary file `fd` the permissions of the regular file `target` names in
// `dir_fd`, when there is one: a file the user made private stays private after a rewrite.
// Never through a link: the rename replaces the link itself, and copying the owner and mode of
// whatever it points at would hand them to our file.
void keep_permissions(int fd, int dir_fd, const char* target) {
  struct stat old {};
  if (::fstatat(dir_fd, target, &old, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(old.st_mode)) return;
  // The owner first (a change of owner may clear mode bits). Only root may give a file to
  // another user; a group the user belongs to is allowed. A refusal leaves the user's own.
  if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && old.st_gid != ::getegid()) {
      (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
  }
  (void)!::fchmod(fd, old.st_mode & 07777);
}

// A test hook that widens the window between a writer's read and its rename, so tests of two
// writers at once see the race they guard against: LUMENPICK_TEST_RENAME_DELAY_MS.
void pause_before_rename() {
  static const long ms = [] {
    const char* v = std::getenv("LUMENPICK_TEST_RENAME_DELAY_MS");
    return v ? std::strtol(v, nullptr, 10) : 0L;
  }();
  if (ms > 0) ::usleep(static_cast<useconds_t>(std::min(ms, 10000L) * 1000));
}

bool write_all(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

bool write_file_atomic(const std::filesystem::path& path, std::string_view bytes, bool durable) {
  std::string tmp;
  const int fd = open_temp(AT_FDCWD, folder_prefix(path), path.filename().string(), tmp);
  if (fd < 0) return false;
  keep_permissions(fd, AT_FDCWD, path.c_str());
  if (!write_all(fd, bytes) || (durable && ::fsync(fd) != 0)) {
    ::close(fd);
    ::unlink(tmp.c_str());
    return false;
  }
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  pause_before_rename();
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool make_own_folder(const std::string& folder, std::string& error) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      error = "フォルダ " + path + " はリンクです。リンク先には書き込みません。";
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      error = path + " はフォルダではありません。";
      return false;
    }
    return true;
  }
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) {
    error = "フォルダ " + path + " を作成できません (" + ec.message() + ")";
    return false;
  }
  return true;
}

bool create_temp_file(const std::filesystem::path& target, std::filesystem::path& temp) {
  std::string tmp;
  const int fd = open_temp(AT_FDCWD, folder_prefix(target), target.filename().string(), tmp);
  if (fd < 0) return false;
  ::close(fd);
  temp = tmp;
  return true;
}

bool commit_temp_file(const std::filesystem::path& temp, const std::filesystem::path& target,
                      bool durable) {
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  struct stat st {};
  bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    keep_permissions(fd, AT_FDCWD, target.c_str());
    ok = !durable || ::fsync(fd) == 0;
  }
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (ok) pause_before_rename();
  if (ok && std::rename(temp.c_str(), target.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

bool write_file_atomic_at(int dir_fd, const char* name,
                          std::initializer_list<std::string_view> pieces, std::string& scratch) {
  const int fd = open_temp(dir_fd, {}, name, scratch);
  if (fd < 0) return false;
  keep_permissions(fd, dir_fd, name);
  iovec iov[8];
  int count = 0;
  for (std::string_view p : pieces) {
    if (p.empty()) continue;
    if (count == 8) {
      ::close(fd);
      ::unlinkat(dir_fd, scratch.c_str(), 0);
      errno = EINVAL;
      return false;
    }
    iov[count++] = {const_cast<char*>(p.data()), p.size()};
  }
  // Usually one call; a short write continues where it stopped.
  for (iovec* at = iov; count > 0;) {
    const ssize_t w = ::writev(fd, at, count);
    if (w < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      ::close(fd);
      ::unlinkat(dir_fd, scratch.c_str(), 0);
      errno = e;
      return false;
    }
    auto left = static_cast<std::size_t>(w);
    while (count > 0 && left >= at->iov_len) {
      left -= at->iov_len;
      ++at;
      --count;
    }
    if (count > 0) {
      at->iov_base = static_cast<char*>(at->iov_base) + left;
      at->iov_len -= left;
    }
  }
  pause_before_rename();
  if (::close(fd) != 0 || ::renameat(dir_fd, scratch.c_str(), dir_fd, name) != 0) {
    const int e = errno;
    ::unlinkat(dir_fd, scratch.c_str(), 0);
    errno = e;
    return false;
  }
  return true;
}

bool CsvFile::open(const std::filesystem::path& path) {
  if (!read_file_bytes(path, bytes_)) {
    reader_ = FieldReader();
    return false;
  }
  reader_ = FieldReader(bytes_);
  return true;
}

namespace {

// 1 for the bytes csv_safe_text looks at: C0 controls, '"', ',', DEL and, in UTF-8, 0xC2 (the
// lead byte of the C1 controls U+0080..U+009F; in CP932 it is a katakana of its own).
inline constexpr struct UnsafeBytes {
  bool bad[256] = {};
  constexpr UnsafeBytes() {
    for (int c = 0; c < 0x20; ++c) bad[c] = true;
    bad['"'] = bad[','] = bad[0x7F] = bad[0xC2] = true;
  }
} kUnsafe{};

bool c1_control_at(std::string_view text, std::size_t i, TextEncoding encoding) {
  return encoding == TextEncoding::utf8 && static_cast<unsigned char>(text[i]) == 0xC2 &&
         i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
         static_cast<unsigned char>(text[i + 1]) < 0xA0;
}

}  // namespace

bool is_csv_safe_text(std::string_view text, TextEncoding encoding) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!kUnsafe.bad[c]) continue;
    if (c != 0xC2 || c1_control_at(text, i, encoding)) return false;
  }
  return true;
}

std::string csv_safe_text(std::string_view text, TextEncoding encoding) {
  if (is_csv_safe_text(text, encoding)) return std::string(text);
  const std::string_view comma = encoding == TextEncoding::cp932 ? "\x81\x43" : "\xEF\xBC\x8C";
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ',') {
      out.append(comma);  // 「，」
    } else if (c == 0xC2) {
      // U+0080..U+009F are C1 controls (0x9B starts a terminal sequence): dropped.
      if (c1_control_at(text, i, encoding)) {
        ++i;
      } else {
        out.push_back(static_cast<char>(c));
      }
    } else if (!kUnsafe.bad[c]) {
      out.push_back(static_cast<char>(c));
    }
    // Every other marked byte ('"', CR, LF, controls, DEL) is dropped.
  }
  return out;
}

CsvWriter& CsvWriter::field(std::string_view utf8) {
  if (line_open_) text_.push_back(',');
  if (is_csv_safe_text(utf8)) {
    text_.append(utf8);
  } else {
    text_.append(csv_safe_text(utf8));
  }
  line_open_ = true;
  return *this;
}

CsvWriter& CsvWriter::field(long long value) {
  return field(std::to_string(value));
}

CsvWriter& CsvWriter::fields(std::initializer_list<std::string_view> utf8_fields) {
  for (std::string_view f : utf8_fields) field(f);
  return *this;
}

CsvWriter& CsvWriter::end_line() {
  text_.append("\r\n");
  line_open_ = false;
  return *this;
}

CsvWriter& CsvWriter::append_lines(const CsvWriter& lines) {
  text_.append(lines.text_);
  line_open_ = lines.line_open_;
  return *this;
}

bool CsvWriter::commit(const std::filesystem::path& path, bool durable) const {
  return write_file_atomic(path, utf8_to_cp932(text_), durable);
}

}  // namespace lp
