// The price database: its layout, its three file formats and the latest trading date.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace lp {

// One stock on one trading day: the line of a DayFile. Text as in the file (UTF-8).
struct PriceRecord {
  std::string code, market, name, open, high, low, close, volume;
};

struct DayFile {
  std::string date;        // header field 1
  long long declared = 0;  // header field 2: stock lines announced
  std::vector<PriceRecord> rows;  // the stock lines actually read
};

// Six text fields: a series header or a day.
struct SeriesRecord {
  std::string d1_code_yyyymmdd, d2, d3, d4, d5, d6;
};

struct SeriesFile {
  SeriesRecord header;             // the six header fields as read (name not cleaned)
  std::vector<SeriesRecord> days;  // oldest first, as in the file
};

struct Correction {
  std::string date;
  double numerator = 0;
  double denominator = 0;
};

struct CorrectionFile {
  std::string code;
  std::vector<Correction> rows;  // oldest first
};

// A traded day whose volume its source did not give (a CSV file without volumes) is stored with
// this volume text: above zero, so every reader counts the day as traded, and below one share,
// so it is never a real volume. Volume measures treat such a day as unknown.
inline constexpr const char* kUnknownVolumeText = "0.1";
inline bool is_unknown_volume(double volume) {
  return volume > 0 && volume < 1;
}

// Paths inside db_folder (a native folder ending in "/").
std::string year_folder(const std::string& db_folder, int year);
std::string day_file_path(const std::string& db_folder, std::string_view date);
std::string series_file_path(const std::string& db_folder, int year, std::string_view code);
std::string correction_file_path(const std::string& db_folder, int year, std::string_view code);

// Readers follow the header counts and stop at the end of the file with what they read.
// A count beyond the usual limits (5000, 350, 200) is read in full: nothing is misaligned.
// False only when the file cannot be opened. Names are decoded from CP932; with
// `decode_names` false the day file's market and name fields stay empty (faster).
bool read_day_file(const std::string& path, DayFile& out, bool decode_names = true);
bool read_series_file(const std::string& path, SeriesFile& out);
bool read_correction_file(const std::string& path, CorrectionFile& out);
// The same readers on bytes already in memory (the in-memory market reads each file once).
void parse_day_file(std::string_view bytes, DayFile& out, bool decode_names = true);
void parse_correction_file(std::string_view bytes, CorrectionFile& out);

// Only the dates of a series file, newest first, at most `limit` of them. -1 limit: all.
bool read_series_dates(const std::string& path, std::vector<std::string>& newest_first,
                       long long limit = -1);

// A year is present when db_folder has a subfolder whose last four characters read as it.
bool year_present(const std::string& db_folder, int year);
// The years present, newest first.
std::vector<int> years_present(const std::string& db_folder);
// The codes that have a series file in any year folder.
std::unordered_set<std::string> stored_stock_codes(const std::string& db_folder);

// Header field 5 of the reference code's newest series file, scanning from current_year
// down to lowest_year. False (date untouched) when no year has the file.
bool read_latest_date(const std::string& db_folder, const std::string& reference_code,
                      int current_year, int lowest_year, std::string& date);

// A day file's name: eight digits (yyyymmdd) and ".csv", nothing else.
bool is_day_file_name(std::string_view name);

// The day files of a year folder's "data_d/" (names as is_day_file_name), in name order.
std::vector<std::string> day_files_of_year(const std::string& db_folder, int year);

}  // namespace lp
