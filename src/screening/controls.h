// The screening window's controls as plain data: what the criteria read and write back, what
// "init.txt" and the command line set. The window mirrors its widgets to and from this set.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lp::screening {

enum class ControlKind { check, text, combo, option };

struct Control {
  std::string name;  // the control's name, an indexed control as "pr_chk(8)"
  ControlKind kind = ControlKind::text;
  std::string text;                // text box / combo box text
  bool checked = false;            // check box ticked / option button selected
  std::vector<std::string> items;  // combo box list
  std::string group;               // option buttons of one group exclude each other
};

// "name(i)": the key of an indexed control.
std::string indexed(std::string_view name, int index);
// The widget objectName of a control: "pr_chk(8)" -> "pr_chk_8".
std::string object_name_of(std::string_view control_name);

class ControlSet {
 public:
  // Every control of the window at its built-in text or state.
  static ControlSet with_builtins();

  Control* find(std::string_view name);
  const Control* find(std::string_view name) const;

  // Text of a text or combo box; "" when there is no such control.
  const std::string& text(std::string_view name) const;
  void set_text(std::string_view name, std::string_view text);
  bool checked(std::string_view name) const;
  void set_checked(std::string_view name, bool on);
  // Selects an option button and clears the others of its group.
  void select_option(std::string_view name);

  // pr_chk(n) ticked.
  bool enabled(int criterion) const { return checked(indexed("pr_chk", criterion)); }

  const std::vector<Control>& all() const { return controls_; }
  std::vector<Control>& all() { return controls_; }

  void add(Control control);

 private:
  std::vector<Control> controls_;
};

// Applies one textual value to a control the way the command line does: a check box takes
// 1/0 or ON/OFF, an option button is selected by ON (1), any other control takes the text.
// False when there is no control of that name or the value does not suit a box.
bool apply_control_value(ControlSet& set, std::string_view name, std::string_view value);

}  // namespace lp::screening
