#include "support/fixtures.h"

#include <atomic>
#include <fstream>
#include <random>
#include <tuple>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"

namespace lp::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  path_ = fs::temp_directory_path() /
          ("lumenpick-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void write_bytes(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void write_cp932(const fs::path& path, std::string_view utf8_text) {
  write_bytes(path, utf8_to_cp932(utf8_text));
}

std::string read_cp932(const fs::path& path) {
  return cp932_to_utf8(read_bytes(path));
}

std::string read_bytes(const fs::path& path) {
  std::string bytes;
  if (!read_file_bytes(path, bytes)) return "";
  return bytes;
}

std::map<std::string, std::string> files_under(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    out[fs::relative(e.path(), root).generic_string()] = read_bytes(e.path());
  }
  return out;
}

void write_series_file(const std::string& db_folder, int year, const std::string& code,
                       const std::string& name, const std::vector<Day>& days) {
  CsvWriter w;
  w.fields({code, "desc", name, "x", days.empty() ? "" : days.back().date});
  w.field(static_cast<long long>(days.size())).end_line();
  for (const Day& d : days) {
    w.field(d.date)
        .field(format_decimal(d.open))
        .field(format_decimal(d.high))
        .field(format_decimal(d.low))
        .field(format_decimal(d.close))
        .field(d.volume)
        .end_line();
  }
  fs::create_directories(fs::path(series_file_path(db_folder, year, code)).parent_path());
  w.commit(series_file_path(db_folder, year, code));
}

void write_correction_file(const std::string& db_folder, int year, const std::string& code,
                           const std::vector<std::tuple<std::string, double, double>>& rows) {
  CsvWriter w;
  w.fields({code, "x"}).field(static_cast<long long>(rows.size())).end_line();
  for (const auto& [date, num, den] : rows) {
    w.field(date).field(format_decimal(num)).field(format_decimal(den)).end_line();
  }
  fs::create_directories(fs::path(correction_file_path(db_folder, year, code)).parent_path());
  w.commit(correction_file_path(db_folder, year, code));
}

}  // namespace lp::test
