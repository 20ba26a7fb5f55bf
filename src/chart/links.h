// The chart's web links from "cmd.txt": records of 8 fields (the name shown in the list, then
// seven parts of the address joined in order, a part "$$$$" standing for the stock code), the
// list ended by a record named "END".
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lp::chart {

struct LinkRecord {
  std::string name;
  std::array<std::string, 7> parts;
};

struct LinkList {
  std::vector<LinkRecord> records;  // the records before "END"
  bool complete = false;            // "END" was found
};

// Reads up to "END" or the end of the file; an unreadable file gives an empty list.
LinkList read_links(const std::string& path);

// The names for the link box: empty when the file has no "END", since such a list cannot be
// trusted to be whole and none of its links could be opened.
std::vector<std::string> link_names(const LinkList& list);

// The address of a record for a stock code (trimmed).
std::string build_link_address(const LinkRecord& record, std::string_view code);

// The address of the link named `name`, read afresh from the file; nothing when the name is
// not there (any more) or the file has no "END".
std::optional<std::string> find_link_address(const std::string& path, std::string_view name,
                                             std::string_view code);

}  // namespace lp::chart
