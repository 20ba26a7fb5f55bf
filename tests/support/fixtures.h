// Small fixture folders for the tests: a temporary documents folder and CP932 files.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace lp::test {

// A fresh folder under the system temp dir, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // path() / rel as text.
  std::string file(std::string_view rel) const { return (path_ / rel).string(); }

 private:
  std::filesystem::path path_;
};

// Writes UTF-8 text as CP932 (creating folders). Lines in `text` are written as given.
void write_cp932(const std::filesystem::path& path, std::string_view utf8_text);
// Writes raw bytes (creating folders).
void write_bytes(const std::filesystem::path& path, std::string_view bytes);
// Reads a CP932 file as UTF-8 ("" if missing).
std::string read_cp932(const std::filesystem::path& path);
// Reads a file's raw bytes ("" if missing).
std::string read_bytes(const std::filesystem::path& path);
// Every regular file below `root`, by its "/"-separated path relative to `root`, with its bytes.
std::map<std::string, std::string> files_under(const std::filesystem::path& root);

// A day of one stock for a series file: date, open, high, low, close, volume.
struct Day {
  std::string date;
  double open, high, low, close;
  long long volume;
};

// Writes db/<year>/data_m/<code>.csv with the given days (oldest first) in the file format.
void write_series_file(const std::string& db_folder, int year, const std::string& code,
                       const std::string& name, const std::vector<Day>& days);
// Writes db/<year>/data_mh/<code>.csv: (date, numerator, denominator) oldest first.
void write_correction_file(const std::string& db_folder, int year, const std::string& code,
                           const std::vector<std::tuple<std::string, double, double>>& rows);

}  // namespace lp::test
