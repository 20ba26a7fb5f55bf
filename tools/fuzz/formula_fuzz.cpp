// libFuzzer target: the formula lexer, parser and evaluator on any text. Every input must end
// in a compiled formula or an error inside the text, and evaluating a compiled formula on a
// short series must end (the limits bound depth, length and work).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/encoding.h"
#include "screening/formula/formula.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The bytes after a NUL (if any) shape the prices; the text before it is the formula.
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = bytes.find('\0');
  const std::string_view text = bytes.substr(0, nul);
  const std::string_view prices = nul == std::string_view::npos ? "" : bytes.substr(nul + 1);

  lp::formula::Formula f;
  lp::formula::FormulaError e;
  if (!lp::formula::Formula::compile(text, f, e)) {
    const auto length = static_cast<int>(lp::cp_count(text));
    if (e.position < 1 || e.position > length + 1 || e.message.empty()) __builtin_trap();
    return 0;
  }
  if (f.lookback() > lp::formula::kMaxLookback || f.read_days() < f.lookback()) __builtin_trap();

  lp::formula::TradedDays days;
  const std::size_t n = prices.empty() ? 40 : prices.size() % 300;
  for (std::size_t i = 0; i < n; ++i) {
    const double c = prices.empty() ? 100.0 + static_cast<double>(i % 7)
                                    : static_cast<double>(static_cast<unsigned char>(prices[i]));
    days.open.push_back(c);
    days.high.push_back(c + 1);
    days.low.push_back(c - 1);
    days.close.push_back(c);
    days.volume.push_back(1000);
  }
  const lp::formula::Evaluation r = lp::formula::evaluate(f, days);
  if (r.ok && days.count() < f.lookback()) __builtin_trap();
  return 0;
}
