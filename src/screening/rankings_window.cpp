#include "screening/rankings_window.h"

#include "screening/rankings.h"

namespace lp::screening {

RankingPicker::RankingPicker(QWidget* parent) : QComboBox(parent) {
  setObjectName("rank_cmb");
  setEditable(false);
  for (const RankingDef& def : ranking_defs()) addItem(QString::fromStdString(def.name));
  setCurrentIndex(0);
  setSizeAdjustPolicy(QComboBox::AdjustToContents);
  setToolTip(QStringLiteral("ランキングボタンで表示するランキング"));
}

std::string RankingPicker::selected() const {
  const std::string name = currentText().toStdString();
  return find_ranking(name) ? name : ranking_defs().front().name;
}

}  // namespace lp::screening
