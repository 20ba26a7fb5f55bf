#include "screening/result_files.h"

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"

namespace lp::screening {

bool read_list_file(const std::string& path, CandidateList& list) {
  CsvFile f;
  if (!f.open(path)) return false;
  CandidateList read;
  const long long n = parse_integer(f.next_or_empty());
  read.date = cp932_to_utf8(f.next_or_empty());
  read.title = cp932_to_utf8(f.next_or_empty());
  for (long long k = 0; k < n && k < kCandidateCapacity && !f.at_end(); ++k) {
    Candidate c;
    c.code = cp932_to_utf8(f.next_or_empty());
    c.row = cp932_to_utf8(f.next_or_empty());
    c.value = cp932_to_utf8(f.next_or_empty());
    read.items.push_back(std::move(c));
  }
  list = std::move(read);
  return true;
}

bool write_list_file(const std::string& path, const CandidateList& list) {
  CsvWriter w;
  w.field(list.count()).field(list.date).field(list.title).end_line();
  for (const Candidate& c : list.items) w.field(c.code).field(c.row).field(c.value).end_line();
  return w.commit(path);
}

bool write_result_out(const std::string& path, const CandidateList& list, const DayTable& table,
                      const YieldFn& yield) {
  CsvWriter w;
  w.field(list.count()).field(list.date).field("銘柄").field(list.title);
  w.fields({"始値", "高値", "安値", "終値", "出来高", "前日引値", "前日出来高", "ポインタ"});
  w.end_line();
  static const DayRecord kMissing{};
  for (const Candidate& c : list.items) {
    const DayRecord* row = table.row(parse_integer(c.row));
    const DayRecord& r = row ? *row : kMissing;
    w.field(r.f[0]).field(r.f[1]).field(r.f[2]).field(c.value);
    for (int i = 3; i <= 9; ++i) w.field(r.f[static_cast<std::size_t>(i)]);
    w.field(c.row).end_line();
    yield_now(yield);
  }
  return w.commit(path);
}

}  // namespace lp::screening
