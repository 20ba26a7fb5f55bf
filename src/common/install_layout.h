// Where the files shipped with the program (the templates) are found. An installed program
// keeps them in <prefix>/share/lumenpick beside <prefix>/bin; a program run from the build
// tree has them next to itself. The same binary works in both places.
#pragma once

#include <string>

namespace lp {

// The shipped-files folder, relative to the folder of the program itself.
inline constexpr const char* kInstalledDataFolder = "../share/lumenpick";

// The folder holding the templates for a program in `program_folder`: the installed layout
// (`program_folder/../share/lumenpick`, when it holds settei.txt), else `program_folder`
// itself (the build layout). Returned without a trailing separator; empty stays empty.
std::string find_install_folder(const std::string& program_folder);

}  // namespace lp
