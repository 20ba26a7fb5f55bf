// /fins/summary of the J-Quants view: the results summaries of a database folder's "fins/"
// as V2 serves them, values mixing numbers, numeric texts, "" and null as the real service does.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace lp::tools {

class JQuantsFinsView {
 public:
  // Reads every stock's file of db_folder + "fins/" (none is no error: nothing to serve).
  void load(const std::string& db_folder);
  // The records of one disclosure day (yyyymmdd) or of one code (four or five characters), in
  // (DiscDate, DiscNo) order; empty when there are none.
  std::vector<std::string> by_date(int date) const;
  std::vector<std::string> by_code(const std::string& code) const;
  std::size_t size() const { return count_; }

 private:
  std::map<int, std::vector<std::string>> by_date_;
  std::map<std::string, std::vector<std::string>> by_code_;
  std::size_t count_ = 0;
};

}  // namespace lp::tools
