// The program's icon, drawn from the same SVG the desktop menu shows.
#pragma once

#include <QIcon>

namespace lp::gui {

// The icon at the usual window and task-bar sizes; a null icon if the SVG is missing.
QIcon app_icon();

}  // namespace lp::gui
