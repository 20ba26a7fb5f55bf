// libFuzzer target: the field reader, CP932 decoding and the number helpers on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"

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
  return 0;
}
