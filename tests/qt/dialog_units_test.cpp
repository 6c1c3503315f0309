// Dialog units to pixels, from a font's average character width and height.
#include "user/dialog_units.h"

#include <gtest/gtest.h>

namespace port {
namespace {

TEST(ScaleTest, RoundsHalfUp)
{
    EXPECT_EQ(Scale(5, 1, 2), 3);  // 2.5
    EXPECT_EQ(Scale(7, 1, 4), 2);  // 1.75
    EXPECT_EQ(Scale(5, 1, 4), 1);  // 1.25
    EXPECT_EQ(Scale(0, 7, 4), 0);
    EXPECT_EQ(Scale(2000000000, 3, 4), 1500000000);  // the product needs 64 bits
}

TEST(DialogUnitsTest, BaseUnitsRoundTheAverageWidth)
{
    // 52 letters: 311 / 52 = 5.98, 337 / 52 = 6.48, 338 / 52 = 6.5.
    EXPECT_EQ(BaseUnitsFromMetrics(311, 13).x, 6);
    EXPECT_EQ(BaseUnitsFromMetrics(337, 13).x, 6);
    EXPECT_EQ(BaseUnitsFromMetrics(338, 13).x, 7);
    EXPECT_EQ(BaseUnitsFromMetrics(338, 13).y, 13);
}

TEST(DialogUnitsTest, RectConvertsEachNumberOnItsOwn)
{
    const BaseUnits units{6, 13};
    // 7*6/4 = 10.5, 138*13/8 = 224.25, 14*13/8 = 22.75.
    PixelRect r = DialogRectToPixels(7, 138, 40, 14, units);
    EXPECT_EQ(r.x, 11);
    EXPECT_EQ(r.y, 224);
    EXPECT_EQ(r.width, 60);
    EXPECT_EQ(r.height, 23);
    // A width of 5 at x 7 is 7.5 -> 8 pixels; converting both edges would give 18 - 11 = 7.
    EXPECT_EQ(DialogRectToPixels(7, 0, 5, 0, units).width, 8);
}

}  // namespace
}  // namespace port
