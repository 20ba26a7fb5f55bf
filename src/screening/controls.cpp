#include "screening/controls.h"

#include <algorithm>

namespace lp::screening {

namespace {

const std::string kEmpty;

Control check(std::string name, bool on = false) {
  Control c;
  c.name = std::move(name);
  c.kind = ControlKind::check;
  c.checked = on;
  return c;
}

Control text_box(std::string name, std::string value) {
  Control c;
  c.name = std::move(name);
  c.kind = ControlKind::text;
  c.text = std::move(value);
  return c;
}

Control combo(std::string name, std::string value = {}) {
  Control c;
  c.name = std::move(name);
  c.kind = ControlKind::combo;
  c.text = std::move(value);
  return c;
}

Control option(std::string name, std::string group, bool on) {
  Control c;
  c.name = std::move(name);
  c.kind = ControlKind::option;
  c.group = std::move(group);
  c.checked = on;
  return c;
}

std::string upper_ascii(std::string_view s) {
  std::string out(s);
  for (char& ch : out) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return out;
}

}  // namespace

std::string indexed(std::string_view name, int index) {
  return std::string(name) + "(" + std::to_string(index) + ")";
}

std::string object_name_of(std::string_view control_name) {
  std::string out(control_name);
  auto open = out.find('(');
  if (open == std::string::npos) return out;
  auto close = out.find(')', open);
  std::string index =
      out.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
  return out.substr(0, open) + "_" + index;
}

ControlSet ControlSet::with_builtins() {
  ControlSet set;
  for (int n = 1; n <= 40; ++n) set.add(check(indexed("pr_chk", n)));
  // Market boxes: every segment ticked when the window opens.
  for (int i = 0; i <= 6; ++i) set.add(check(indexed("shijyou_chk", i), true));

  // Page 1.
  set.add(text_box("kabukamin", "30"));
  set.add(text_box("kabukamax", "300"));
  set.add(combo("yasune1_kikan_cmb"));
  set.add(text_box("yasune1_kikan_txt", "10"));
  set.add(combo("yasune2_kikan_cmb"));
  set.add(text_box("yasune2_ageritsu1_txt", "0"));
  set.add(text_box("yasune2_ageritsu2_txt", "10"));
  set.add(combo("nehaba1_kikan_cmb"));
  set.add(text_box("nehaba1_ageritsu1_txt", "0"));
  set.add(text_box("nehaba1_ageritsu2_txt", "20"));
  set.add(combo("nehaba2_kikan_cmb"));
  set.add(text_box("nehaba2_ageritsu1_txt", "80"));
  set.add(text_box("nehaba2_ageritsu2_txt", "100"));
  set.add(text_box("nehaba3_kikan_txt", "250"));
  set.add(text_box("nehaba3_nehabaritsu1_txt", "50"));
  set.add(text_box("nehaba3_nehabaritsu2_txt", "1000"));
  set.add(check("nehaba3_p_chk", true));
  set.add(check("nehaba3_m_chk", false));
  set.add(text_box(indexed("zenjituhi1_txt", 0), "5"));
  set.add(text_box(indexed("zenjituhi1_txt", 1), "150"));
  set.add(text_box(indexed("gcdc_txt", 0), "10"));
  set.add(text_box(indexed("gcdc_txt", 1), "25"));
  set.add(text_box(indexed("gcdc_txt", 2), "50"));
  set.add(option(indexed("gc_dc_opt", 0), "gc_dc_opt", true));
  set.add(option(indexed("gc_dc_opt", 1), "gc_dc_opt", false));
  set.add(combo("std_dev1_cmb"));
  set.add(text_box(indexed("dev1_txt", 0), "-5"));
  set.add(text_box(indexed("dev1_txt", 1), "-3"));
  set.add(combo("rsi1_kikan_cmb"));
  set.add(text_box("rsi1_min_txt", "0"));
  set.add(text_box("rsi1_max_txt", "25"));

  // Page 2.
  set.add(text_box("semi1_kikan_txt", "20"));
  set.add(text_box("semi1_min_txt", "18"));
  set.add(text_box("semi1_max_txt", "200"));
  set.add(option("k1_opt", "semi1", true));
  set.add(option("u1_opt", "semi1", false));
  set.add(combo("kairi3_cmb", "25"));
  set.add(text_box("kairi3_min_txt", "10"));
  set.add(text_box("kairi3_max_txt", "150"));
  set.add(text_box(indexed("kairi2_txt", 0), "65"));
  set.add(text_box(indexed("kairi2_txt", 1), "260"));
  set.add(text_box(indexed("kairi2_txt", 2), "10"));

  // Page 4.
  set.add(combo(indexed("kairi1_cmb", 0)));
  set.add(combo(indexed("kairi1_cmb", 1)));

  // The formula page: rows 41-45, each a tick box, a name, a formula and a shown formula.
  for (int n = 41; n <= 45; ++n) {
    set.add(check(indexed("pr_chk", n)));
    set.add(text_box(indexed("shiki_name_txt", n), ""));
    set.add(text_box(indexed("shiki_txt", n), ""));
    set.add(text_box(indexed("shiki_hyouji_txt", n), ""));
  }
  // The 「指標」 page: min-max boxes of nine figures, run as row 46, and the 業種
  // choice (33-industry codes) that narrows the stocks like the market boxes.
  set.add(check(indexed("pr_chk", 46)));
  for (int i = 1; i <= 9; ++i) {
    set.add(text_box(indexed("shihyou_min_txt", i), ""));
    set.add(text_box(indexed("shihyou_max_txt", i), ""));
  }
  set.add(text_box("gyoushu_txt", ""));
  return set;
}

void ControlSet::add(Control control) {
  controls_.push_back(std::move(control));
}

Control* ControlSet::find(std::string_view name) {
  for (auto& c : controls_) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

const Control* ControlSet::find(std::string_view name) const {
  for (const auto& c : controls_) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

const std::string& ControlSet::text(std::string_view name) const {
  const Control* c = find(name);
  return c ? c->text : kEmpty;
}

void ControlSet::set_text(std::string_view name, std::string_view value) {
  if (Control* c = find(name)) c->text = std::string(value);
}

bool ControlSet::checked(std::string_view name) const {
  const Control* c = find(name);
  return c && c->checked;
}

void ControlSet::set_checked(std::string_view name, bool on) {
  if (Control* c = find(name)) c->checked = on;
}

void ControlSet::select_option(std::string_view name) {
  Control* target = find(name);
  if (!target) return;
  if (!target->group.empty()) {
    for (auto& c : controls_) {
      if (c.kind == ControlKind::option && c.group == target->group) c.checked = false;
    }
  }
  target->checked = true;
}

bool apply_control_value(ControlSet& set, std::string_view name, std::string_view value) {
  Control* c = set.find(name);
  if (!c) return false;
  const std::string v = upper_ascii(value);
  switch (c->kind) {
    case ControlKind::check:
      if (v == "1" || v == "ON") {
        c->checked = true;
      } else if (v == "0" || v == "OFF") {
        c->checked = false;
      } else {
        return false;
      }
      return true;
    case ControlKind::option:
      if (v == "1" || v == "ON") {
        set.select_option(name);
        return true;
      }
      return v == "0" || v == "OFF";
    case ControlKind::text:
    case ControlKind::combo:
      c->text = std::string(value);
      return true;
  }
  return false;
}

}  // namespace lp::screening
