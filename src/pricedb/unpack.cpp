#include "pricedb/unpack.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/csv.h"
#include "common/numbers.h"

namespace lp {

namespace fs = std::filesystem;

namespace {

// One kind of packed file: where it is staged, where its blocks go, and its record shape.
struct Phase {
  const char* staging;
  const char* output;
  std::size_t fields;       // fields per line (file header, block header, body lines)
  std::size_t count_field;  // 0-based index of the line count in a block header
};

constexpr Phase kCorrections{"data_mhg", "data_mh", 3, 2};
constexpr Phase kDays{"data_dg", "data_d", 8, 1};
constexpr Phase kSeries{"data_mg", "data_m", 6, 5};

// A count field, read leniently and rounded half to even; negative counts mean none.
long long count_of(std::string_view field) {
  const long long n = round_half_even(parse_number(field));
  return n < 0 ? 0 : n;
}

// A block becomes a file in the output folder: only a plain name may do that, never a path.
bool plain_name(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           c == '-';
  });
}

// The packed files a phase reads: only the names the server's files are saved under, so a
// leftover of an interrupted download or anything else in the folder is never unpacked.
bool packed_file_name(const Phase& phase, const std::string& name, int year) {
  const std::string y = std::to_string(year);
  if (&phase == &kCorrections) return name == y + ".csv";
  if (&phase == &kDays) {
    for (int m = 1; m <= 12; ++m) {
      if (name == y + (m < 10 ? "0" : "") + std::to_string(m) + ".csv") return true;
    }
    return false;
  }
  for (int k = 1; k <= 9; ++k) {
    if (name == std::to_string(k) + "000.csv") return true;
  }
  return false;
}

std::vector<fs::path> packed_files(const Phase& phase, const fs::path& folder, int year) {
  std::vector<fs::path> files;
  for (fs::path& file : list_files(folder)) {
    if (packed_file_name(phase, file.filename().string(), year)) files.push_back(std::move(file));
  }
  return files;
}

std::string progress_text(const Phase& phase, const std::string& file_name, int year) {
  if (&phase == &kCorrections) {
    return file_name.substr(0, 4) + "年の補正情報を株価データベースに登録しています。";
  }
  if (&phase == &kDays) {
    const std::string p = file_name.substr(0, 6);
    return p.substr(0, 4) + "年" + (p.size() >= 6 ? p.substr(4, 2) : std::string()) +
           "月の日毎株価を株価データベースに登録しています。";
  }
  const long long c = parse_integer(file_name.substr(0, 4));
  return "銘柄コード" + std::to_string(c) + "～" + std::to_string(c + 999) + "の" +
         std::to_string(year) + "年の時系列株価を株価データベースに登録しています。";
}

class PackedFileSplitter {
 public:
  PackedFileSplitter(const Phase& phase, const std::string& out_folder, UnpackStats& stats,
                     const YieldFn& yield)
      : phase_(phase), out_folder_(out_folder), stats_(stats), yield_(yield) {}

  void split(const std::string& bytes) {
    FieldReader reader(bytes);
    std::array<std::string_view, 8> header{};
    if (!read_line(reader, header)) return;
    const long long blocks = count_of(header[1]);
    for (long long b = 0; b < blocks && !reader.at_end(); ++b) {
      if (!read_block(reader, bytes)) return;  // cut short: the file has nothing more
      yield_now(yield_);
    }
  }

 private:
  bool read_line(FieldReader& reader, std::array<std::string_view, 8>& fields) {
    for (std::size_t i = 0; i < phase_.fields; ++i) {
      if (!reader.next(fields[i])) return false;
    }
    return true;
  }

  void append_line(const std::array<std::string_view, 8>& fields) {
    for (std::size_t i = 0; i < phase_.fields; ++i) {
      if (i) out_.push_back(',');
      out_.append(fields[i]);
    }
    out_.append("\r\n");
  }

  // False when the packed file ended inside the block.
  bool read_block(FieldReader& reader, const std::string& bytes) {
    std::array<std::string_view, 8> fields{};
    out_.clear();
    if (!read_line(reader, fields)) return truncated();
    const std::string name(fields[0]);
    const long long lines = count_of(fields[phase_.count_field]);
    append_line(fields);
    for (long long i = 0; i < lines; ++i) {
      if (!read_line(reader, fields)) return truncated();
      append_line(fields);
    }
    // Every field is there: the block is whole, even when the file's last line end is
    // missing. A block that ends in a comma has a field more than its shape: misaligned.
    const std::size_t pos = reader.position();
    if (pos == 0 || bytes[pos - 1] == ',') return truncated();
    if (!plain_name(name)) {
      ++stats_.rejected_blocks;
      return true;
    }
    if (!write_file_atomic(out_folder_ + name + ".csv", out_)) {
      ++stats_.failed_writes;
      return true;
    }
    if (&phase_ == &kCorrections)
      ++stats_.correction_files;
    else if (&phase_ == &kDays)
      ++stats_.day_files;
    else
      ++stats_.series_files;
    return true;
  }

  bool truncated() {
    ++stats_.truncated_blocks;
    return false;
  }

  const Phase& phase_;
  const std::string& out_folder_;
  UnpackStats& stats_;
  const YieldFn& yield_;
  std::string out_;
};

}  // namespace

UnpackStats unpack_year(const std::string& year_folder, const UnpackHooks& hooks) {
  UnpackStats stats;
  std::string y = year_folder;
  while (!y.empty() && (y.back() == '/' || y.back() == '\\')) y.pop_back();
  const int year = y.size() >= 4 ? static_cast<int>(parse_integer(y.substr(y.size() - 4))) : 0;
  y.push_back('/');

  auto say = [&](const std::string& text) {
    if (hooks.message) hooks.message(text);
  };
  struct Step {
    const Phase* phase;
    const char* done_text;
  };
  const Step steps[] = {{&kCorrections, "分割情報の処理完了"},
                        {&kDays, "日毎株価の処理完了"},
                        {&kSeries, "unpack処理終了"}};
  std::string bytes;
  for (const Step& step : steps) {
    const std::string out_folder = y + step.phase->output + "/";
    const fs::path staging = y + step.phase->staging;
    std::error_code ec;
    if (fs::is_directory(staging, ec)) {
      PackedFileSplitter splitter(*step.phase, out_folder, stats, hooks.yield);
      for (const fs::path& file : packed_files(*step.phase, staging, year)) {
        say(progress_text(*step.phase, file.filename().string(), year));
        yield_now(hooks.yield);
        if (read_file_bytes(file, bytes)) {
          ++stats.packed_files;
          splitter.split(bytes);
        }
        if (hooks.quit_requested && hooks.quit_requested()) {
          stats.stopped = true;
          if (hooks.close_main) hooks.close_main();
          return stats;
        }
      }
    }
    say(step.done_text);
  }
  return stats;
}

}  // namespace lp
