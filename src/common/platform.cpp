#include "common/platform.h"

namespace lp {

std::string as_folder(std::string_view folder) {
  std::string out(folder);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  if (!out.empty() && out.back() != '/') out.push_back('/');
  return out;
}

}  // namespace lp
