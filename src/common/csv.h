// The comma-separated input convention and the writer of every file the system writes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lp {

// Streams fields out of a byte buffer. A field ends at a comma or a line end (CR LF, LF or
// CR); a quoted field keeps its commas and loses its quotes; blanks around an unquoted field
// are dropped. Fields are views into the buffer: no allocation per field. The bytes '"', ','
// CR and LF never occur inside a CP932 double-byte character, so splitting raw bytes is safe.
class FieldReader {
 public:
  FieldReader() = default;
  explicit FieldReader(std::string_view data) : data_(data) {}

  // Reads the next field. Returns false (and leaves `field` empty) at the end of the data.
  // Inline: it runs once per field of every file the loaders read.
  [[gnu::always_inline]] inline bool next(std::string_view& field);
  // The next field, or an empty view at the end of the data.
  std::string_view next_or_empty();
  // Skips n fields; returns false if the data ended first.
  bool skip(std::size_t n);
  bool at_end() const { return pos_ >= data_.size(); }
  std::size_t position() const { return pos_; }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

namespace detail {
// 1 for the bytes that end an unquoted field: ',', CR and LF.
inline constexpr struct FieldEnds {
  bool ends[256] = {};
  constexpr FieldEnds() { ends[','] = ends['\r'] = ends['\n'] = true; }
} kFieldEnds{};
}  // namespace detail

inline bool FieldReader::next(std::string_view& field) {
  const std::size_t n = data_.size();
  std::size_t p = pos_;
  if (p >= n) {
    field = {};
    return false;
  }
  const char* d = data_.data();
  while (p < n && (d[p] == ' ' || d[p] == '\t')) ++p;
  std::size_t begin = p;
  std::size_t end = p;
  if (p < n && d[p] == '"') {
    // A quoted field runs to the next quote; commas and line ends inside belong to it.
    begin = p + 1;
    std::size_t close = data_.find('"', begin);
    if (close == std::string_view::npos) {
      end = n;
      p = n;
    } else {
      end = close;
      p = close + 1;
      // Anything between the closing quote and the delimiter is dropped.
      while (p < n && d[p] != ',' && d[p] != '\r' && d[p] != '\n') ++p;
    }
  } else {
    while (p < n && !detail::kFieldEnds.ends[static_cast<unsigned char>(d[p])]) ++p;
    end = p;
    while (end > begin && (d[end - 1] == ' ' || d[end - 1] == '\t')) --end;
  }
  // Consume the delimiter: a comma, CR LF, LF or CR.
  if (p < n) {
    if (d[p] == '\r' && p + 1 < n && d[p + 1] == '\n') ++p;
    ++p;
  }
  pos_ = p;
  field = std::string_view(d + begin, end - begin);
  return true;
}

// A whole file read with one system call, plus a field reader over it.
class CsvFile {
 public:
  // False when the file cannot be opened or read.
  bool open(const std::filesystem::path& path);
  bool next(std::string_view& field) { return reader_.next(field); }
  std::string_view next_or_empty() { return reader_.next_or_empty(); }
  bool skip(std::size_t n) { return reader_.skip(n); }
  bool at_end() const { return reader_.at_end(); }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  FieldReader reader_;
};

// Reads a whole file into `out` with as few system calls as possible.
bool read_file_bytes(const char* path, std::string& out);
// The same for a file named relative to an open folder (saves walking the whole path again
// when thousands of files of one folder are read).
bool read_file_bytes_at(int dir_fd, const char* name, std::string& out);
inline bool read_file_bytes(const std::string& path, std::string& out) {
  return read_file_bytes(path.c_str(), out);
}
inline bool read_file_bytes(const std::filesystem::path& path, std::string& out) {
  return read_file_bytes(path.c_str(), out);
}

// Temporary files of atomic writes are named "." + target name + "." + pid + "_" + n +
// ".lptmp" beside their target: hidden, never a name any reader looks for, and recognisable
// after a kill so that every lister can skip and clear them.
std::filesystem::path temp_file_for(const std::filesystem::path& target);
// The same temporary name for a target given by its bare file name, built into `out`.
void temp_file_name(std::string_view target_name, std::string& out);
bool is_temp_file_name(std::string_view name);
// For a temporary file whose writer is gone (its process no longer runs, or the file is a day
// old): removes it. True whenever `path` names a temporary file, removed or not, so a lister
// calls it and skips the entry.
bool sweep_temp_file(const std::filesystem::path& path);
// The regular files of `folder` (symlinks to files included) in name order, without
// temporary files (stale ones are removed on the way). Empty when the folder cannot be read.
std::vector<std::filesystem::path> list_files(const std::filesystem::path& folder);

// Writes `bytes` to a temporary file in the target's folder and renames it over the target,
// so the target is either the old or the new file, never half of one. `durable` also flushes
// the data to the disk before the rename (for the user's own files, such as holdings, that a
// power loss must not empty; the database is refilled from the server and skips it for speed).
// A file that is replaced keeps its permissions and, where allowed, its owner; a new file gets
// the mode the umask leaves of 0666. The temporary file is always created exclusively.
bool write_file_atomic(const std::filesystem::path& path, std::string_view bytes,
                       bool durable = false);
// Creates `folder` (and its parents) when missing. False with `error` (Japanese) when it is a
// link or not a folder: the user's own files are never written through a link to elsewhere.
bool make_own_folder(const std::string& folder, std::string& error);
// The same for a file named in an open folder, its bytes given as pieces written with one
// call, so a writer replacing thousands of files of one folder neither walks the whole path
// for each nor joins the pieces first. `scratch` holds the temporary name (reused by callers).
bool write_file_atomic_at(int dir_fd, const char* name,
                          std::initializer_list<std::string_view> pieces, std::string& scratch);

// A text field (a name, a segment, a caption) made safe to write unquoted into one of our CSV
// files: "," becomes the full-width comma 「，」, which reads the same; '"', CR, LF and every
// other control character are dropped. Text without any of them is returned unchanged.
// `cp932` says the bytes are CP932 rather than UTF-8 (none of these bytes occurs inside a
// CP932 double-byte character, so the bytes can be replaced as they are).
enum class TextEncoding { utf8, cp932 };
std::string csv_safe_text(std::string_view text, TextEncoding encoding = TextEncoding::utf8);
// True when `text` is already safe (csv_safe_text would not change it).
bool is_csv_safe_text(std::string_view text, TextEncoding encoding = TextEncoding::utf8);

// Creates the temporary file of `target` beside it, exclusively (never one that exists, so
// nothing planted under a guessed name is written through), with the mode the umask gives a
// new file. False when it cannot be created.
bool create_temp_file(const std::filesystem::path& target, std::filesystem::path& temp);
// Renames a finished temporary file over `target`, giving it first the permissions (and,
// where allowed, the owner) of the file it replaces; `durable` flushes it to the disk first.
// On failure the temporary file is removed and the target is untouched.
bool commit_temp_file(const std::filesystem::path& temp, const std::filesystem::path& target,
                      bool durable = false);

// Builds a CP932 CSV file: fields joined by ",", no quotes, lines ended by CR LF.
// Fields are given in UTF-8 and encoded when the file is committed; every text field passes
// csv_safe_text, so a comma or quote in a name or caption never shifts the columns.
class CsvWriter {
 public:
  CsvWriter& field(std::string_view utf8);
  CsvWriter& field(long long value);
  CsvWriter& fields(std::initializer_list<std::string_view> utf8_fields);
  CsvWriter& end_line();
  // Appends the whole lines of another writer (lines built apart, on worker threads).
  CsvWriter& append_lines(const CsvWriter& lines);
  // The UTF-8 text so far.
  const std::string& text() const { return text_; }
  // Encodes to CP932 and writes atomically.
  bool commit(const std::filesystem::path& path, bool durable = false) const;

 private:
  std::string text_;
  bool line_open_ = false;
};

}  // namespace lp
