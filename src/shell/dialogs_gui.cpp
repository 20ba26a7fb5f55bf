#include "shell/dialogs_gui.h"

#include <QPushButton>
#include <memory>

namespace lp::gui {

QMessageBox* make_yes_no_box(QWidget* parent, const QString& title, const QString& question) {
  auto* box =
      new QMessageBox(QMessageBox::Question, title, question, QMessageBox::NoButton, parent);
  box->setObjectName(QStringLiteral("yes_no_box"));
  QPushButton* yes = box->addButton(QStringLiteral("はい"), QMessageBox::YesRole);
  QPushButton* no = box->addButton(QStringLiteral("いいえ"), QMessageBox::NoRole);
  yes->setObjectName(QStringLiteral("yes_button"));
  no->setObjectName(QStringLiteral("no_button"));
  // Deleting is never the answer of a stray Enter or of Esc.
  box->setDefaultButton(no);
  box->setEscapeButton(no);
  return box;
}

bool ask_yes_no(QWidget* parent, const QString& title, const QString& question) {
  std::unique_ptr<QMessageBox> box(make_yes_no_box(parent, title, question));
  box->exec();
  return box->clickedButton() == box->findChild<QPushButton*>(QStringLiteral("yes_button"));
}

void show_warning(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.exec();
}

}  // namespace lp::gui
