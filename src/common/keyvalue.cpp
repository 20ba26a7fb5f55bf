#include "common/keyvalue.h"

#include "common/csv.h"
#include "common/encoding.h"

namespace lp {

bool read_key_values(
    const std::string& path,
    const std::function<void(const std::string& key, const std::string& value)>& on_pair) {
  CsvFile file;
  if (!file.open(path)) return false;
  // A UTF-8 byte order mark is not part of the first key.
  std::string_view field;
  bool first = true;
  while (file.next(field)) {
    if (first && field.substr(0, 3) == "\xEF\xBB\xBF") field.remove_prefix(3);
    first = false;
    if (field.empty()) continue;
    std::string key = cp932_to_utf8(field);
    if (key == "EOF") break;
    std::string_view value;
    file.next(value);
    on_pair(key, cp932_to_utf8(value));
  }
  return true;
}

}  // namespace lp
