#include "chart/links.h"

#include <algorithm>

#include "common/csv.h"
#include "common/encoding.h"

namespace lp::chart {

LinkList read_links(const std::string& path) {
  LinkList list;
  CsvFile file;
  if (!file.open(path)) return list;
  // A list saved by an editor as UTF-8 with a byte order mark is UTF-8 throughout; read as
  // CP932 its names would be mojibake and the mark part of the first name.
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  const bool utf8 = std::string_view(file.bytes()).substr(0, kBom.size()) == kBom;
  auto decode = [utf8](std::string_view f) { return utf8 ? std::string(f) : cp932_to_utf8(f); };
  bool first = true;
  while (true) {
    std::string_view field;
    LinkRecord rec;
    if (!file.next(field)) break;
    if (first && utf8) field.remove_prefix(std::min(field.size(), kBom.size()));
    first = false;
    rec.name = decode(field);
    if (rec.name == "END") {
      list.complete = true;
      break;
    }
    bool whole = true;
    for (std::string& part : rec.parts) {
      if (!file.next(field)) {
        whole = false;
        break;
      }
      part = decode(field);
    }
    if (!whole) break;  // a cut-off last record is no link
    list.records.push_back(std::move(rec));
  }
  return list;
}

std::vector<std::string> link_names(const LinkList& list) {
  std::vector<std::string> names;
  if (!list.complete) return names;
  for (const LinkRecord& r : list.records) names.push_back(r.name);
  return names;
}

std::string build_link_address(const LinkRecord& record, std::string_view code) {
  const auto b = code.find_first_not_of(' ');
  const auto e = code.find_last_not_of(' ');
  const std::string_view c = b == std::string_view::npos ? "" : code.substr(b, e - b + 1);
  std::string address;
  for (const std::string& part : record.parts) {
    if (part == "$$$$") {
      address += c;
    } else {
      address += part;
    }
  }
  return address;
}

std::optional<std::string> find_link_address(const std::string& path, std::string_view name,
                                             std::string_view code) {
  const LinkList list = read_links(path);
  if (!list.complete) return std::nullopt;
  for (const LinkRecord& r : list.records) {
    if (r.name == name) return build_link_address(r, code);
  }
  return std::nullopt;
}

}  // namespace lp::chart
