// Platform services handed to the core: the core never reaches for them itself.
#pragma once

#include <functional>
#include <string>

namespace lp {

// Gives the user interface a chance to repaint and to handle the user's input during a long
// operation. The GUI throttles it; tests and the CLI pass nothing.
using YieldFn = std::function<void()>;

struct Platform {
  std::string documents_folder;  // without a trailing separator
  std::string desktop_folder;    // without a trailing separator
  std::string install_folder;    // the folder of the program and its templates
  std::function<std::string()> today;  // yyyymmdd
  YieldFn yield;
};

inline void yield_now(const YieldFn& fn) {
  if (fn) fn();
}

// Native folder text: "\" becomes "/" and a trailing "/" is ensured (empty stays empty).
std::string as_folder(std::string_view folder);

}  // namespace lp
