// Qt's own texts (file dialogs, standard buttons, the line edit's menu) in Japanese, as the
// rest of the program speaks.
#pragma once

class QCoreApplication;
class QTranslator;

namespace lp::gui {

// Loads Qt's Japanese catalogue ("qtbase_ja" from Qt's translations folder) into `app`. The
// program speaks only Japanese, so it is loaded whatever the desktop's locale. Without the
// catalogue (the Debian package qt6-translations-l10n) Qt's texts stay in English. Returns the
// installed translator (owned by `app`), nullptr when there was none.
QTranslator* install_qt_translations(QCoreApplication& app);

}  // namespace lp::gui
