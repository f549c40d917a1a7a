// Setting a caption on its face: the lines, the size they fit in, where they
// stand, and that the choice is made once per caption and face.
#include <gtest/gtest.h>

#include "captions/caption_fit.h"
#include "window/control_states.h"

namespace vimbrel {
namespace {

// A font whose ASCII characters are half as wide as its size and every other
// character as wide; a line is two pixels taller than the size, and lines
// stand a pixel further apart.
class FakeFont final : public CaptionMeasure {
public:
    int measured = 0;
    LineMetrics Metrics(int px) override {
        ++measured;
        return {px + 2, px + 3, 1};
    }
    int Width(std::u16string_view line, int px) override {
        ++measured;
        int width = 0;
        for (char16_t c : line) width += c < 0x80 ? px / 2 : px;
        return width;
    }
};

TEST(CaptionFit, SplitsAtTheLineFeedOrInTheMiddleOfALineTooWide) {
    FakeFont font;
    CaptionFitter fitter;
    const CaptionFit two = fitter.Fit(u"&&\n\uFF17", {40, 60, 12}, font);
    EXPECT_EQ(two.count, 2);
    EXPECT_EQ(two.lines[0], u"&");  // "&&" shows one "&"
    EXPECT_EQ(two.lines[1], u"\uFF17");
    const CaptionFit broken = fitter.Fit(u"快照需求", {40, 60, 12}, font);  // 48 wide
    EXPECT_EQ(broken.count, 2);
    EXPECT_EQ(broken.lines[0], u"快照");
    EXPECT_EQ(broken.lines[1], u"需求");
    const CaptionFit one = fitter.Fit(u"F12", {40, 60, 12}, font);
    EXPECT_EQ(one.count, 1);
    EXPECT_EQ(one.lines[0], u"F12");
    EXPECT_EQ(one.px, 12);
    // Centred: (60 - (1 clear + 14 high + 1 below)) / 2, then the clear pixel.
    EXPECT_EQ(one.top, 23);
}

TEST(CaptionFit, TwoLinesTakeTheLargestSizeThatFitsDownToHalfTheKeysSize) {
    FakeFont font;
    CaptionFitter fitter;
    // 1 + pitch + height + 1 <= 23 first at size 8: 1 + 11 + 10 + 1.
    EXPECT_EQ(fitter.Fit(u"A\n\uFF41", {40, 23, 12}, font).px, 8);
    // As wide as the face at 10 when the height allows 12.
    EXPECT_EQ(fitter.Fit(u"\uFF21\uFF21\uFF21\uFF21\na", {40, 60, 12}, font).px, 10);
    // Nothing fits: half the keys' size, not less.
    EXPECT_EQ(fitter.Fit(u"A\n\uFF41", {40, 5, 12}, font).px, 6);
    // Two lines that fit stay in the keys' size.
    EXPECT_EQ(fitter.Fit(u"A\n\uFF41", {40, 60, 12}, font).px, 12);
}

// GTK used to search the sizes again at every paint.
TEST(CaptionFit, IsDecidedOncePerCaptionAndFace) {
    FakeFont font;
    ControlStates states;
    const KeyRef a{Control::SKB, 'A'};
    const auto row = static_cast<std::size_t>(KeyRow(a));
    states.SetCaption(a, u"A\n\uFF41");
    const CaptionBox face{28, 23, 12};
    EXPECT_EQ(states.Fit(row, face, font).px, 8);
    font.measured = 0;
    states.Fit(row, face, font);
    EXPECT_EQ(font.measured, 0);
    // A new caption of the same two-line shape measures its widths, not the heights again.
    states.SetCaption(a, u"\uFF21\na");
    EXPECT_EQ(states.Fit(row, face, font).lines[0], u"\uFF21");
    EXPECT_EQ(font.measured, 2 + 1);  // two widths at 8, the metrics of 8
    EXPECT_EQ(states.Fit(row, {28, 60, 12}, font).px, 12);  // another face: fitted anew
}

}  // namespace
}  // namespace vimbrel
