// Message boxes of the program in Japanese: Qt's standard buttons would read Yes/No unless a
// translation happened to be installed.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>

namespace lp::gui {

// A question with the buttons 「はい」 and 「いいえ」 (the default, and what Esc answers), not
// yet shown.
QMessageBox* make_yes_no_box(QWidget* parent, const QString& title, const QString& question);
// Shows the question and waits: true for 「はい」.
bool ask_yes_no(QWidget* parent, const QString& title, const QString& question);

// A warning with one 「OK」 button, shown and waited for.
void show_warning(QWidget* parent, const QString& title, const QString& text);

}  // namespace lp::gui
