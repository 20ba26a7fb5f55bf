// Keeps an otherwise empty object library valid.
namespace lp { [[maybe_unused]] static const int empty_unit_marker = 0; }
