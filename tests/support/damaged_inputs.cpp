#include "support/damaged_inputs.h"

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
