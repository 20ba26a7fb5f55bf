// Damaged and foreign file contents for the robustness tests of every reader: what a broken
// transfer, a full disk, an editor or a foreign program leaves where a data file belongs.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace lp::test {

// Deterministic bytes of every value, delimiters, quotes and Shift_JIS lead bytes included.
std::string garbage(std::size_t n, unsigned seed);

// Stands for "a folder where the file belongs" in a list of file contents (see place()).
inline constexpr std::string_view kFolderMarker = "<folder>";

struct DamagedInput {
  const char* name;
  std::string bytes;  // kFolderMarker: the file is a folder
};

// The damage no file format is safe from: nothing at all, a folder in the file's place (only
// `with_folder`), 64 KiB of garbage(garbage_seed), one 1 MB line of digits and 1 MB of empty
// fields; then `more`, the damage peculiar to the caller's own format.
std::vector<DamagedInput> base_damaged_inputs(unsigned garbage_seed,
                                              std::vector<DamagedInput> more = {},
                                              bool with_folder = true);

// Replaces whatever is at `path` with a file of `bytes`, or with an empty folder when `bytes`
// is kFolderMarker (creating parent folders either way).
void place(const std::filesystem::path& path, std::string_view bytes);

}  // namespace lp::test
