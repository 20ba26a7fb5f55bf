#include "common/csv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
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

bool write_file_atomic(const std::filesystem::path& path, std::string_view bytes, bool durable) {
  static std::atomic<unsigned> counter{0};
  std::filesystem::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(w);
  }
  if (durable && ::fsync(fd) != 0) {
    ::close(fd);
    ::unlink(tmp.c_str());
    return false;
  }
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
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

CsvWriter& CsvWriter::field(std::string_view utf8) {
  if (line_open_) text_.push_back(',');
  text_.append(utf8);
  line_open_ = true;
  return *this;
}

CsvWriter& CsvWriter::field(long long value) { return field(std::to_string(value)); }

CsvWriter& CsvWriter::fields(std::initializer_list<std::string_view> utf8_fields) {
  for (std::string_view f : utf8_fields) field(f);
  return *this;
}

CsvWriter& CsvWriter::end_line() {
  text_.append("\r\n");
  line_open_ = false;
  return *this;
}

bool CsvWriter::commit(const std::filesystem::path& path, bool durable) const {
  return write_file_atomic(path, utf8_to_cp932(text_), durable);
}

}  // namespace lp
