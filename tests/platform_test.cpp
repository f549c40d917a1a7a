// Twips at real DPIs and handle ownership.
#include <gtest/gtest.h>

#include "layout/key_table.h"
#include "layout/twips.h"
#include "platform/unique_handle.h"

namespace vimbrel {
namespace {

TEST(Twips, ConvertAtCommonDpis) {
    EXPECT_EQ(TwipsToPixels(1440, 96), 96);
    EXPECT_EQ(TwipsToPixels(11040, 96), 736);
    EXPECT_EQ(TwipsToPixels(11040, 120), 920);
    EXPECT_EQ(TwipsToPixels(11040, 144), 1104);
    EXPECT_EQ(TwipsToPixels(2640, 144), 264);
    EXPECT_EQ(TwipsToPixels(450, 96), 30);
    EXPECT_EQ(TwipsToPixels(-450, 96), -30);  // a placement left of the screen
    EXPECT_EQ(TwipsToPixels(7.5, 96), 1);     // half a pixel rounds away from zero
    EXPECT_EQ(TwipsToPixels(-7.5, 96), -1);
}

// Keys that touch in twips touch in pixels, at every DPI, because edges are converted.
TEST(Twips, NeighbouringKeysTouchWithoutGapOrOverlap) {
    for (int dpi : {96, 120, 144, 168, 192}) {
        for (const KeyDef& a : kKeys)
            for (const KeyDef& b : kKeys) {
                if (a.top != b.top || a.left + a.width != b.left) continue;
                SCOPED_TRACE(testing::Message() << dpi << " dpi, key " << a.key.index << " then " << b.key.index);
                EXPECT_EQ(ToPixels(a.left, a.top, a.width, a.height, dpi).right,
                          ToPixels(b.left, b.top, b.width, b.height, dpi).left);
            }
        const PixelRect lastRow = ToPixels(0, 2232, 720, 408, dpi);
        EXPECT_EQ(lastRow.bottom, TwipsToPixels(kClientHeight, dpi));
    }
}

int closed = 0;
void CountClose(int) { ++closed; }
using Counted = UniqueHandle<int, CountClose>;

TEST(UniqueHandle, ClosesExactlyOnceAlsoAfterMoves) {
    closed = 0;
    {
        Counted a(7);
        Counted b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), 7);
        Counted c(9);
        c = std::move(b);  // closes 9
        EXPECT_EQ(closed, 1);
        c = std::move(c);
        EXPECT_EQ(c.get(), 7);
        EXPECT_EQ(c.release(), 7);
        c.reset(3);
    }
    EXPECT_EQ(closed, 2);  // 9, then 3; 7 was released
}

}  // namespace
}  // namespace vimbrel
