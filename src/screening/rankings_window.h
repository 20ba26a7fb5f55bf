// The ranking choice that sits beside the ranking button Option1(21) of the screening window.
#pragma once

#include <QComboBox>
#include <string>

namespace lp::screening {

// "rank_cmb": the twelve top-25 rankings, "前日比上率ﾄｯﾌﾟ25" first and selected. The list is
// fixed, so the box is not editable.
class RankingPicker : public QComboBox {
  Q_OBJECT

 public:
  explicit RankingPicker(QWidget* parent = nullptr);
  // The name of the selected ranking (UTF-8).
  std::string selected() const;
};

}  // namespace lp::screening
