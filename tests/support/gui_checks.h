// Checks the window tests share: where Tab takes a keyboard user, captions that fit their
// buttons, and pictures of a window saved per device pixel ratio (ctest runs the same tests
// again with QT_SCALE_FACTOR=2).
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QWidget>
#include <cmath>
#include <vector>

namespace lp::test {

// Shows a window and makes it the active one, so it has the keyboard focus.
inline bool show_active(QWidget* window) {
  window->show();
  window->activateWindow();
  return QTest::qWaitForWindowActive(window);
}

// The widgets Tab visits from `start` on, in order, until the focus comes back to `start`.
inline std::vector<QWidget*> tab_cycle(QWidget* start, int limit = 500) {
  start->setFocus(Qt::TabFocusReason);
  std::vector<QWidget*> out{start};
  for (int i = 0; i < limit; ++i) {
    QWidget* now = QApplication::focusWidget();
    if (!now) break;
    QTest::keyClick(now, Qt::Key_Tab);
    QWidget* next = QApplication::focusWidget();
    if (!next || next == start) break;
    out.push_back(next);
  }
  return out;
}

// The object names of the widgets of `cycle` that are of type T.
template <class T>
QStringList names_of(const std::vector<QWidget*>& cycle) {
  QStringList out;
  for (QWidget* w : cycle) {
    if (qobject_cast<T*>(w)) out << w->objectName();
  }
  return out;
}

// The visible buttons (push, check and option buttons) of `window` whose caption is wider than
// the room their style gives it: a caption the user would see cut off.
inline QStringList clipped_captions(QWidget* window) {
  QStringList out;
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
    if (!b->isVisible() || b->text().isEmpty()) continue;
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    QStyle::SubElement room = QStyle::SE_PushButtonContents;
    if (auto* p = qobject_cast<QPushButton*>(b)) {
      if (p->autoDefault()) opt.features |= QStyleOptionButton::AutoDefaultButton;
      if (p->isDefault()) opt.features |= QStyleOptionButton::DefaultButton;
    } else if (qobject_cast<QCheckBox*>(b)) {
      room = QStyle::SE_CheckBoxContents;
    } else if (qobject_cast<QRadioButton*>(b)) {
      room = QStyle::SE_RadioButtonContents;
    }
    const int width = b->style()->subElementRect(room, &opt, b).width();
    const int text = b->fontMetrics().horizontalAdvance(b->text());
    if (text > width) {
      out << QStringLiteral("%1 「%2」 %3px in %4px")
                 .arg(b->objectName(), b->text())
                 .arg(text)
                 .arg(width);
    }
  }
  return out;
}

// Saves what the user sees of `window` next to the test program as NAME@Nx.png, N being the
// device pixel ratio the window is drawn at. Returns the ratio.
inline qreal save_snapshot(QWidget* window, const QString& name) {
  const qreal ratio = window->devicePixelRatioF();
  const QPixmap picture = window->grab();
  picture.save(QStringLiteral("%1/%2@%3x.png")
                   .arg(QCoreApplication::applicationDirPath(), name)
                   .arg(std::lround(ratio)));
  return ratio;
}

// The device pixel ratio the run asked for with QT_SCALE_FACTOR (1 without it).
inline qreal requested_scale() {
  const QByteArray env = qgetenv("QT_SCALE_FACTOR");
  bool ok = false;
  const double v = env.toDouble(&ok);
  return ok && v > 0 ? v : 1.0;
}

}  // namespace lp::test
