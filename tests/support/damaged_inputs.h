// Damaged and foreign file contents for the robustness tests: what a broken transfer, a full
// disk, an editor or a foreign program leaves where a data file belongs.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace lp::test {

// Deterministic bytes of every value, delimiters, quotes and Shift_JIS lead bytes included.
std::string garbage(std::size_t n, unsigned seed);

// Stands for "a folder where the file belongs" (see place()).
inline constexpr std::string_view kFolderMarker = "<folder>";

struct DamagedInput {
  const char* name;
  std::string bytes;  // kFolderMarker: the file is a folder
};

// Replaces whatever is at `path` with a file of `bytes`, or with an empty folder when `bytes`
// is kFolderMarker (creating parent folders either way).
void place(const std::filesystem::path& path, std::string_view bytes);

}  // namespace lp::test
