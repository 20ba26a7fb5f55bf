#include "screening/rankings_window.h"

#include <gtest/gtest.h>

#include "screening/rankings.h"

namespace lp::screening {
namespace {

TEST(RankingPicker, OffersEveryRankingWithTheButtonsOwnFirst) {
  RankingPicker pick;
  EXPECT_EQ(pick.objectName(), "rank_cmb");
  ASSERT_EQ(pick.count(), 12);
  EXPECT_EQ(pick.selected(), "前日比上率ﾄｯﾌﾟ25");
  for (int i = 0; i < pick.count(); ++i) {
    pick.setCurrentIndex(i);
    EXPECT_NE(find_ranking(pick.selected()), nullptr) << i;
  }
  pick.setCurrentIndex(11);
  EXPECT_EQ(pick.selected(), "下髭率ﾄｯﾌﾟ25");
}

}  // namespace
}  // namespace lp::screening
