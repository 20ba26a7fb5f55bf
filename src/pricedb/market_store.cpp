#include "pricedb/market_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "common/parallel.h"
#include "pricedb/fins_store.h"

namespace lp {

namespace {

// Plain ".csv" files of a folder, as (stem, name); temporary and hidden files are skipped.
std::vector<std::string> csv_names(int dir_fd) {
  std::vector<std::string> out;
  const int fd = ::dup(dir_fd);
  if (fd < 0) return out;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return out;
  }
  while (dirent* e = ::readdir(d)) {
    const std::string_view name(e->d_name);
    if (name.empty() || name[0] == '.' || name.size() <= 4) continue;
    if (name.substr(name.size() - 4) != ".csv") continue;
    out.emplace_back(name);
  }
  ::closedir(d);
  return out;
}

// Reads a whole file into a string of exactly its size: the store keeps every file's bytes,
// so neither slack capacity nor a shrinking copy is wanted. A file that grew since fstat is
// read on to its end.
bool read_whole(int dir_fd, const char* name, std::string& out) {
  out.clear();
  const int fd = ::openat(dir_fd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  char more[4096];
  while (true) {
    const bool into_out = got < out.size();
    const ssize_t r =
        into_out ? ::read(fd, out.data() + got, out.size() - got) : ::read(fd, more, sizeof more);
    if (r < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      out.clear();
      return false;
    }
    if (r == 0) break;
    if (into_out) {
      got += static_cast<std::size_t>(r);
    } else {
      out.append(more, static_cast<std::size_t>(r));
      got = out.size();
    }
  }
  out.resize(got);
  ::close(fd);
  return true;
}

int open_folder(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::string year_text(int y) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d", y);
  return buf;
}

}  // namespace

const StoredYear* StoredStock::year(int y) const {
  for (const StoredYear& s : years) {
    if (s.year == y) return &s;
  }
  return nullptr;
}

const double* StoredYear::open_high_low() const {
  if (indexed == IndexedNumbers::kAll) return indexed_prices.data();
  if (!lazy_prices_) return nullptr;
  LazyPrices& lazy = *lazy_prices_;
  std::call_once(lazy.built, [&] {
    lazy.values.resize(size() * 3);
    for (std::size_t i = 0; i < size(); ++i) {
      double v[3];
      open_high_low_at(i, v);
      std::copy(v, v + 3, lazy.values.begin() + static_cast<std::ptrdiff_t>(i * 3));
    }
  });
  return lazy.values.data();
}

// The numbers serve only years the loads can lay out from numbers alone.
void finish_year_index(StoredYear& out) {
  if (!out.plain) out.lengths.clear();
  out.lengths.shrink_to_fit();
  out.day_starts.shrink_to_fit();
  out.dates.shrink_to_fit();
  if (!out.numeric()) out.close_volume.clear();
  out.close_volume.shrink_to_fit();
  out.lazy_prices_.reset();
  if (out.numeric()) out.lazy_prices_ = std::make_shared<StoredYear::LazyPrices>();
}

std::array<std::string_view, 6> StoredYear::day(std::size_t i) const {
  std::array<std::string_view, 6> v;
  const std::string_view all(bytes);
  std::size_t p = day_starts[i];
  if (plain) {
    const auto& len = lengths[i];
    for (std::size_t f = 0; f < 6; ++f) {
      v[f] = all.substr(p, len[f]);
      p += len[f] + 1u;
    }
    return v;
  }
  FieldReader r(all.substr(p));
  for (auto& f : v) r.next(f);
  return v;
}

namespace {

// What the line scan learnt of each field on the way: whether it is bare digits, and their
// value (meaningful up to 18 digits, where the lenient reader takes the same value).
struct FieldDigits {
  bool digits[6];
  std::uint64_t value[6];
};

// Records day line i (its fields as the field reader reads them) in the year's index, whose
// arrays already hold room for it.
void take_day(StoredYear& out, std::size_t i, std::size_t start, const std::string_view (&v)[6],
              bool plain, const FieldDigits* known = nullptr) {
  std::array<std::uint8_t, 6> len{};
  for (int f = 0; f < 6 && plain; ++f) {
    plain = v[f].size() <= 255;
    len[static_cast<std::size_t>(f)] = static_cast<std::uint8_t>(v[f].size());
  }
  if (!plain) out.plain = false;
  auto all_digits = [&](int f) {
    if (known) return known->digits[f];
    bool ok = !v[f].empty();
    for (char c : v[f]) ok = ok && c >= '0' && c <= '9';
    return ok;
  };
  for (int f = 1; f <= 4 && out.prices_plain; ++f) {
    const std::string_view t = v[f];
    out.prices_plain = all_digits(f) && t.size() <= 15 && !(t.size() > 1 && t[0] == '0');
  }
  out.lengths[i] = len;
  for (int f = 4; f <= 5 && out.indexed != IndexedNumbers::kNone; ++f) {
    const bool direct = known && known->digits[f] && v[f].size() <= 18;
    out.close_volume[2 * i + static_cast<std::size_t>(f - 4)] =
        direct ? static_cast<double>(known->value[f]) : parse_number(v[f]);
  }
  out.day_starts[i] = static_cast<std::uint32_t>(start);
  // Eight digits, the usual date, read directly; anything else as the lenient reader reads it.
  std::int32_t d = 0;
  bool whole = v[0].size() == 8 && all_digits(0);
  if (whole) {
    if (known) {
      d = static_cast<std::int32_t>(known->value[0]);
    } else {
      for (char c : v[0]) d = d * 10 + (c - '0');
    }
  } else {
    out.dates_plain = false;
    const double date = parse_number(v[0]);
    whole = date == std::floor(date) && date >= 0 && date <= INT_MAX;
    d = whole ? static_cast<std::int32_t>(date) : 0;
  }
  if (!whole || (i > 0 && d <= out.dates[i - 1])) out.ascending = false;
  out.dates[i] = d;
}

// Sizes the index's arrays for `lines` day lines.
void size_index(StoredYear& out, std::size_t lines) {
  out.day_starts.resize(lines);
  out.dates.resize(lines);
  out.lengths.resize(lines);
  out.close_volume.resize(out.indexed == IndexedNumbers::kNone ? 0 : lines * 2);
  if (out.indexed == IndexedNumbers::kAll) out.indexed_prices.resize(lines * 3);
}

// The arrays keep their sizes until the indexing sets them: a scratch year indexed file after
// file would otherwise have every slot zeroed before it is written.
void reset_index(StoredYear& out, IndexedNumbers numbers = IndexedNumbers::kCloseVolume) {
  out.indexed = numbers;
  out.ascending = true;
  out.plain = true;
  out.prices_plain = true;
  out.dates_plain = true;
}

// The usual file: every day line is six bare fields, five commas, CR LF. Split at the commas
// directly; false at the first line of any other shape (the field reader then does it all).
// 1 for a comma, 2 for the bytes a bare field never holds.
constexpr struct LineBytes {
  std::uint8_t kind[256] = {};
  constexpr LineBytes() {
    kind[static_cast<unsigned char>(',')] = 1;
    for (char c : {'"', ' ', '\t', '\r'}) kind[static_cast<unsigned char>(c)] = 2;
  }
} kLineBytes{};

// One plain line read byte by byte: its fields into v and known, the start of the next line
// into `next`. False when the line is not of the plain kind.
bool byte_line(std::string_view all, std::size_t pos, std::string_view (&v)[6], FieldDigits& known,
               std::size_t& next) {
  std::size_t e = all.find('\n', pos);
  if (e == std::string_view::npos) e = all.size();
  std::size_t le = e;
  if (le > pos && all[le - 1] == '\r') --le;
  std::size_t f = 0, field_start = pos;
  std::uint64_t value = 0;
  bool digits = true;
  for (std::size_t k = pos; k < le; ++k) {
    const std::uint8_t kind = kLineBytes.kind[static_cast<unsigned char>(all[k])];
    if (kind == 0) {
      const unsigned digit = static_cast<unsigned char>(all[k]) - unsigned{'0'};
      digits = digits && digit <= 9;
      value = value * 10 + digit;
      continue;
    }
    if (kind == 2 || f == 5) return false;
    known.digits[f] = digits && k > field_start;
    known.value[f] = value;
    v[f++] = all.substr(field_start, k - field_start);
    field_start = k + 1;
    value = 0;
    digits = true;
  }
  if (f != 5) return false;
  // An empty last field that the data ends on is no field to the field reader, which then has
  // only five for the day.
  if (le == all.size() && field_start == le) return false;
  known.digits[5] = digits && le > field_start;
  known.value[5] = value;
  v[5] = all.substr(field_start, le - field_start);
  for (const auto& x : v) {
    if (x.size() > 255) return false;
  }
  next = e < all.size() ? e + 1 : e;
  return true;
}

// Eight digits are read as one word instead of one byte at a time.
inline std::uint64_t load_word(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The value of eight digits (text xor '0', the first digit in the lowest byte).
inline std::uint64_t eight_digits(std::uint64_t x) {
  x = x * 10 + (x >> 8);
  return (((x & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
          (((x >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >>
         32;
}

// The value of the first n (1 to 8) digits of x.
inline std::uint64_t leading_digits(std::uint64_t x, unsigned n) {
  return eight_digits(x << (64 - 8 * n));
}

constexpr std::uint64_t kTens[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The value of a run of 1 to 16 digits at p, with 16 bytes readable from p.
inline std::uint64_t wide_digits_value(const char* p, unsigned len) {
  const std::uint64_t x = load_word(p) ^ 0x3030303030303030ULL;
  if (len <= 8) return leading_digits(x, len);
  const std::uint64_t x2 = load_word(p + 8) ^ 0x3030303030303030ULL;
  return eight_digits(x) * kTens[len - 8] + leading_digits(x2, len - 8);
}

// The value of a run of 1 to 16 digits at p, in data ending at `end`.
inline std::uint64_t digits_value(const char* p, std::size_t len, const char* end) {
  if (end - p < 16) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < len; ++k) v = v * 10 + static_cast<unsigned>(p[k] - '0');
    return v;
  }
  return wide_digits_value(p, static_cast<unsigned>(len));
}

// What a day line of the usual shape holds, as take_day would record it.
struct DigitLine {
  std::array<std::uint8_t, 6> len;
  bool prices_plain;
  std::int32_t date;
  double open, high, low;  // read only when asked for, as are close and volume
  double close, volume;
  std::size_t next;  // where the next line starts
};

#if defined(__SSE2__)
// The bits of the bytes of 64 bytes at p equal to c, one bit per byte.
inline std::uint64_t equal_bits(const __m128i (&b)[4], __m128i c) {
  auto bits = [&](int k) {
    return static_cast<std::uint64_t>(
               static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(b[k], c))))
           << (16 * k);
  };
  return bits(0) | bits(1) | bits(2) | bits(3);
}

// The same for the ASCII digits.
inline std::uint64_t digit_bits(const __m128i (&b)[4]) {
  const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
  auto bits = [&](int k) {
    const __m128i t = _mm_sub_epi8(b[k], zero);
    return static_cast<std::uint64_t>(
               static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(t, nine), t))))
           << (16 * k);
  };
  return bits(0) | bits(1) | bits(2) | bits(3);
}
#endif

// The usual day line, read sixteen bytes at a time: six fields of 1 to 16 digits, the date of
// eight, joined by commas and ended by LF or CR LF. False for any other line, and near the end
// of the data, where byte_line reads it.
template <IndexedNumbers kNumbers>
inline bool digit_line(std::string_view all, std::size_t pos, DigitLine& out) {
#if defined(__SSE2__)
  if (all.size() - pos < 80) return false;  // every word read below lies inside the data
  const char* const p = all.data() + pos;
  const __m128i b[4] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48))};
  const std::uint64_t lfs = equal_bits(b, _mm_set1_epi8('\n'));
  if (lfs == 0) return false;
  const std::uint64_t commas = equal_bits(b, _mm_set1_epi8(','));
  const unsigned e = static_cast<unsigned>(__builtin_ctzll(lfs));
  const unsigned le = e - static_cast<unsigned>(e > 0 && p[e - 1] == '\r');
  const std::uint64_t body = (std::uint64_t{1} << le) - 1;
  if (((digit_bits(b) | commas) & body) != body) return false;  // a byte that is neither
  // The commas one by one, each mask the one before less its lowest bit: the positions are
  // then read independently of each other, and the checks are summed rather than branched on
  // (nearly every line passes them).
  const std::uint64_t m0 = commas & body, m1 = m0 & (m0 - 1), m2 = m1 & (m1 - 1),
                      m3 = m2 & (m2 - 1), m4 = m3 & (m3 - 1);
  if (m4 == 0 || (m4 & (m4 - 1)) != 0) return false;  // not exactly five commas
  const auto c0 = static_cast<unsigned>(__builtin_ctzll(m0));
  const auto c1 = static_cast<unsigned>(__builtin_ctzll(m1));
  const auto c2 = static_cast<unsigned>(__builtin_ctzll(m2));
  const auto c3 = static_cast<unsigned>(__builtin_ctzll(m3));
  const auto c4 = static_cast<unsigned>(__builtin_ctzll(m4));
  // Each length in its own variable: GCC keeps an array of them on the stack, in a loop.
  const unsigned l1 = c1 - c0 - 1, l2 = c2 - c1 - 1, l3 = c3 - c2 - 1, l4 = c4 - c3 - 1,
                 l5 = le - c4 - 1;
  // The date of eight digits, the others of 1 to 16 (an empty field wraps to a large length).
  const unsigned beyond = (l1 - 1) | (l2 - 1) | (l3 - 1) | (l4 - 1) | (l5 - 1);
  if (((c0 ^ 8u) | (beyond >> 4)) != 0) return false;
  // Plain prices: at most 15 digits and no leading zero, the zeros found among the field
  // starts of open to close (a start followed by a comma is a field of one digit).
  const std::uint64_t price_starts = (m0 ^ m4) << 1;
  const std::uint64_t leading_zeros =
      equal_bits(b, _mm_set1_epi8('0')) & price_starts & ~(commas >> 1);
  out.prices_plain = leading_zeros == 0 && ((l1 | l2 | l3 | l4) & 16u) == 0;
  out.len = {static_cast<std::uint8_t>(c0), static_cast<std::uint8_t>(l1),
             static_cast<std::uint8_t>(l2), static_cast<std::uint8_t>(l3),
             static_cast<std::uint8_t>(l4), static_cast<std::uint8_t>(l5)};
  out.date = static_cast<std::int32_t>(eight_digits(load_word(p) ^ 0x3030303030303030ULL));
  if constexpr (kNumbers == IndexedNumbers::kAll) {
    out.open = static_cast<double>(wide_digits_value(p + c0 + 1, l1));
    out.high = static_cast<double>(wide_digits_value(p + c1 + 1, l2));
    out.low = static_cast<double>(wide_digits_value(p + c2 + 1, l3));
  }
  if constexpr (kNumbers != IndexedNumbers::kNone) {
    out.close = static_cast<double>(wide_digits_value(p + c3 + 1, l4));
    out.volume = static_cast<double>(wide_digits_value(p + c4 + 1, l5));
  }
  out.next = pos + e + 1;
  return true;
#else
  (void)all, (void)pos, (void)out;
  return false;
#endif
}

// Where each of at most `most` lines from `pos` starts, and one past the last line's end (past
// its LF, or the end of the data plus one for a last line without one) as element count.
std::size_t find_lines(std::string_view all, std::size_t pos, std::size_t most,
                       std::vector<std::uint32_t>& bounds) {
  bounds.resize(most + 1);
  std::uint32_t* const b = bounds.data();
  std::size_t count = 0;
  b[0] = static_cast<std::uint32_t>(pos);
  std::size_t p = pos;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  for (; count < most && p + 16 <= all.size(); p += 16) {
    unsigned m = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(all.data() + p)), lf)));
    for (; m != 0 && count < most; m &= m - 1)
      b[++count] = static_cast<std::uint32_t>(p + static_cast<unsigned>(std::countr_zero(m)) + 1);
  }
#endif
  for (; count < most && p < all.size(); ++p) {
    if (all[p] == '\n') b[++count] = static_cast<std::uint32_t>(p + 1);
  }
  if (count < most && b[count] < all.size())
    b[++count] = static_cast<std::uint32_t>(all.size() + 1);
  return count;
}

// Whether the lines from `from` up to `to` (the start of a line) leave the field reader's days
// on the lines that follow: the reader ends a field at a comma, a CR, an LF or a CR LF and
// takes six fields a day, so with no quote among those lines and five other field ends per LF,
// it reads as many days as there are lines and the next day starts on the next line. What the
// lines themselves hold (blanks, misplaced commas that even out) is not read by a load that
// starts after them. Counted sixteen bytes at a time.
bool days_end_with_lines(std::string_view all, std::size_t from, std::size_t to,
                         std::size_t& lines) {
  std::uint64_t ends = 0, lfs = 0;  // commas and CRs less CR LF pairs; LFs
  bool quote = false;
  const char* const d = all.data();
  std::size_t p = from;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(','), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'),
                dq = _mm_set1_epi8('"'), zero = _mm_setzero_si128();
  auto total = [&](__m128i bytes) {
    const __m128i sums = _mm_sad_epu8(bytes, zero);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
           static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  };
  __m128i quotes = zero;
  // Each byte counter gains at most one a step: summed before it can overflow. The CR LF
  // test reads one byte past each block, which `to` (a line start) leaves inside the data.
  while (p + 16 < to) {
    __m128i e = zero, l = zero;
    for (int k = 0; k < 255 && p + 16 < to; ++k, p += 16) {
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + p));
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + p + 1));
      const __m128i is_cr = _mm_cmpeq_epi8(b, cr);
      const __m128i lone_cr = _mm_andnot_si128(_mm_cmpeq_epi8(next, lf), is_cr);
      e = _mm_sub_epi8(e, _mm_or_si128(_mm_cmpeq_epi8(b, comma), lone_cr));
      l = _mm_sub_epi8(l, _mm_cmpeq_epi8(b, lf));
      quotes = _mm_or_si128(quotes, _mm_cmpeq_epi8(b, dq));
    }
    ends += total(e);
    lfs += total(l);
  }
  quote = _mm_movemask_epi8(quotes) != 0;
#endif
  for (; p < to; ++p) {
    const char c = d[p];
    quote = quote || c == '"';
    ends += c == ',' || (c == '\r' && !(p + 1 < all.size() && d[p + 1] == '\n'));
    lfs += c == '\n';
  }
  lines = lfs;
  return !quote && ends == 5 * lfs;
}

// Where the last `lines` lines from `pos` begin (a last line without its LF counts), found
// from the end of the data; npos when the data holds no more lines than that.
std::size_t last_lines_start(std::string_view all, std::size_t pos, std::size_t lines) {
  constexpr std::size_t kNone = std::string_view::npos;
  const std::size_t end = all.size();
  if (lines == 0 || end <= pos) return kNone;
  // The LF that ends the data starts no line.
  std::size_t need = lines + (all[end - 1] == '\n' ? 1 : 0);
  std::size_t p = end;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  while (p >= pos + 16) {
    p -= 16;
    unsigned m = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(all.data() + p)), lf)));
    for (; m != 0; m &= ~(1u << (31 - __builtin_clz(m)))) {
      if (--need == 0) return p + static_cast<std::size_t>(31 - __builtin_clz(m)) + 1;
    }
  }
#endif
  while (p > pos) {
    --p;
    if (all[p] == '\n' && --need == 0) return p + 1;
  }
  return kNone;
}

template <IndexedNumbers kNumbers>
bool index_plain_lines(StoredYear& out, std::size_t pos, std::int64_t n, std::size_t newest) {
  const std::string_view all(out.bytes);
  // The header's count bounds the lines; the shortest line (five commas and a line end) bounds
  // what the bytes can hold, however large the count.
  std::size_t most = std::min<std::size_t>(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)),
                                           (all.size() - std::min(pos, all.size())) / 6 + 1);
  if (newest < most) {
    // Only the newest lines are wanted: the older ones are only checked to leave the field
    // reader's days on the lines, so that the lines kept are the days it would find. They are
    // found from the end, unless the header's count stops the days before the last line.
    std::size_t older = 0;
    std::size_t start = last_lines_start(all, pos, newest);
    if (start != std::string_view::npos) {
      bool aligned = days_end_with_lines(all, pos, start, older);
      if (older + newest > most) {
        // Lines beyond the count: what the count reaches is found from the start and checked.
        thread_local std::vector<std::uint32_t> bounds;
        start = bounds[find_lines(all, pos, most, bounds) - newest];
        aligned = days_end_with_lines(all, pos, start, older);
      }
      if (!aligned) return false;
      pos = start;
      most = newest;
    }
  }
  size_index(out, most);
  std::uint32_t* const starts = out.day_starts.data();
  std::int32_t* const dates = out.dates.data();
  std::array<std::uint8_t, 6>* const lengths = out.lengths.data();
  double* const close_volume = out.close_volume.data();
  double* const prices = out.indexed_prices.data();
  bool prices_plain = true, ascending = true;
  std::string_view v[6];
  FieldDigits known{};
  DigitLine line{};
  std::size_t i = 0;
  for (; i < most && pos < all.size(); ++i) {
    if (digit_line<kNumbers>(all, pos, line)) {
      starts[i] = static_cast<std::uint32_t>(pos);
      lengths[i] = line.len;
      if constexpr (kNumbers == IndexedNumbers::kAll) {
        prices[3 * i] = line.open;
        prices[3 * i + 1] = line.high;
        prices[3 * i + 2] = line.low;
      }
      if constexpr (kNumbers != IndexedNumbers::kNone) {
        close_volume[2 * i] = line.close;
        close_volume[2 * i + 1] = line.volume;
      }
      prices_plain = prices_plain && line.prices_plain;
      ascending = ascending && !(i > 0 && line.date <= dates[i - 1]);
      dates[i] = line.date;
      pos = line.next;
      continue;
    }
    std::size_t next = pos;
    if (!byte_line(all, pos, v, known, next)) return false;
    out.prices_plain = prices_plain;
    out.ascending = ascending;
    take_day(out, i, pos, v, true, &known);
    if constexpr (kNumbers == IndexedNumbers::kAll) {
      for (std::size_t f = 0; f < 3; ++f)
        prices[3 * i + f] = static_cast<double>(known.value[f + 1]);
    }
    prices_plain = out.prices_plain;
    ascending = out.ascending;
    pos = next;
  }
  out.prices_plain = prices_plain;
  out.ascending = ascending;
  size_index(out, i);
  return true;
}

}  // namespace

void StoredYear::open_high_low_at(std::size_t i, double (&v)[3]) const {
  const char* p = bytes.data() + day_starts[i];
  const char* const end = bytes.data() + bytes.size();
  const auto& len = lengths[i];
  p += len[0] + 1u;
  for (std::size_t f = 0; f < 3; ++f) {
    v[f] = static_cast<double>(digits_value(p, len[f + 1], end));
    p += len[f + 1] + 1u;
  }
}

bool index_plain_year(StoredYear& out, std::size_t newest, IndexedNumbers numbers) {
  reset_index(out, numbers);
  FieldReader r(out.bytes);
  std::string_view h[6];
  for (auto& x : h) x = r.next_or_empty();
  const std::size_t pos = r.position();
  const std::int64_t n = parse_integer(h[5]);
  switch (numbers) {
    case IndexedNumbers::kNone:
      return index_plain_lines<IndexedNumbers::kNone>(out, pos, n, newest);
    case IndexedNumbers::kCloseVolume:
      return index_plain_lines<IndexedNumbers::kCloseVolume>(out, pos, n, newest);
    case IndexedNumbers::kAll:
      break;
  }
  return index_plain_lines<IndexedNumbers::kAll>(out, pos, n, newest);
}

void index_stored_year(StoredYear& out) {
  if (index_plain_year(out)) {
    finish_year_index(out);
    return;
  }
  reset_index(out);
  size_index(out, 0);  // grown below as the days come, every array alike
  FieldReader r(out.bytes);
  std::string_view h[6];
  for (auto& x : h) x = r.next_or_empty();
  const std::int64_t n = parse_integer(h[5]);
  std::string_view v[6];
  std::size_t i = 0;
  for (std::int64_t k = 0; k < n; ++k) {
    const std::size_t start = r.position();
    int got = 0;
    while (got < 6 && r.next(v[got])) ++got;
    if (got < 6) break;
    const char* base = out.bytes.data();
    bool plain = v[0].data() == base + start;
    for (int f = 0; f < 5 && plain; ++f) {
      const char* end = v[f].data() + v[f].size();
      plain = *end == ',' && end + 1 == v[f + 1].data();
    }
    if (plain) {
      const char* end = v[5].data() + v[5].size();
      plain = end == base + out.bytes.size() || *end == ',' || *end == '\r' || *end == '\n';
    }
    if (i == out.day_starts.size()) size_index(out, std::max<std::size_t>(16, 2 * i));
    take_day(out, i++, start, v, plain);
  }
  size_index(out, i);
  finish_year_index(out);
}

std::shared_ptr<MarketStore> MarketStore::load(const std::string& db_folder,
                                               const std::string& reference_code,
                                               std::string& error,
                                               const std::function<void(int, int)>& progress) {
  auto store = std::make_shared<MarketStore>();
  store->db_folder_ = db_folder;
  store->reference_code_ = reference_code;
  const std::vector<int> years = years_present(db_folder);
  const int total = static_cast<int>(years.size()) * 3;
  int done = 0;
  for (int y : years) {  // newest first, so each stock's years end up newest first
    const std::string folder = year_folder(db_folder, y);
    const int series_fd = open_folder(folder + "data_m");
    if (series_fd >= 0) {
      // The files are read and indexed by the workers and filed here in listing order.
      const std::vector<std::string> names = csv_names(series_fd);
      std::vector<StoredYear> read(names.size());
      std::vector<char> ok(names.size(), 0);
      const bool whole = ordered_for(
          static_cast<int>(names.size()),
          [&](int i, int) {
            StoredYear& sy = read[static_cast<std::size_t>(i)];
            sy.year = y;
            if (!read_whole(series_fd, names[static_cast<std::size_t>(i)].c_str(), sy.bytes)) {
              return;
            }
            ok[static_cast<std::size_t>(i)] = 1;
            if (sy.bytes.size() < UINT32_MAX) index_stored_year(sy);
          },
          [&](int i) {
            const std::string& name = names[static_cast<std::size_t>(i)];
            StoredYear& sy = read[static_cast<std::size_t>(i)];
            if (!ok[static_cast<std::size_t>(i)]) return true;
            if (sy.bytes.size() >= UINT32_MAX) {
              error = "file too large to hold in memory: " + folder + "data_m/" + name;
              return false;
            }
            ++store->files_;
            store->file_bytes_ += sy.bytes.size();
            store->stocks_[name.substr(0, name.size() - 4)].years.push_back(std::move(sy));
            return true;
          });
      ::close(series_fd);
      if (!whole) return nullptr;
    }
    if (progress) progress(++done, total);
    const int corr_fd = open_folder(folder + "data_mh");
    if (corr_fd >= 0) {
      std::string bytes;
      CorrectionFile cf;
      for (const std::string& name : csv_names(corr_fd)) {
        if (!read_file_bytes_at(corr_fd, name.c_str(), bytes)) continue;
        ++store->files_;
        store->file_bytes_ += bytes.size();
        parse_correction_file(bytes, cf);
        store->stocks_[name.substr(0, name.size() - 4)].corrections[y] = std::move(cf.rows);
      }
      ::close(corr_fd);
    }
    if (progress) progress(++done, total);
    const int day_fd = open_folder(folder + "data_d");
    if (day_fd >= 0) {
      const std::string prefix = year_text(y);
      std::vector<std::string> names;
      // The loaders look for a day in the folder of its own year only.
      for (std::string& name : csv_names(day_fd)) {
        if (name.compare(0, 4, prefix) == 0) names.push_back(std::move(name));
      }
      std::vector<std::string> read(names.size());
      std::vector<char> ok(names.size(), 0);
      ordered_for(
          static_cast<int>(names.size()),
          [&](int i, int) {
            const auto k = static_cast<std::size_t>(i);
            ok[k] = read_whole(day_fd, names[k].c_str(), read[k]);
          },
          [&](int i) {
            const auto k = static_cast<std::size_t>(i);
            if (!ok[k]) return true;
            ++store->files_;
            store->file_bytes_ += read[k].size();
            store->day_files_[names[k].substr(0, names[k].size() - 4)] = std::move(read[k]);
            return true;
          });
      ::close(day_fd);
    }
    if (progress) progress(++done, total);
  }
  store->by_number_.assign(9000, nullptr);
  for (const auto& [code, stock] : store->stocks_) {
    if (code.size() == 4 && code[0] >= '1' && code[0] <= '9' &&
        std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      store->by_number_[static_cast<std::size_t>(std::stoi(code) - 1000)] = &stock;
    }
  }
  if (const StoredStock* ref = store->stock(reference_code)) {
    std::vector<std::int64_t> all;
    for (const StoredYear& sy : ref->years) {
      for (std::uint32_t start : sy.day_starts) {
        FieldReader line(std::string_view(sy.bytes).substr(start));
        all.push_back(parse_integer(line.next_or_empty()));
      }
    }
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    for (std::int64_t d : all) {
      if (d >= 10000101 && d <= 99991231) store->trading_dates_.push_back(std::to_string(d));
    }
  }
  return store;
}

std::shared_ptr<const fins::FinsTable> MarketStore::fins() const {
  std::call_once(fins_once_, [this] { fins_ = fins::FinsTable::load(db_folder_); });
  return fins_;
}

std::vector<std::string> MarketStore::codes() const {
  std::vector<std::string> out;
  out.reserve(stocks_.size());
  for (const auto& entry : stocks_) out.push_back(entry.first);
  std::sort(out.begin(), out.end());
  return out;
}

const StoredStock* MarketStore::stock(std::string_view code) const {
  if (code.size() == 4 && !by_number_.empty()) {
    const unsigned a = static_cast<unsigned char>(code[0]) - '0',
                   b = static_cast<unsigned char>(code[1]) - '0',
                   c = static_cast<unsigned char>(code[2]) - '0',
                   d = static_cast<unsigned char>(code[3]) - '0';
    if (a >= 1 && a <= 9 && b <= 9 && c <= 9 && d <= 9)
      return by_number_[a * 1000 + b * 100 + c * 10 + d - 1000];
  }
  auto it = stocks_.find(code);
  return it == stocks_.end() ? nullptr : &it->second;
}

bool MarketStore::has_day_file(std::string_view date) const {
  return day_files_.find(date) != day_files_.end();
}

bool MarketStore::day_file(std::string_view date, DayFile& out, bool decode_names) const {
  auto it = day_files_.find(date);
  if (it == day_files_.end()) return false;
  parse_day_file(it->second, out, false);
  if (!decode_names) return true;
  // Decode the names as read_day_file would, through the cache (the raw fields once more).
  // Day after day a stock keeps its names: the names a four-digit code had in the previous
  // call are checked first, which spares a search through the cache.
  struct CodeNames {
    std::string raw[2], text[2];
  };
  thread_local std::vector<CodeNames> last(9000);
  CodeNames spare;
  FieldReader f(it->second);
  f.skip(8);
  std::string_view v[8];
  std::unique_lock<std::mutex> lock(names_mutex_, std::defer_lock);
  for (std::size_t i = 0; i < out.rows.size(); ++i) {
    PriceRecord& r = out.rows[i];
    for (auto& x : v) f.next(x);
    const std::string_view code = v[0];
    const bool usual =
        code.size() == 4 && code[0] >= '1' && code[0] <= '9' &&
        std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
    CodeNames& row =
        usual ? last[static_cast<std::size_t>((code[0] - '0') * 1000 + (code[1] - '0') * 100 +
                                              (code[2] - '0') * 10 + (code[3] - '0') - 1000)]
              : spare;
    for (int k = 0; k < 2; ++k) {
      const std::string_view raw = v[k + 1];
      if (&row == &spare || row.raw[k] != raw) {
        if (!lock.owns_lock()) lock.lock();
        auto hit = decoded_.find(raw);
        if (hit == decoded_.end())
          hit = decoded_.emplace(std::string(raw), cp932_to_utf8(raw)).first;
        row.raw[k].assign(raw);
        row.text[k] = hit->second;
      }
      (k == 0 ? r.market : r.name) = row.text[k];
    }
  }
  return true;
}

std::size_t MarketStore::memory_bytes() const {
  std::size_t total = 0;
  for (const auto& [code, s] : stocks_) {
    total += code.capacity() + sizeof(StoredStock) + 64;  // map node
    for (const StoredYear& y : s.years) {
      total += sizeof(StoredYear) + y.bytes.capacity() +
               y.day_starts.capacity() * sizeof(std::uint32_t) + y.lengths.capacity() * 6 +
               y.dates.capacity() * sizeof(std::int32_t) +
               y.close_volume.capacity() * sizeof(double);
    }
    for (const auto& [year, rows] : s.corrections) {
      total += 64 + rows.capacity() * sizeof(Correction);
    }
  }
  for (const auto& [date, bytes] : day_files_) total += 64 + date.capacity() + bytes.capacity();
  total += trading_dates_.capacity() * sizeof(std::string) + by_number_.capacity() * 8;
  return total;
}

}  // namespace lp
