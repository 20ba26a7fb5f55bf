// Where the J-Quants API key lives outside the program: the environment variable
// JQUANTS_API_KEY or a file private to the user. The key never goes into settei.txt, a log,
// a message or a command line.
#pragma once

#include <functional>
#include <string>

namespace lp::jquants {

inline constexpr const char* kKeyEnvironmentVariable = "JQUANTS_API_KEY";

// home + "/.config/lumenpick/jquants.key"
std::string key_file_path(const std::string& home);

struct KeyLookup {
  std::string key;     // empty when none was found or the file was refused
  std::string source;  // "JQUANTS_API_KEY" or the file's path
  std::string error;   // why the file was refused (never holds the key)
};

// The environment first (`env` returns the variable's value or nullptr), then the file,
// which is refused unless it is a regular file of the user's own with mode 0600 (or 0400).
KeyLookup find_api_key(const std::function<const char*(const char*)>& env, const std::string& home);
// Reads the key file with the same checks.
KeyLookup read_key_file(const std::string& path);
// Writes the key file created private (0600) in a private folder, replacing it atomically.
bool write_key_file(const std::string& path, const std::string& key, std::string& error);

// A key as typed or stored: surrounding blanks and line ends dropped; empty when it holds
// anything but printable ASCII.
std::string clean_key(const std::string& text);

}  // namespace lp::jquants
