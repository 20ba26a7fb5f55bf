// libFuzzer target: the unpacker on arbitrary packed files, and the database readers on
// whatever it wrote.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/csv.h"
#include "pricedb/formats.h"
#include "pricedb/unpack.h"

namespace fs = std::filesystem;

namespace {

const fs::path& root() {
  static const fs::path dir = fs::temp_directory_path() /
                              ("lumenpick-fuzz-" + std::to_string(::getpid())) / "2024";
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const fs::path& year = root();
  std::error_code ec;
  fs::remove_all(year, ec);
  for (const char* sub : {"data_mhg", "data_dg", "data_mg"}) fs::create_directories(year / sub);
  // The same bytes as each kind of packed file.
  lp::write_file_atomic(year / "data_mhg" / "2024.csv", bytes);
  lp::write_file_atomic(year / "data_dg" / "202401.csv", bytes);
  lp::write_file_atomic(year / "data_mg" / "1000.csv", bytes);
  lp::unpack_year(year.string() + "/");
  // Nothing may escape the year folder, and what was written must read back.
  for (const auto& e : fs::recursive_directory_iterator(year.parent_path(), ec)) {
    const std::string p = e.path().string();
    if (p.rfind(year.string(), 0) != 0) __builtin_trap();
    if (!e.is_regular_file()) continue;
    lp::DayFile d;
    lp::read_day_file(p, d);
    lp::SeriesFile s;
    lp::read_series_file(p, s);
  }
  return 0;
}
