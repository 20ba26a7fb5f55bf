#include "common/keyvalue.h"

#include <ctime>

#include "common/csv.h"
#include "common/encoding.h"

namespace lp {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

bool read_key_values(
    const std::string& path,
    const std::function<void(const std::string& key, const std::string& value)>& on_pair) {
  CsvFile file;
  if (!file.open(path)) return false;
  // A file saved by an editor as UTF-8 with a byte order mark is UTF-8 throughout (the mark is
  // no CP932 text): decoding it as CP932 would hide every Japanese key.
  const bool utf8 = std::string_view(file.bytes()).substr(0, kUtf8Bom.size()) == kUtf8Bom;
  auto decode = [utf8](std::string_view field) {
    return utf8 ? std::string(field) : cp932_to_utf8(field);
  };
  std::string_view field;
  bool first = true;
  while (file.next(field)) {
    if (first && field.substr(0, kUtf8Bom.size()) == kUtf8Bom) field.remove_prefix(kUtf8Bom.size());
    first = false;
    if (field.empty()) continue;
    std::string key = decode(field);
    if (key == "EOF") break;
    std::string_view value;
    file.next(value);
    on_pair(key, decode(value));
  }
  return true;
}

void for_each_key_value_line(
    std::string_view bytes,
    const std::function<void(const std::string& key, const std::string& value)>& on_pair) {
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    const std::size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
      on_pair(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
    }
  }
}

std::string local_time_text(const char* format) {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

}  // namespace lp
