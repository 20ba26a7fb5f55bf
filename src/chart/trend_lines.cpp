#include "chart/trend_lines.h"

#include <algorithm>
#include <cmath>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"

namespace lp::chart {

std::filesystem::path trend_lines_path(const std::string& user_folder, std::string_view code) {
  return std::filesystem::path(user_folder) / "trendlines" / (std::string(code) + ".csv");
}

namespace {

bool is_date(std::string_view t) {
  return t.size() == 8 &&
         std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::vector<TrendLine> read_trend_lines(const std::filesystem::path& path) {
  std::vector<TrendLine> out;
  std::string bytes;
  if (!read_file_bytes(path.string(), bytes)) return out;
  // Dates and prices are ASCII: the lines split on raw bytes without decoding.
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + pos, end - pos);
    pos = end + 1;
    std::vector<std::string> f;
    std::size_t start = 0;
    while (start <= line.size()) {
      const std::size_t comma = line.find(',', start);
      f.emplace_back(trim_blanks(
          line.substr(start, comma == std::string_view::npos ? line.npos : comma - start)));
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    if (f.size() < 4 || !is_date(f[0]) || !is_date(f[2])) continue;
    const double p1 = parse_number(f[1]), p2 = parse_number(f[3]);
    if (!(p1 > 0) || !(p2 > 0)) continue;
    out.push_back({f[0], p1, f[2], p2});
  }
  return out;
}

bool write_trend_lines(const std::filesystem::path& path, const std::vector<TrendLine>& lines) {
  std::error_code ec;
  if (lines.empty()) {
    std::filesystem::remove(path, ec);
    return !ec;
  }
  std::filesystem::create_directories(path.parent_path(), ec);
  CsvWriter w;
  for (const TrendLine& l : lines) {
    w.fields({l.date1, format_decimal(l.price1), l.date2, format_decimal(l.price2)});
    w.end_line();
  }
  return w.commit(path, true);
}

int bar_of_date(const Bars& bars, std::string_view date) {
  if (bars.count < 1 || date > std::string_view(bars.date[1])) return 0;
  int bar = 0;
  for (int i = 1; i <= bars.count && bars.date[static_cast<std::size_t>(i)] >= date; ++i) bar = i;
  return bar;
}

int nearest_segment(const std::vector<Segment>& segments, double x, double y, double tolerance) {
  int best = -1;
  double best_d = tolerance;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = segments[i];
    const double dx = s.x2 - s.x1, dy = s.y2 - s.y1;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((x - s.x1) * dx + (y - s.y1) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double d = std::hypot(x - (s.x1 + t * dx), y - (s.y1 + t * dy));
    if (d <= best_d) {
      best = static_cast<int>(i);
      best_d = d;
    }
  }
  return best;
}

}  // namespace lp::chart
