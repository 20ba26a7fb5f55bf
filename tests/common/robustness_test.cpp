// Damaged and foreign files fed to the field reader, the file reader, the key/value reader and
// the text decoder: each must return, stay within the size of its input and keep what it can.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/keyvalue.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

using Input = test::DamagedInput;

// No folder among them: these readers are handed bytes or are shown to read every byte.
std::vector<Input> damaged_inputs() {
  std::vector<Input> more = {
      {"only a line end", "\r\n"},
      {"nul bytes", std::string(4096, '\0')},
      {"header count of 10^9", "20240105,1000000000,1000000000\r\n1301,a,b\r\n"},
      {"1 MB of blanks", std::string(1 << 20, ' ')},
      {"unclosed quote", "a,\"" + std::string(100000, 'q')},
      {"quotes only", std::string(10001, '"')},
      {"invalid shift_jis", "\x81\x20,\xFF\xFE,\xA0\x80,\x82\r\n\x81"},
      {"utf-8 with bom",
       "\xEF\xBB\xBF"
       "銘柄,値\r\nEOF\r\n"},
      {"bare cr lines", std::string(50000, '\r')},
  };
  return test::base_damaged_inputs(7, std::move(more), /*with_folder=*/false);
}

TEST(FieldReaderRobustness, EveryInputEndsWithFieldsInsideTheBuffer) {
  for (const Input& in : damaged_inputs()) {
    SCOPED_TRACE(in.name);
    FieldReader r(in.bytes);
    std::string_view f;
    std::size_t fields = 0;
    std::size_t last = 0;
    while (r.next(f)) {
      ++fields;
      // Every field consumes input: no read can loop in place.
      ASSERT_GT(r.position(), last);
      last = r.position();
      ASSERT_LE(r.position(), in.bytes.size());
      if (!f.empty()) {
        ASSERT_GE(f.data(), in.bytes.data());
        ASSERT_LE(f.data() + f.size(), in.bytes.data() + in.bytes.size());
      }
    }
    EXPECT_LE(fields, in.bytes.size() + 1);
    EXPECT_TRUE(r.at_end());
    EXPECT_FALSE(r.next(f));
    EXPECT_TRUE(f.empty());
    // Skipping past the end reports it instead of running on.
    FieldReader s(in.bytes);
    EXPECT_FALSE(s.skip(in.bytes.size() + 2));
  }
}

TEST(FileReadRobustness, WhatIsNoRegularFileReadsAsMissing) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "folder.csv");
  const std::string fifo = dir.file("pipe.csv");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"missing file", dir.file("none.csv")},
      {"a folder", dir.file("folder.csv")},
      // Opening a pipe with nobody writing to it would block the window for good.
      {"a named pipe", fifo},
      {"a character device", "/dev/zero"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "previous";
    EXPECT_FALSE(read_file_bytes(c.path, out));
    EXPECT_TRUE(out.empty());
    CsvFile f;
    EXPECT_FALSE(f.open(c.path));
    std::string_view field;
    EXPECT_FALSE(f.next(field));
    bool called = false;
    EXPECT_FALSE(read_key_values(c.path, [&](auto&, auto&) { called = true; }));
    EXPECT_FALSE(called);
  }
}

TEST(FileReadRobustness, ReadsEveryByteOfLargeAndOddFiles) {
  test::TempDir dir;
  for (const Input& in : damaged_inputs()) {
    SCOPED_TRACE(in.name);
    test::write_bytes(dir.path() / "f.csv", in.bytes);
    std::string out;
    ASSERT_TRUE(read_file_bytes(dir.file("f.csv"), out));
    EXPECT_EQ(out, in.bytes);
  }
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs read_pairs(const std::string& path) {
  Pairs got;
  read_key_values(path,
                  [&](const std::string& k, const std::string& v) { got.emplace_back(k, v); });
  return got;
}

TEST(KeyValueRobustness, DamagedFilesGiveWhatTheyHold) {
  struct Case {
    const char* name;
    std::string bytes;
    Pairs want;
  };
  const std::string sjis_key = utf8_to_cp932("基準コード１");
  const std::vector<Case> cases = {
      {"empty", "", {}},
      {"no EOF: read to the end",
       sjis_key + ",1301\r\nx,1\r\n",
       {{"基準コード１", "1301"}, {"x", "1"}}},
      {"key without a value at the end", sjis_key, {{"基準コード１", ""}}},
      {"truncated quoted value", sjis_key + ",\"13", {{"基準コード１", "13"}}},
      // Notepad's UTF-8 with a byte order mark: the keys must still be recognised.
      {"utf-8 with bom",
       "\xEF\xBB\xBF"
       "基準コード１,1301\r\nユーザフォルダパス,D:\\u\\\r\nEOF\r\n",
       {{"基準コード１", "1301"}, {"ユーザフォルダパス", "D:\\u\\"}}},
      {"bom alone", "\xEF\xBB\xBF", {}},
      {"invalid shift_jis key", "\x81\x20k,v\r\nEOF\r\n", {{"\xEF\xBF\xBD k", "v"}}},
      {"EOF as a value is a value", "k,EOF\r\nEOF,\r\nz,1", {{"k", "EOF"}}},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::write_bytes(dir.path() / "k.txt", c.bytes);
    EXPECT_EQ(read_pairs(dir.file("k.txt")), c.want);
  }
}

TEST(KeyValueRobustness, GarbageGivesAtMostOnePairPerTwoBytes) {
  test::TempDir dir;
  for (const Input& in : damaged_inputs()) {
    SCOPED_TRACE(in.name);
    test::write_bytes(dir.path() / "k.txt", in.bytes);
    std::size_t pairs = 0, text = 0;
    EXPECT_TRUE(read_key_values(dir.file("k.txt"), [&](const std::string& k, const std::string& v) {
      ++pairs;
      text += k.size() + v.size();
    }));
    EXPECT_LE(pairs, in.bytes.size() / 2 + 1);
    // Decoding grows a byte to at most one replacement character.
    EXPECT_LE(text, 3 * in.bytes.size());
  }
}

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80             ? 1
                      : (c & 0xE0) == 0xC0 ? 2
                      : (c & 0xF0) == 0xE0 ? 3
                      : (c & 0xF8) == 0xF0 ? 4
                                           : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

TEST(DecoderRobustness, InvalidBytesBecomeReplacementsAndTheRestSurvives) {
  struct Case {
    const char* name;
    std::string cp932;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {"lead byte at the end", "ab\x82", "ab\xEF\xBF\xBD"},
      {"lead byte before a comma", "\x82,x", "\xEF\xBF\xBD,x"},
      {"undefined single bytes",
       "\x80"
       "a\xA0"
       "b\xFD",
       "\xEF\xBF\xBD"
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"},
      {"valid text after a bad pair", "\x81\x20\x82\xA0", "\xEF\xBF\xBD \xE3\x81\x82"},
      {"nul bytes kept", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cp932_to_utf8(c.cp932), c.utf8);
  }
  for (const Input& in : damaged_inputs()) {
    SCOPED_TRACE(in.name);
    const std::string utf8 = cp932_to_utf8(in.bytes);
    EXPECT_TRUE(valid_utf8(utf8));
    EXPECT_LE(utf8.size(), 3 * in.bytes.size());
    // The way back never fails either: what CP932 cannot hold becomes "?".
    const std::string back = utf8_to_cp932(in.bytes);
    EXPECT_LE(back.size(), 2 * in.bytes.size());
    EXPECT_LE(cp_count(in.bytes), in.bytes.size());
  }
}

}  // namespace
}  // namespace lp
