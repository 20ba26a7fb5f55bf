// libFuzzer target: the field reader, CP932 decoding and the number helpers on any bytes, and
// the series file index against the field reader.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/market_store.h"

namespace {

// The bytes as a series file: the held index and a load's index of the newest lines must give
// the days the field reader gives (a load's index may decline the file, never differ).
void check_index(std::string_view bytes) {
  lp::FieldReader r(bytes);
  for (int h = 0; h < 5; ++h) r.next_or_empty();
  const std::int64_t count = lp::parse_integer(r.next_or_empty());
  std::vector<std::array<std::string_view, 6>> want;
  std::array<std::string_view, 6> day;
  for (std::int64_t i = 0; i < count && i < 100000; ++i) {
    int got = 0;
    while (got < 6 && r.next(day[static_cast<std::size_t>(got)])) ++got;
    if (got < 6) break;
    want.push_back(day);
  }
  lp::StoredYear held;
  held.bytes = std::string(bytes);
  lp::index_stored_year(held);
  if (held.size() != want.size()) __builtin_trap();
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (held.day(i) != want[i]) __builtin_trap();
  }
  const std::size_t newest = bytes.empty() ? 1 : static_cast<unsigned char>(bytes.back()) % 8 + 1;
  lp::StoredYear scratch;
  scratch.bytes = held.bytes;
  if (!lp::index_plain_year(scratch, newest, lp::IndexedNumbers::kAll)) return;
  if (scratch.size() != std::min(newest, want.size())) __builtin_trap();
  for (std::size_t k = 0; k < scratch.size(); ++k) {
    if (scratch.day(k) != want[want.size() - scratch.size() + k]) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lp::FieldReader reader(bytes);
  std::string_view field;
  std::size_t fields = 0;
  std::size_t last = 0;
  while (reader.next(field)) {
    // Every field lies inside the input and the reader always moves forward.
    if (field.data() < bytes.data() || field.data() + field.size() > bytes.data() + bytes.size())
      __builtin_trap();
    if (reader.position() <= last && !reader.at_end()) __builtin_trap();
    last = reader.position();
    if (++fields > size + 1) __builtin_trap();  // one field per byte at the most, plus one
    double v = lp::parse_number(field);
    (void)lp::round_half_even(v);
    (void)lp::format_decimal(v);
    (void)lp::format_pattern(v, "#,###,###,##0.#0");
  }
  std::string utf8 = lp::cp932_to_utf8(bytes);
  (void)lp::utf8_to_cp932(utf8);
  (void)lp::clean_company_marker(utf8);
  (void)lp::cp_count(utf8);
  check_index(bytes);
  return 0;
}
