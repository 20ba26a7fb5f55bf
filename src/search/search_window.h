// The stock search window "m_kensaku_frm": ranks the names of the latest trading day against
// the chart's name box and hands the picked stock to the chart.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "search/search_model.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace lp::gui {

// Where a window of `size` opens beside `anchor` (the chart's name box, in screen
// coordinates): to its right, else to its left, else below it, and always on `screen`.
QPoint place_beside(const QRect& anchor, const QSize& size, const QRect& screen);

class SearchWindow : public QWidget {
  Q_OBJECT

 public:
  explicit SearchWindow(QWidget* parent = nullptr);

  // Runs the search on the chart's name box: what "検索" and the "start" signal do.
  void run_search();
  const std::vector<SearchHit>& hits() const { return hits_; }
  const StockSearch& search() const { return search_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void check_start_flag();
  void pick(int line);
  void set_list_colour(const QColor& colour);

  QPushButton* Command1_ = nullptr;
  QListWidget* List1_ = nullptr;
  QLabel* flg_lb_ = nullptr;
  QLabel* cut_lb_ = nullptr;  // 「上位100件を表示」 when the list was cut
  // The flag label has no change signal; the hand-over is noticed by looking at it often.
  QTimer flag_timer_;

  StockSearch search_;  // one per opening: the table is read at the first search
  std::vector<SearchHit> hits_;
  bool ready_ = true;
  bool opened_ = false;
};

}  // namespace lp::gui
