// Key/value files ("settei.txt", "init.txt"): fields read two at a time up to the key "EOF".
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace lp {

// Calls `on_pair(key, value)` (UTF-8) for each pair in file order. Empty keys are skipped
// without consuming a value; the key "EOF" or the end of the file stops the read.
// Returns false when the file cannot be opened.
bool read_key_values(const std::string& path,
                     const std::function<void(const std::string& key, const std::string& value)>& on_pair);

// Calls `on_pair(key, value)` for each "key=value" line of `bytes` (LF or CR LF; trailing
// blanks dropped; lines without "=" skipped): the small record files the program writes itself.
void for_each_key_value_line(
    std::string_view bytes,
    const std::function<void(const std::string& key, const std::string& value)>& on_pair);

// The local time through strftime's `format` ("%Y/%m/%d %H:%M").
std::string local_time_text(const char* format);

}  // namespace lp
