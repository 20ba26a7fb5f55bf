#include "screening/preferences.h"

#include <algorithm>

#include "common/encoding.h"
#include "common/keyvalue.h"
#include "common/numbers.h"

namespace lp::screening {

const std::vector<PrefKey>& screening_pref_keys() {
  using K = PrefKind;
  // The four keys of criteria 4 and 5 that had none ("sel_nehaba1_ageritsu1_txt",
  // "sel_nehaba1_ageritsu2_txt", "sel_nehaba2_chk", "sel_nehaba2_ageritsu2_txt") sit where
  // their controls belong.
  static const std::vector<PrefKey> keys = {
      {"sel_kabuka_chk", K::enable_box, "pr_chk(1)"},
      {"sel_kabukamin", K::text, "kabukamin"},
      {"sel_kabukamax", K::text, "kabukamax"},
      {"sel_yasune1_chk", K::enable_box, "pr_chk(2)"},
      {"sel_yasune1_kikan_cmb", K::list, "yasune1_kikan_cmb"},
      {"sel_yasune1_kikan_cmb_初期値", K::list_start, "yasune1_kikan_cmb"},
      {"sel_yasune1_kikan_txt", K::text, "yasune1_kikan_txt"},
      {"sel_yasune2_chk", K::enable_box, "pr_chk(3)"},
      {"sel_yasune2_kikan_cmb", K::list, "yasune2_kikan_cmb"},
      {"sel_yasune2_kikan_cmb_初期値", K::list_start, "yasune2_kikan_cmb"},
      {"sel_yasune2_ageritsu1_txt", K::text, "yasune2_ageritsu1_txt"},
      {"sel_yasune2_ageritsu2_txt", K::text, "yasune2_ageritsu2_txt"},
      {"sel_nehaba1_chk", K::enable_box, "pr_chk(4)"},
      {"sel_nehaba1_kikan_cmb", K::list, "nehaba1_kikan_cmb"},
      {"sel_nehaba1_kikan_cmb_初期値", K::list_start, "nehaba1_kikan_cmb"},
      {"sel_nehaba1_ageritsu1_txt", K::text, "nehaba1_ageritsu1_txt"},
      {"sel_nehaba1_ageritsu2_txt", K::text, "nehaba1_ageritsu2_txt"},
      {"sel_nehaba2_chk", K::enable_box, "pr_chk(5)"},
      {"sel_nehaba2_kikan_cmb", K::list, "nehaba2_kikan_cmb"},
      {"sel_nehaba2_kikan_cmb_初期値", K::list_start, "nehaba2_kikan_cmb"},
      {"sel_nehaba2_ageritsu1_txt", K::text, "nehaba2_ageritsu1_txt"},
      {"sel_nehaba2_ageritsu2_txt", K::text, "nehaba2_ageritsu2_txt"},
      {"sel_nehaba3_chk", K::enable_box, "pr_chk(6)"},
      {"sel_nehaba3_kikan_txt", K::text, "nehaba3_kikan_txt"},
      {"sel_nehaba3_nehabaritsu1_txt", K::text, "nehaba3_nehabaritsu1_txt"},
      {"sel_nehaba3_nehabaritsu2_txt", K::text, "nehaba3_nehabaritsu2_txt"},
      {"sel_nehaba3_p_chk", K::on_off, "nehaba3_p_chk"},
      {"sel_nehaba3_m_chk", K::on_off, "nehaba3_m_chk"},
      {"sel_zenjituhi1_chk", K::enable_box, "pr_chk(7)"},
      {"sel_zenjituhi1_txt(0)", K::text, "zenjituhi1_txt(0)"},
      {"sel_zenjituhi1_txt(1)", K::text, "zenjituhi1_txt(1)"},
      {"sel_gcdc_chk", K::enable_box, "pr_chk(8)"},
      {"sel_gcdc_txt(0)", K::text, "gcdc_txt(0)"},
      {"sel_gcdc_txt(1)", K::text, "gcdc_txt(1)"},
      {"sel_gcdc_txt(2)", K::text, "gcdc_txt(2)"},
      {"gc_dc_opt(0)", K::option, "gc_dc_opt(0)"},
      {"gc_dc_opt(1)", K::option, "gc_dc_opt(1)"},
      {"sel_std_dev1_chk", K::enable_box, "pr_chk(9)"},
      {"sel_std_dev1_cmb", K::list, "std_dev1_cmb"},
      {"sel_std_dev1_cmb_初期値", K::list_start, "std_dev1_cmb"},
      {"sel_dev1_txt(0)", K::text, "dev1_txt(0)"},
      {"sel_dev1_txt(1)", K::text, "dev1_txt(1)"},
      {"sel_rsi_chk", K::enable_box, "pr_chk(10)"},
      {"sel_rsi1_kikan_cmb", K::list, "rsi1_kikan_cmb"},
      {"sel_rsi1_kikan_cmb_初期値", K::list_start, "rsi1_kikan_cmb"},
      {"sel_rsi1_min_txt", K::text, "rsi1_min_txt"},
      {"sel_rsi1_max_txt", K::text, "rsi1_max_txt"},
      // Formula rows: a formula holds commas, so its value is written in double quotes.
      {"sel_shiki_chk(41)", K::enable_box, "pr_chk(41)"},
      {"sel_shiki_name_txt(41)", K::text, "shiki_name_txt(41)"},
      {"sel_shiki_txt(41)", K::text, "shiki_txt(41)"},
      {"sel_shiki_hyouji_txt(41)", K::text, "shiki_hyouji_txt(41)"},
      {"sel_shiki_chk(42)", K::enable_box, "pr_chk(42)"},
      {"sel_shiki_name_txt(42)", K::text, "shiki_name_txt(42)"},
      {"sel_shiki_txt(42)", K::text, "shiki_txt(42)"},
      {"sel_shiki_hyouji_txt(42)", K::text, "shiki_hyouji_txt(42)"},
      {"sel_shiki_chk(43)", K::enable_box, "pr_chk(43)"},
      {"sel_shiki_name_txt(43)", K::text, "shiki_name_txt(43)"},
      {"sel_shiki_txt(43)", K::text, "shiki_txt(43)"},
      {"sel_shiki_hyouji_txt(43)", K::text, "shiki_hyouji_txt(43)"},
      {"sel_shiki_chk(44)", K::enable_box, "pr_chk(44)"},
      {"sel_shiki_name_txt(44)", K::text, "shiki_name_txt(44)"},
      {"sel_shiki_txt(44)", K::text, "shiki_txt(44)"},
      {"sel_shiki_hyouji_txt(44)", K::text, "shiki_hyouji_txt(44)"},
      {"sel_shiki_chk(45)", K::enable_box, "pr_chk(45)"},
      {"sel_shiki_name_txt(45)", K::text, "shiki_name_txt(45)"},
      {"sel_shiki_txt(45)", K::text, "shiki_txt(45)"},
      {"sel_shiki_hyouji_txt(45)", K::text, "shiki_hyouji_txt(45)"},
  };
  return keys;
}

bool apply_pref(ControlSet& controls, const std::string& key, const std::string& raw_value) {
  const auto& keys = screening_pref_keys();
  auto it = std::find_if(keys.begin(), keys.end(), [&](const PrefKey& k) { return key == k.key; });
  if (it == keys.end()) return false;
  Control* c = controls.find(it->control);
  if (!c) return true;
  const std::string value = trim_blanks(raw_value);
  switch (it->kind) {
    case PrefKind::enable_box:
      c->checked = value != "OFF";
      break;
    case PrefKind::text:
    case PrefKind::list_start:
      c->text = value;
      break;
    case PrefKind::list:
      if (value == "CLEAR") {
        c->items.clear();
      } else if (parse_number(value) > 0) {
        c->items.push_back(value);
      }
      break;
    case PrefKind::on_off:
      if (value == "ON") c->checked = true;
      if (value == "OFF") c->checked = false;
      break;
    case PrefKind::option:
      if (value == "ON") controls.select_option(it->control);
      break;
  }
  return true;
}

void read_init_sel(ControlSet& controls, const std::string& path, const YieldFn& yield) {
  read_key_values(path, [&](const std::string& key, const std::string& value) {
    apply_pref(controls, key, value);
    yield_now(yield);
  });
}

}  // namespace lp::screening
