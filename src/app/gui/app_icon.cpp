#include "app/gui/app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace lp::gui {

QIcon app_icon() {
  // Rendered here rather than through Qt's SVG image plug-in, which a package's computed
  // dependencies would not see.
  QSvgRenderer svg(QStringLiteral(":/icons/lumenpick.svg"));
  if (!svg.isValid()) return {};
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    QPainter painter(&pix);
    svg.render(&painter);
    painter.end();
    icon.addPixmap(pix);
  }
  return icon;
}

}  // namespace lp::gui
