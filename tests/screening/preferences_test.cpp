#include "screening/preferences.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/fixtures.h"

namespace lp::screening {
namespace {

struct PrefCase {
  const char* name;
  const char* file;                                        // UTF-8, written as CP932
  std::vector<std::pair<std::string, std::string>> texts;  // control -> expected text
  std::vector<std::pair<std::string, bool>> checks;        // control -> expected state
  std::vector<std::pair<std::string, std::vector<std::string>>> lists;
};

TEST(ReadInitSel, AppliesEveryValueKind) {
  const std::vector<PrefCase> cases = {
      {"only OFF leaves the built-ins",
       "sel_kabuka_chk,OFF\r\nEOF,0\r\n",
       {{"kabukamin", "30"}, {"kabukamax", "300"}, {"gcdc_txt(1)", "25"}},
       {{"pr_chk(1)", false}, {"nehaba3_p_chk", true}},
       {{"rsi1_kikan_cmb", {}}}},
      {"any value but OFF ticks",
       "sel_kabuka_chk,on\r\nsel_rsi_chk,1\r\nEOF\r\n",
       {},
       {{"pr_chk(1)", true}, {"pr_chk(10)", true}},
       {}},
      {"CLEAR then only positive numbers are listed",
       "sel_rsi1_kikan_cmb,9\r\nsel_rsi1_kikan_cmb,CLEAR\r\nsel_rsi1_kikan_cmb,0\r\n"
       "sel_rsi1_kikan_cmb,14\r\nsel_rsi1_kikan_cmb,abc\r\nEOF\r\n",
       {{"rsi1_kikan_cmb", ""}},
       {},
       {{"rsi1_kikan_cmb", {"14"}}}},
      {"the start value sets the combo text",
       "sel_yasune1_kikan_cmb,250\r\nsel_yasune1_kikan_cmb,100\r\n"
       "sel_yasune1_kikan_cmb_初期値, 250 \r\n",
       {{"yasune1_kikan_cmb", "250"}},
       {},
       {{"yasune1_kikan_cmb", {"250", "100"}}}},
      {"on/off boxes move only on ON and OFF",
       "sel_nehaba3_p_chk,OFF\r\nsel_nehaba3_p_chk,yes\r\nsel_nehaba3_m_chk,ON\r\n",
       {},
       {{"nehaba3_p_chk", false}, {"nehaba3_m_chk", true}},
       {}},
      {"an option is selected by ON only",
       "gc_dc_opt(1),ON\r\ngc_dc_opt(0),yes\r\n",
       {},
       {{"gc_dc_opt(0)", false}, {"gc_dc_opt(1)", true}},
       {}},
      {"a quoted key with a blank does not match",
       "\"sel_kabukamin \",77\r\nsel_kabukamax,400\r\n",
       {{"kabukamin", "30"}, {"kabukamax", "400"}},
       {},
       {}},
      {"pairs after EOF are never read",
       "sel_kabukamin,1\r\nEOF,x\r\nsel_kabukamin,2\r\n",
       {{"kabukamin", "1"}},
       {},
       {}},
      {"a file without EOF ends at its last field",
       "sel_kabukamin,5\r\nsel_kabukamax,6",
       {{"kabukamin", "5"}, {"kabukamax", "6"}},
       {},
       {}},
      {"the last occurrence of a text key wins",
       "sel_dev1_txt(0),-2\r\nsel_dev1_txt(0),-4\r\n",
       {{"dev1_txt(0)", "-4"}},
       {},
       {}},
      {"criteria 4 and 5 have keys of their own",
       "sel_nehaba1_ageritsu1_txt,5\r\nsel_nehaba1_ageritsu2_txt,25\r\nsel_nehaba2_chk,ON\r\n"
       "sel_nehaba2_ageritsu2_txt,95\r\nsel_yasune2_ageritsu1_txt,3\r\n",
       {{"nehaba1_ageritsu1_txt", "5"},
        {"nehaba1_ageritsu2_txt", "25"},
        {"nehaba2_ageritsu2_txt", "95"},
        {"yasune2_ageritsu1_txt", "3"}},
       {{"pr_chk(5)", true}, {"pr_chk(4)", false}},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    test::write_cp932(dir.path() / "init.txt", c.file);
    ControlSet set = ControlSet::with_builtins();
    read_init_sel(set, dir.file("init.txt"));
    for (const auto& [control, text] : c.texts) EXPECT_EQ(set.text(control), text) << control;
    for (const auto& [control, on] : c.checks) EXPECT_EQ(set.checked(control), on) << control;
    for (const auto& [control, items] : c.lists) EXPECT_EQ(set.find(control)->items, items);
  }
}

TEST(ReadInitSel, MissingFileKeepsBuiltIns) {
  ControlSet set = ControlSet::with_builtins();
  read_init_sel(set, "/nonexistent/init.txt");
  const ControlSet builtins = ControlSet::with_builtins();
  ASSERT_EQ(set.all().size(), builtins.all().size());
  for (std::size_t i = 0; i < set.all().size(); ++i) {
    EXPECT_EQ(set.all()[i].text, builtins.all()[i].text);
    EXPECT_EQ(set.all()[i].checked, builtins.all()[i].checked);
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
}

TEST(ApplyControlValue, CommandLineValues) {
  ControlSet set = ControlSet::with_builtins();
  EXPECT_TRUE(apply_control_value(set, "pr_chk(8)", "1"));
  EXPECT_TRUE(set.enabled(8));
  EXPECT_TRUE(apply_control_value(set, "pr_chk(8)", "off"));
  EXPECT_FALSE(set.enabled(8));
  EXPECT_FALSE(apply_control_value(set, "pr_chk(8)", "maybe"));
  EXPECT_TRUE(apply_control_value(set, "gc_dc_opt(1)", "ON"));
  EXPECT_FALSE(set.checked("gc_dc_opt(0)"));
  EXPECT_TRUE(apply_control_value(set, "kairi1_cmb(0)", "5"));
  EXPECT_EQ(set.text("kairi1_cmb(0)"), "5");
  EXPECT_FALSE(apply_control_value(set, "no_such_txt", "5"));
  EXPECT_EQ(object_name_of("pr_chk(12)"), "pr_chk_12");
  EXPECT_EQ(object_name_of("kabukamin"), "kabukamin");
}

}  // namespace
}  // namespace lp::screening
