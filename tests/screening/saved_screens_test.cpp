// Saved screens: names refused, a screen written and read back control for control, the file
// form (CP932, CR LF, EOF), the listing and deletion.
#include "screening/saved_screens.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "common/encoding.h"
#include "support/fixtures.h"

namespace lp::test {
namespace {

using namespace lp::screening;

TEST(SavedScreens, NamesRefusedAndAccepted) {
  const struct {
    std::string name;
    bool ok;
  } cases[] = {
      {"押し目", true},     {"my screen 1", true},  {"", false},
      {"a/b", false},       {"a\\b", false},        {"ａ／ｂ", false},
      {"tab\there", false}, {"line\nbreak", false}, {".hidden", false},
      {".", false},         {"..", false},          {"\xff\xfe", false},  // no UTF-8
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check_screen_name(c.name).empty(), c.ok) << c.name;
  }
  std::string forty, forty_one;
  for (int i = 0; i < 40; ++i) forty += "あ";
  forty_one = forty + "a";
  EXPECT_EQ(check_screen_name(forty), "");
  EXPECT_EQ(check_screen_name(forty_one), "保存条件の名前は40文字までです。");
}

TEST(SavedScreens, WholeStateRoundTripsThroughTheFile) {
  TempDir dir;
  const std::string user = dir.str() + "/user/";
  ControlSet c = ControlSet::with_builtins();
  c.set_checked("pr_chk(1)", true);
  c.set_checked("pr_chk(10)", true);
  c.set_text("kabukamin", " 50 ");
  c.find("rsi1_kikan_cmb")->items = {"9", "14", "25"};
  c.set_text("rsi1_kikan_cmb", "14");
  c.select_option("gc_dc_opt(1)");
  c.set_checked("shijyou_chk(2)", false);
  c.set_checked("shijyou_chk(6)", false);
  c.set_checked("pr_chk(41)", true);
  c.set_text("shiki_name_txt(41)", "押し目, 浅め");
  c.set_text("shiki_txt(41)", "C > MA(C,25) AND RSI(14) < 30");
  c.set_text("shiki_hyouji_txt(41)", "C/MA(C,25)*100-100");

  std::string error;
  ASSERT_TRUE(save_screen(user, "押し目", c, error)) << error;
  ASSERT_TRUE(save_screen(user, "b-second", ControlSet::with_builtins(), error)) << error;
  EXPECT_EQ(list_screens(user), (std::vector<std::string>{"b-second", "押し目"}));

  const std::string bytes = read_bytes(user + "screens/押し目.txt");
  EXPECT_NE(bytes.find(utf8_to_cp932("shiki_name_txt(41),\"押し目, 浅め\"\r\n")),
            std::string::npos);
  EXPECT_EQ(bytes.substr(bytes.size() - 5), "EOF\r\n");

  ControlSet loaded = ControlSet::with_builtins();
  loaded.set_checked("pr_chk(2)", true);  // state before loading does not leak through
  ASSERT_TRUE(load_screen(user, "押し目", loaded, error)) << error;
  ASSERT_EQ(loaded.all().size(), c.all().size());
  for (std::size_t i = 0; i < c.all().size(); ++i) {
    const Control& a = c.all()[i];
    const Control& b = loaded.all()[i];
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.checked, b.checked) << a.name;
    EXPECT_EQ(a.text, b.text) << a.name;
    EXPECT_EQ(a.items, b.items) << a.name;
  }
  // The marks: a screen saved without them is not watched; changing them keeps the controls.
  ScreenMarks marks{true, "ptf1"};
  ASSERT_TRUE(read_screen_marks(user, "押し目", marks, error));
  EXPECT_EQ(marks, (ScreenMarks{false, ""}));
  ASSERT_TRUE(write_screen_marks(user, "押し目", {true, " 7203 ,130a"}, error)) << error;
  ControlSet again = ControlSet::with_builtins();
  ASSERT_TRUE(load_screen(user, "押し目", again, marks, error));
  EXPECT_EQ(marks, (ScreenMarks{true, "7203,130A"}));
  EXPECT_EQ(again.checked("pr_chk(10)"), true);
  EXPECT_EQ(again.find("shiki_txt(41)")->text, "C > MA(C,25) AND RSI(14) < 30");
  EXPECT_FALSE(write_screen_marks(user, "押し目", {true, "ptfX"}, error));
  EXPECT_FALSE(write_screen_marks(user, "missing", {true, ""}, error));
  // The backtest dialog's settings go with the screen (a formula's commas too) and come back;
  // a quote, which the file cannot hold, is refused.
  const ScreenMarks with_backtest{
      true, "7203,130A", {{"順位式", "C / REF(C,20)"}, {"手数料", "0.1%,min=100"}}};
  ASSERT_TRUE(write_screen_marks(user, "押し目", with_backtest, error)) << error;
  ASSERT_TRUE(load_screen(user, "押し目", again, marks, error));
  EXPECT_EQ(marks, with_backtest);
  EXPECT_EQ(again.find("shiki_txt(41)")->text, "C > MA(C,25) AND RSI(14) < 30");
  EXPECT_FALSE(write_screen_marks(user, "押し目", {true, "", {{"決済式", "C < \"x\""}}}, error));
  // Only screen files are listed: temporary, hidden and other files are not.
  write_bytes(user + "screens/.押し目.txt.lptmp", "x");
  write_bytes(user + "screens/.hidden.txt", "x");
  write_bytes(user + "screens/notes.md", "x");
  EXPECT_EQ(list_screens(user).size(), 2u);
}

TEST(SavedScreens, UniverseTexts) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", true},       {"ptf0", true},       {"PTF9", true},      {"ptf10", false},
      {"ptfa", false},  {"7203", true},       {"7203,6758", true}, {"130a, 285A", true},
      {"7203,", false}, {",7203", false},     {"0999", false},     {"72031", false},
      {"72-3", false},  {"7203,,6758", false}};
  for (const auto& [text, ok] : cases) EXPECT_EQ(check_universe(text).empty(), ok) << text;
  std::string many;
  for (int i = 0; i < 401; ++i) many += (i ? "," : "") + std::to_string(1000 + i);
  EXPECT_FALSE(check_universe(many).empty());
  EXPECT_TRUE(check_universe(many.substr(5)).empty()) << "400 codes are fine";
}

TEST(SavedScreens, RefusalsLeaveFilesAlone) {
  TempDir dir;
  const std::string user = dir.str() + "/user/";
  std::string error;
  ControlSet c = ControlSet::with_builtins();
  EXPECT_FALSE(save_screen(user, "../escape", c, error));
  EXPECT_FALSE(std::filesystem::exists(dir.str() + "/escape.txt"));
  c.set_text("shiki_name_txt(42)", "say \"hi\"");
  EXPECT_FALSE(save_screen(user, "quoted", c, error));
  EXPECT_EQ(error, "「shiki_name_txt(42)」の値に「\"」や改行は保存できません。");
  EXPECT_TRUE(list_screens(user).empty());

  EXPECT_FALSE(load_screen(user, "missing", c, error));
  EXPECT_EQ(error, "保存条件「missing」がありません。");
  EXPECT_FALSE(delete_screen(user, "missing", error));
  ASSERT_TRUE(save_screen(user, "gone", ControlSet::with_builtins(), error));
  EXPECT_TRUE(delete_screen(user, "gone", error));
  EXPECT_TRUE(list_screens(user).empty());
}

TEST(SavedScreens, ConcurrentSavesLeaveOneWholeScreen) {
  TempDir dir;
  const std::string user = dir.str() + "/user/";
  // Two writers keep replacing the same screen with two different states; every read in
  // between finds one of them whole.
  ControlSet a = ControlSet::with_builtins(), b = ControlSet::with_builtins();
  a.set_text("shiki_txt(41)", "C > MA(C,25)");
  b.set_text("shiki_txt(41)", "RSI(14) < 30");
  b.find("rsi1_kikan_cmb")->items = {"9", "14"};
  std::string error;
  ASSERT_TRUE(save_screen(user, "shared", a, error));
  std::atomic<bool> failed{false};
  auto writer = [&](const ControlSet& c) {
    for (int i = 0; i < 40; ++i) {
      std::string e;
      if (!save_screen(user, "shared", c, e)) failed = true;
    }
  };
  std::thread t1(writer, std::cref(a)), t2(writer, std::cref(b));
  for (int i = 0; i < 40; ++i) {
    ControlSet read;
    ASSERT_TRUE(load_screen(user, "shared", read, error));
    const std::string f = read.text("shiki_txt(41)");
    const bool whole = (f == "C > MA(C,25)" && read.find("rsi1_kikan_cmb")->items.empty()) ||
                       (f == "RSI(14) < 30" && read.find("rsi1_kikan_cmb")->items.size() == 2);
    EXPECT_TRUE(whole) << f;
  }
  t1.join();
  t2.join();
  EXPECT_FALSE(failed);
  EXPECT_EQ(list_screens(user), std::vector<std::string>{"shared"});
}

}  // namespace
}  // namespace lp::test
