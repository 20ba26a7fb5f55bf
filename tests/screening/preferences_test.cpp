#include "screening/preferences.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/fixtures.h"

namespace lp::screening {
namespace {

// "name": a box as "1"/"0", any other control as its text; "name[]": a combo's list, ";"-joined.
std::string state(const ControlSet& set, const std::string& name) {
  const bool list = name.ends_with("[]");
  const Control* c = set.find(list ? name.substr(0, name.size() - 2) : name);
  if (!c) return "?";
  if (list) {
    std::string out;
    for (const auto& item : c->items) out += (out.empty() ? "" : ";") + item;
    return out;
  }
  if (c->kind == ControlKind::check || c->kind == ControlKind::option)
    return c->checked ? "1" : "0";
  return c->text;
}

TEST(ReadInitSel, AppliesEveryValueKind) {
  struct Case {
    const char* name;
    const char* file;      // UTF-8, written as CP932; nullptr = no file
    const char* expected;  // "control=state ...", see state()
  };
  const std::vector<Case> cases = {
      {"no file: built-ins", nullptr,
       "pr_chk(1)=0 kabukamin=30 kabukamax=300 gc_dc_opt(0)=1 rsi1_kikan_cmb[]= "
       "nehaba2_ageritsu2_txt=100"},
      {"only OFF leaves the built-ins", "sel_kabuka_chk,OFF\r\nEOF,0\r\n",
       "pr_chk(1)=0 kabukamin=30 gcdc_txt(1)=25 nehaba3_p_chk=1"},
      {"any value but OFF ticks", "sel_kabuka_chk,on\r\nsel_rsi_chk,1\r\nEOF\r\n",
       "pr_chk(1)=1 pr_chk(10)=1"},
      {"CLEAR, then only positive numbers are listed; the text stays",
       "sel_rsi1_kikan_cmb,9\r\nsel_rsi1_kikan_cmb,CLEAR\r\nsel_rsi1_kikan_cmb,0\r\n"
       "sel_rsi1_kikan_cmb,14\r\nsel_rsi1_kikan_cmb,abc\r\nEOF\r\n",
       "rsi1_kikan_cmb[]=14 rsi1_kikan_cmb="},
      {"the start value sets the combo text, trimmed",
       "sel_yasune1_kikan_cmb,250\r\nsel_yasune1_kikan_cmb,100\r\n"
       "sel_yasune1_kikan_cmb_初期値, 250 \r\n",
       "yasune1_kikan_cmb[]=250;100 yasune1_kikan_cmb=250"},
      {"on/off boxes move only on ON and OFF",
       "sel_nehaba3_p_chk,OFF\r\nsel_nehaba3_p_chk,yes\r\nsel_nehaba3_m_chk,ON\r\n",
       "nehaba3_p_chk=0 nehaba3_m_chk=1"},
      {"an option is selected by ON only", "gc_dc_opt(1),ON\r\ngc_dc_opt(0),yes\r\n",
       "gc_dc_opt(0)=0 gc_dc_opt(1)=1"},
      {"a quoted key with a blank does not match", "\"sel_kabukamin \",77\r\nsel_kabukamax,400\r\n",
       "kabukamin=30 kabukamax=400"},
      {"pairs after EOF are never read", "sel_kabukamin,1\r\nEOF,x\r\nsel_kabukamin,2\r\n",
       "kabukamin=1"},
      {"a file without EOF ends at its last field", "sel_kabukamin,5\r\nsel_kabukamax,6",
       "kabukamin=5 kabukamax=6"},
      {"the last occurrence of a text key wins", "sel_dev1_txt(0),-2\r\nsel_dev1_txt(0),-4\r\n",
       "dev1_txt(0)=-4"},
      {"criteria 4 and 5 have keys of their own",
       "sel_nehaba1_ageritsu1_txt,5\r\nsel_nehaba1_ageritsu2_txt,25\r\nsel_nehaba2_chk,ON\r\n"
       "sel_nehaba2_ageritsu2_txt,95\r\nsel_yasune2_ageritsu1_txt,3\r\n",
       "nehaba1_ageritsu1_txt=5 nehaba1_ageritsu2_txt=25 pr_chk(5)=1 pr_chk(4)=0 "
       "nehaba2_ageritsu2_txt=95 yasune2_ageritsu1_txt=3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    if (c.file) test::write_cp932(dir.path() / "init.txt", c.file);
    ControlSet set = ControlSet::with_builtins();
    read_init_sel(set, dir.file("init.txt"));
    std::istringstream expected(c.expected);
    for (std::string item; expected >> item;) {
      const auto eq = item.find('=');
      EXPECT_EQ(state(set, item.substr(0, eq)), item.substr(eq + 1)) << item;
    }
  }
}

TEST(ReadInitSel, TemplateFillsListsAndStartValues) {
  const auto tmpl = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() /
                    "templates" / "init.txt";
  ControlSet set = ControlSet::with_builtins();
  read_init_sel(set, tmpl.string());
  EXPECT_TRUE(set.enabled(1));
  for (const char* combo : {"yasune1_kikan_cmb", "yasune2_kikan_cmb", "nehaba1_kikan_cmb",
                            "nehaba2_kikan_cmb", "std_dev1_cmb", "rsi1_kikan_cmb"}) {
    EXPECT_FALSE(set.find(combo)->items.empty()) << combo;
    EXPECT_GT(std::stod(set.text(combo)), 0) << combo;
  }
  EXPECT_EQ(set.text("nehaba1_ageritsu2_txt"), "20");
  // The formula rows come as unticked examples; the quotes keep their commas.
  EXPECT_FALSE(set.enabled(41));
  EXPECT_EQ(set.text("shiki_txt(41)"), "C > MA(C,25) AND RSI(14) < 30");
  EXPECT_EQ(set.text("shiki_name_txt(41)"), "押し目");
}

TEST(ApplyControlValue, CommandLineValues) {
  ControlSet set = ControlSet::with_builtins();
  const std::vector<std::tuple<const char*, const char*, bool, const char*>> steps = {
      // control, value, accepted, state afterwards
      {"pr_chk(8)", "1", true, "1"},      {"pr_chk(8)", "off", true, "0"},
      {"pr_chk(8)", "maybe", false, "0"}, {"gc_dc_opt(1)", "ON", true, "1"},
      {"kairi1_cmb(0)", "5", true, "5"},  {"no_such_txt", "5", false, "?"},
  };
  for (const auto& [control, value, accepted, after] : steps) {
    EXPECT_EQ(apply_control_value(set, control, value), accepted) << control << "=" << value;
    EXPECT_EQ(state(set, control), after) << control;
  }
  EXPECT_EQ(state(set, "gc_dc_opt(0)"), "0");
  EXPECT_EQ(object_name_of("pr_chk(12)"), "pr_chk_12");
  EXPECT_EQ(object_name_of("kabukamin"), "kabukamin");
}

}  // namespace
}  // namespace lp::screening
