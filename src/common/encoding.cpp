#include "common/encoding.h"

#include <iconv.h>

#include <cerrno>

#include "common/csv.h"

namespace lp {

namespace {

bool is_ascii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

// iconv descriptors are costly to open: one per thread and direction.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; on a byte sequence it cannot convert, appends `bad` and skips
  // `skip(in)` bytes, so a conversion always runs to the end of its input.
  template <class SkipFn>
  std::string run(std::string_view in, std::string_view bad, SkipFn skip) {
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    std::size_t used = 0;
    while (src_left > 0) {
      char* dst = out.data() + used;
      std::size_t dst_left = out.size() - used;
      std::size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
      used = out.size() - dst_left;
      if (r != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      // EILSEQ or EINVAL (a truncated character at the end): replace and move on.
      std::size_t n = skip(std::string_view(src, src_left));
      if (n == 0 || n > src_left) n = src_left == 0 ? 0 : 1;
      src += n;
      src_left -= n;
      if (out.size() - used < bad.size()) out.resize(out.size() * 2 + bad.size());
      out.replace(used, bad.size(), bad);
      used += bad.size();
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
    return out;
  }

 private:
  iconv_t cd_;
};

std::size_t utf8_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

// Decodes one code point at s[i]; invalid bytes count as one U+FFFD each.
char32_t decode_at(std::string_view s, std::size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t len = utf8_length(c);
  if (len == 1 || i + len > s.size()) {
    ++i;
    return c < 0x80 ? c : 0xFFFD;
  }
  char32_t cp = c & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += len;
  return cp;
}

// Byte offset of code point `n` (or s.size()).
std::size_t offset_of(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  while (n > 0 && i < s.size()) {
    decode_at(s, i);
    --n;
  }
  return i;
}

}  // namespace

std::string cp932_to_utf8(std::string_view bytes) {
  if (is_ascii(bytes)) return std::string(bytes);
  thread_local Converter conv("UTF-8", "CP932");
  return conv.run(bytes, "\xEF\xBF\xBD", [](std::string_view rest) {
    // A lead byte with a bad trail: drop the lead only, so the trail is tried on its own.
    (void)rest;
    return std::size_t{1};
  });
}

std::string utf8_to_cp932(std::string_view utf8) {
  if (is_ascii(utf8)) return std::string(utf8);
  thread_local Converter conv("CP932", "UTF-8");
  return conv.run(utf8, "?", [](std::string_view rest) {
    return utf8_length(static_cast<unsigned char>(rest[0]));
  });
}

bool read_cp932_file(const std::string& path, std::string& utf8_out) {
  std::string bytes;
  if (!read_file_bytes(path, bytes)) return false;
  utf8_out = cp932_to_utf8(bytes);
  return true;
}

std::string printable_text(std::string_view utf8, bool keep_line_breaks) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::size_t at = i;
    const char32_t c = decode_at(utf8, i);
    const bool control = (c < 0x20 && c != '\t' && !(keep_line_breaks && c == '\n')) ||
                         (c >= 0x7F && c < 0xA0) || (c >= 0x202A && c <= 0x202E) ||
                         (c >= 0x2066 && c <= 0x2069);
    if (control) continue;
    if (c == 0xFFFD) {
      out.append("\xEF\xBF\xBD");
    } else {
      out.append(utf8.substr(at, i - at));
    }
  }
  return out;
}

std::u32string to_u32(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) out.push_back(decode_at(utf8, i));
  return out;
}

std::string to_utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

std::string to_utf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char32_t c : text) out += to_utf8(c);
  return out;
}

std::size_t cp_count(std::string_view utf8) {
  std::size_t n = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    decode_at(utf8, i);
    ++n;
  }
  return n;
}

std::string cp_left(std::string_view utf8, std::size_t n) {
  return std::string(utf8.substr(0, offset_of(utf8, n)));
}

std::string cp_mid(std::string_view utf8, std::size_t start, std::size_t n) {
  std::size_t b = offset_of(utf8, start);
  std::string_view rest = utf8.substr(b);
  if (n == std::string::npos) return std::string(rest);
  return std::string(rest.substr(0, offset_of(rest, n)));
}

std::string cp_right(std::string_view utf8, std::size_t n) {
  std::size_t total = cp_count(utf8);
  if (n >= total) return std::string(utf8);
  return cp_mid(utf8, total - n);
}

std::string clean_company_marker(std::string_view name) {
  static constexpr std::string_view kMarker = "(株)";
  std::size_t at = name.find(kMarker);
  if (at == std::string_view::npos) return std::string(name);
  if (at == 0) return cp_mid(name, 3);
  std::size_t total = cp_count(name);
  return cp_left(name, total >= 3 ? total - 3 : 0);
}

}  // namespace lp
