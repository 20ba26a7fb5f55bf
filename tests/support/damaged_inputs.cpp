#include "support/damaged_inputs.h"

#include <iterator>
#include <system_error>

#include "support/fixtures.h"

namespace lp::test {

namespace fs = std::filesystem;

std::string garbage(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

std::vector<DamagedInput> base_damaged_inputs(unsigned garbage_seed, std::vector<DamagedInput> more,
                                              bool with_folder) {
  std::vector<DamagedInput> inputs;
  inputs.push_back({"empty", ""});
  if (with_folder) inputs.push_back({"a folder", std::string(kFolderMarker)});
  inputs.push_back({"binary garbage", garbage(64 * 1024, garbage_seed)});
  inputs.push_back({"1 MB line", std::string(1 << 20, '9') + "\r\n"});
  inputs.push_back({"1 MB of commas", std::string(1 << 20, ',')});
  inputs.insert(inputs.end(), std::make_move_iterator(more.begin()),
                std::make_move_iterator(more.end()));
  return inputs;
}

void place(const fs::path& path, std::string_view bytes) {
  std::error_code ec;
  fs::remove_all(path, ec);
  if (bytes == kFolderMarker) {
    fs::create_directories(path);
  } else {
    write_bytes(path, bytes);
  }
}

}  // namespace lp::test
