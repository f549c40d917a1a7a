// Checks the committed .ico files byte by byte, with a reader of its own, and
// the generator's encoder against that reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "assets/finger_hot_spots.h"
#include "assets/generator/icon_art.h"

namespace {

constexpr int kN = 32;
constexpr std::size_t kFileSize = 2238;

std::vector<std::uint8_t> ReadAsset(const std::string& name) {
    std::ifstream in(std::string(VIMBREL_ASSETS_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned U16(const std::vector<std::uint8_t>& b, std::size_t at) { return b[at] | b[at + 1] << 8; }
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return U16(b, at) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}

struct Pixel {
    bool clear;  // mask bit set
    std::uint8_t r, g, b;
};

// Pixels by [row from the top][column]. The layout is fixed: 22-byte header,
// 40-byte BITMAPINFOHEADER, 256 RGBQUADs, colour rows and mask rows bottom-up.
struct Image {
    std::array<std::array<Pixel, kN>, kN> px{};
    const Pixel& At(int x, int y) const { return px[y][x]; }
};

Image Decode(const std::vector<std::uint8_t>& bytes) {
    Image image;
    if (bytes.size() != kFileSize) {
        ADD_FAILURE() << "file has " << bytes.size() << " bytes";
        return image;
    }
    const std::size_t palette = 22 + 40, colours = palette + 4 * 256, mask = colours + kN * kN;
    for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x) {
            const int row = kN - 1 - y;
            const std::uint8_t index = bytes[colours + row * kN + x];
            const std::uint8_t maskByte = bytes[mask + row * 4 + x / 8];
            const std::size_t entry = palette + 4 * index;
            image.px[y][x] = {(maskByte & (0x80 >> (x % 8))) != 0, bytes[entry + 2], bytes[entry + 1],
                              bytes[entry]};
        }
    return image;
}

Image Load(const std::string& name) { return Decode(ReadAsset(name)); }

enum class Look { Clear, White, Black, Red, Other };

Look LookOf(const Pixel& p) {
    if (p.clear) return Look::Clear;
    if (p.r == 255 && p.g == 255 && p.b == 255) return Look::White;
    if (p.r == 0 && p.g == 0 && p.b == 0) return Look::Black;
    if (p.r == 255 && p.g == 0 && p.b == 0) return Look::Red;
    return Look::Other;
}

Look LookAt(const Image& im, int x, int y) {
    return x < 0 || x >= kN || y < 0 || y >= kN ? Look::Clear : LookOf(im.At(x, y));
}

struct Point {
    int x, y;
    friend bool operator==(const Point&, const Point&) = default;
};

std::vector<Point> RedPixels(const Image& im) {
    std::vector<Point> red;
    for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x)
            if (LookAt(im, x, y) == Look::Red) red.push_back({x, y});
    return red;
}

// Columns [first, last] of the runs of white (or red) pixels along a row.
struct Span {
    int first, last;
};
std::vector<Span> WhiteSpans(const Image& im, int y, int x0 = 0, int x1 = kN - 1) {
    std::vector<Span> runs;
    for (int x = x0; x <= x1; ++x) {
        if (LookAt(im, x, y) != Look::White && LookAt(im, x, y) != Look::Red) continue;
        if (!runs.empty() && runs.back().last == x - 1)
            runs.back().last = x;
        else
            runs.push_back({x, x});
    }
    return runs;
}

enum class HandSide { Left, Right, Both };

// Each pointer file, in the order of the fingers, and what it must show.
struct PointerCase {
    const char* file;
    HandSide side;
    int fingerFromThumb;  // 0 index .. 3 little; -1 for the thumb
};
constexpr std::array<PointerCase, 11> kPointerFiles = {{
    {"finger_left_little.ico", HandSide::Left, 3},
    {"finger_left_ring.ico", HandSide::Left, 2},
    {"finger_left_middle.ico", HandSide::Left, 1},
    {"finger_left_index.ico", HandSide::Left, 0},
    {"finger_left_thumb.ico", HandSide::Left, -1},
    {"finger_both_thumbs.ico", HandSide::Both, -1},
    {"finger_right_thumb.ico", HandSide::Right, -1},
    {"finger_right_index.ico", HandSide::Right, 0},
    {"finger_right_middle.ico", HandSide::Right, 1},
    {"finger_right_ring.ico", HandSide::Right, 2},
    {"finger_right_little.ico", HandSide::Right, 3},
}};

std::vector<std::string> AllFiles() {
    std::vector<std::string> files;
    for (const PointerCase& c : kPointerFiles) files.emplace_back(c.file);
    files.emplace_back("vimbrel.ico");
    return files;
}

// Non-clear columns of a picture, leftmost and rightmost.
std::pair<int, int> HandColumns(const Image& im) {
    int first = kN, last = -1;
    for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x)
            if (!im.At(x, y).clear) first = std::min(first, x), last = std::max(last, x);
    return {first, last};
}

TEST(IconFiles, HaveTheOneImageIconLayout) {
    for (const std::string& name : AllFiles()) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> b = ReadAsset(name);
        ASSERT_EQ(b.size(), kFileSize);
        EXPECT_EQ(U16(b, 0), 0u);    // reserved
        EXPECT_EQ(U16(b, 2), 1u);    // icon, not cursor
        EXPECT_EQ(U16(b, 4), 1u);    // one image
        EXPECT_EQ(b[6], 32);         // width
        EXPECT_EQ(b[7], 32);         // height
        EXPECT_EQ(b[8], 0);          // colour count: 256
        EXPECT_EQ(U16(b, 10), 1u);   // planes
        EXPECT_EQ(U16(b, 12), 8u);   // bits per pixel
        EXPECT_EQ(U32(b, 14), 2216u);
        EXPECT_EQ(U32(b, 18), 22u);
        EXPECT_EQ(U32(b, 22), 40u);  // BITMAPINFOHEADER
        EXPECT_EQ(U32(b, 26), 32u);
        EXPECT_EQ(U32(b, 30), 64u);  // colour image and mask
        EXPECT_EQ(U16(b, 34), 1u);
        EXPECT_EQ(U16(b, 36), 8u);
        EXPECT_EQ(U32(b, 38), 0u);   // uncompressed
        const std::uint32_t used = U32(b, 54);
        EXPECT_TRUE(used == 0 || used == 256) << used;
    }
}

// Windows ANDs the screen with the mask and then XORs the colour: only a black
// colour under a set mask bit leaves the screen untouched.
TEST(IconFiles, ClearPixelsAreBlackUnderTheMask) {
    for (const std::string& name : AllFiles()) {
        SCOPED_TRACE(name);
        const Image im = Load(name);
        int clear = 0;
        for (int y = 0; y < kN; ++y)
            for (int x = 0; x < kN; ++x) {
                const Pixel& p = im.At(x, y);
                if (!p.clear) continue;
                ++clear;
                EXPECT_TRUE(p.r == 0 && p.g == 0 && p.b == 0) << x << "," << y;
            }
        EXPECT_GT(clear, 0);
        EXPECT_LT(clear, kN * kN);
    }
}

TEST(FingerPointers, ShowOnlyWhiteBlackAndRedClosedByAnOutline) {
    for (const PointerCase& c : kPointerFiles) {
        SCOPED_TRACE(c.file);
        const Image im = Load(c.file);
        for (int y = 0; y < kN; ++y)
            for (int x = 0; x < kN; ++x) {
                const Look look = LookAt(im, x, y);
                EXPECT_NE(look, Look::Other) << x << "," << y;
                if (look != Look::White && look != Look::Red) continue;
                // Inside the hand: no side open to the background.
                EXPECT_NE(LookAt(im, x - 1, y), Look::Clear) << x << "," << y;
                EXPECT_NE(LookAt(im, x + 1, y), Look::Clear) << x << "," << y;
                EXPECT_NE(LookAt(im, x, y - 1), Look::Clear) << x << "," << y;
                EXPECT_NE(LookAt(im, x, y + 1), Look::Clear) << x << "," << y;
            }
    }
}

TEST(FingerPointers, BlackCuffClosesEachWristAtRows24To26) {
    for (const PointerCase& c : kPointerFiles) {
        SCOPED_TRACE(c.file);
        const Image im = Load(c.file);
        for (int x = 0; x < kN; ++x) {
            const bool hand = !im.At(x, 23).clear;
            for (int y = 24; y <= 26; ++y)
                EXPECT_EQ(LookAt(im, x, y), hand ? Look::Black : Look::Clear) << x << "," << y;
            for (int y = 27; y < kN; ++y) EXPECT_TRUE(im.At(x, y).clear) << x << "," << y;
        }
        // The palm reaches the cuff in white between its two outlines.
        EXPECT_FALSE(WhiteSpans(im, 23).empty());
    }
}

TEST(FingerPointers, RaiseTheFingerToUseWithATwoByTwoRedTip) {
    for (const PointerCase& c : kPointerFiles) {
        if (c.fingerFromThumb < 0) continue;
        SCOPED_TRACE(c.file);
        const Image im = Load(c.file);
        EXPECT_EQ(HandColumns(im), std::make_pair(8, 23));

        const std::vector<Point> red = RedPixels(im);
        ASSERT_EQ(red.size(), 4u);
        const int tipX = red[0].x;
        EXPECT_EQ(red, (std::vector<Point>{{tipX, 10}, {tipX + 1, 10}, {tipX, 11}, {tipX + 1, 11}}));
        EXPECT_EQ(LookAt(im, tipX, 9), Look::Black);  // the raised outline closes at row 9
        EXPECT_EQ(LookAt(im, tipX + 1, 9), Look::Black);
        EXPECT_EQ(LookAt(im, tipX, 12), Look::White);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < kN; ++x) EXPECT_TRUE(im.At(x, y).clear) << x << "," << y;
        // Above the resting fingers only the raised one stands.
        for (int x = 0; x < kN; ++x)
            EXPECT_EQ(im.At(x, 13).clear, x < tipX - 1 || x > tipX + 2) << x;

        // The four fingers, counted from the thumb: the thumb starts lower
        // (row 16), so at row 15 only the fingers are cut.
        std::vector<Span> fingers = WhiteSpans(im, 15);
        ASSERT_EQ(fingers.size(), 4u);
        std::vector<Span> withThumb = WhiteSpans(im, 18);
        ASSERT_EQ(withThumb.size(), 5u);
        if (c.side == HandSide::Left) {
            std::reverse(fingers.begin(), fingers.end());
            EXPECT_GT(withThumb.back().first, fingers.front().last);  // thumb towards the right hand
        } else {
            EXPECT_LT(withThumb.front().last, fingers.front().first);
        }
        for (int f = 0; f < 4; ++f) {
            const Span& run = fingers[f];
            EXPECT_EQ(run.last - run.first, 1) << "two pixels wide";
            const bool raised = tipX == run.first;
            EXPECT_EQ(raised, f == c.fingerFromThumb) << f;
            if (!raised) {
                EXPECT_EQ(LookAt(im, run.first, 14), Look::Black) << f;  // resting outline at row 14
                EXPECT_TRUE(im.At(run.first, 13).clear) << f;
            }
        }
        const Span thumb = c.side == HandSide::Left ? withThumb.back() : withThumb.front();
        EXPECT_EQ(LookAt(im, thumb.first, 16), Look::Black);  // resting thumb closes at row 16
        EXPECT_TRUE(im.At(thumb.first, 15).clear);
    }
}

// Both front ends put each pointer's hot spot where the header kept beside the
// images says: on the red tip, or for the space bar between the two thumbs' tips.
TEST(FingerPointers, HotSpotsLieOnTheRedTips) {
    for (std::size_t i = 0; i < kPointerFiles.size(); ++i) {
        SCOPED_TRACE(kPointerFiles[i].file);
        const Image im = Load(kPointerFiles[i].file);
        const auto [x, y] = vimbrel::kFingerHotSpots[i];
        if (kPointerFiles[i].side != HandSide::Both) {
            EXPECT_EQ(LookAt(im, x, y), Look::Red);
            continue;
        }
        int left = 0, right = 0;
        for (int column = 0; column < kN; ++column)
            if (LookAt(im, column, y) == Look::Red) ++(column < x ? left : right);
        EXPECT_EQ(left, 1);
        EXPECT_EQ(right, 1);
    }
}

// The red tip of a bent thumb: three pixels of one column in rows 17 to 19.
int BentThumbTip(const std::vector<Point>& red) {
    EXPECT_EQ(red.size(), 3u);
    if (red.size() != 3) return -1;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(red[i], (Point{red[0].x, 17 + i}));
    return red[0].x;
}

TEST(ThumbPointers, BendTheThumbOutWithARedTip) {
    for (const PointerCase& c : kPointerFiles) {
        if (c.fingerFromThumb >= 0 || c.side == HandSide::Both) continue;
        SCOPED_TRACE(c.file);
        const Image im = Load(c.file);
        const bool left = c.side == HandSide::Left;
        // Moved two columns away from the thumb, whose tip sticks out beyond the resting hand.
        const auto [first, last] = HandColumns(im);
        EXPECT_EQ(left ? first : last, left ? 6 : 25);
        EXPECT_TRUE(left ? last > 23 : first < 8);
        for (int y = 0; y < 14; ++y)
            for (int x = 0; x < kN; ++x) EXPECT_TRUE(im.At(x, y).clear) << "no finger raised";
        const std::vector<Span> fingers = WhiteSpans(im, 15);
        ASSERT_EQ(fingers.size(), 4u);

        const int tipX = BentThumbTip(RedPixels(im));
        ASSERT_GE(tipX, 0);
        const int outward = left ? 1 : -1;
        EXPECT_EQ(LookAt(im, tipX + outward, 18), Look::Black);
        EXPECT_TRUE(left ? tipX > fingers.back().last : tipX < fingers.front().first);
        // The thumb is white from its tip back into the hand.
        for (int x = tipX - outward; x != (left ? fingers.back().last : fingers.front().first); x -= outward)
            EXPECT_EQ(LookAt(im, x, 18), Look::White) << x;
    }
}

TEST(ThumbPointers, SpaceBarShowsTwoNarrowHandsThumbsTowardsEachOther) {
    const Image im = Load("finger_both_thumbs.ico");
    EXPECT_EQ(HandColumns(im), std::make_pair(0, 31));
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < kN; ++x) EXPECT_TRUE(im.At(x, y).clear) << "no finger raised";

    const std::vector<Point> red = RedPixels(im);
    EXPECT_EQ(red.size(), 6u);
    std::vector<Point> leftRed, rightRed;
    for (const Point& p : red) (p.x < kN / 2 ? leftRed : rightRed).push_back(p);
    const int leftTip = BentThumbTip(leftRed), rightTip = BentThumbTip(rightRed);

    // Two hands with a clear gap between the thumb tips.
    int gap = 0;
    for (int x = leftTip + 1; x < rightTip; ++x) {
        bool clear = true;
        for (int y = 0; y < kN; ++y) clear = clear && im.At(x, y).clear;
        gap += clear;
    }
    EXPECT_GT(gap, 0);

    const std::vector<Span> leftFingers = WhiteSpans(im, 15, 0, kN / 2 - 1);
    const std::vector<Span> rightFingers = WhiteSpans(im, 15, kN / 2, kN - 1);
    ASSERT_EQ(leftFingers.size(), 4u);
    ASSERT_EQ(rightFingers.size(), 4u);
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(leftFingers[f].first, leftFingers[f].last) << "one pixel wide";
        EXPECT_EQ(rightFingers[f].first, rightFingers[f].last) << "one pixel wide";
    }
    EXPECT_GT(leftTip, leftFingers.back().last);
    EXPECT_LT(rightTip, rightFingers.front().first);
}

TEST(FingerPointers, ElevenDifferentPicturesLeftMirroringRight) {
    std::vector<Image> images;
    for (const PointerCase& c : kPointerFiles) images.push_back(Load(c.file));
    auto same = [](const Image& a, const Image& b, bool mirrored) {
        for (int y = 0; y < kN; ++y)
            for (int x = 0; x < kN; ++x) {
                const Pixel& p = a.At(x, y);
                const Pixel& q = b.At(mirrored ? kN - 1 - x : x, y);
                if (LookOf(p) != LookOf(q)) return false;
            }
        return true;
    };
    for (std::size_t i = 0; i < images.size(); ++i) {
        for (std::size_t j = i + 1; j < images.size(); ++j)
            EXPECT_FALSE(same(images[i], images[j], false)) << kPointerFiles[i].file << " " << kPointerFiles[j].file;
        EXPECT_TRUE(same(images[i], images[images.size() - 1 - i], true)) << kPointerFiles[i].file;
    }
}

enum class Tone { Clear, White, DarkBlue, FillBlue, PaleBlue, Grey, Other };

Tone ToneOf(const Pixel& p) {
    if (p.clear) return Tone::Clear;
    if (p.r == 255 && p.g == 255 && p.b == 255) return Tone::White;
    if (p.r == p.g && p.g == p.b && p.r > 0) return Tone::Grey;
    if (p.b > p.r && p.b >= p.g) {
        if (p.b <= 160) return Tone::DarkBlue;
        return p.r < 128 ? Tone::FillBlue : Tone::PaleBlue;
    }
    return Tone::Other;
}

TEST(ApplicationIcon, IsABlueKeyboardWithAGreyShadow) {
    const Image im = Load("vimbrel.ico");
    int x0 = kN, y0 = kN, x1 = -1, y1 = -1;
    for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x) {
            EXPECT_NE(ToneOf(im.At(x, y)), Tone::Other) << x << "," << y;
            if (ToneOf(im.At(x, y)) == Tone::DarkBlue)
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        }
    EXPECT_TRUE(RedPixels(im).empty());
    // A band two rows high above a frame 28 wide and 18 high.
    ASSERT_EQ(x1 - x0 + 1, 28);
    ASSERT_EQ(y1 - y0 + 1, 2 + 18);
    const int frameTop = y0 + 2;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const bool edge = y < frameTop + 1 || y == y1 || x == x0 || x == x1;
            EXPECT_EQ(ToneOf(im.At(x, y)) == Tone::DarkBlue, edge) << x << "," << y;
        }
    // Outside: the shadow, two pixels along the right and the bottom; the rest clear.
    for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x) {
            if (x >= x0 && x <= x1 && y >= y0 && y <= y1) continue;
            const bool shadow = x >= x0 + 2 && x <= x1 + 2 && y >= y0 + 2 && y <= y1 + 2;
            EXPECT_EQ(ToneOf(im.At(x, y)), shadow ? Tone::Grey : Tone::Clear) << x << "," << y;
        }

    // Inside: light blue, with 2 x 2 keys in white and pale blue and a white
    // space bar 8 x 2 below them, each standing free.
    std::array<std::array<bool, kN>, kN> seen{};
    std::vector<std::pair<int, int>> keys;  // top-left corner of each small key
    int spaceBarTop = -1, lowestKeyBottom = -1;
    bool paleSeen = false, whiteKeySeen = false;
    for (int y = frameTop + 1; y < y1; ++y)
        for (int x = x0 + 1; x < x1; ++x) {
            const Tone t = ToneOf(im.At(x, y));
            if (t == Tone::FillBlue || seen[y][x]) continue;
            ASSERT_TRUE(t == Tone::White || t == Tone::PaleBlue) << x << "," << y;
            int kx1 = x;
            while (kx1 + 1 < x1 && ToneOf(im.At(kx1 + 1, y)) == t) ++kx1;
            int ky1 = y;
            while (ky1 + 1 < y1 && ToneOf(im.At(x, ky1 + 1)) == t) ++ky1;
            for (int ky = y; ky <= ky1; ++ky)
                for (int kx = x; kx <= kx1; ++kx) {
                    EXPECT_EQ(ToneOf(im.At(kx, ky)), t);
                    seen[ky][kx] = true;
                }
            for (int ky = y - 1; ky <= ky1 + 1; ++ky)  // a ring of fill blue around it
                for (int kx = x - 1; kx <= kx1 + 1; ++kx)
                    if (ky < y || ky > ky1 || kx < x || kx > kx1) {
                        EXPECT_EQ(ToneOf(im.At(kx, ky)), Tone::FillBlue) << kx << "," << ky;
                    }
            const int w = kx1 - x + 1, h = ky1 - y + 1;
            if (w == 8 && h == 2 && t == Tone::White) {
                EXPECT_EQ(spaceBarTop, -1) << "one space bar";
                spaceBarTop = y;
            } else {
                EXPECT_EQ(w, 2) << x << "," << y;
                EXPECT_EQ(h, 2) << x << "," << y;
                lowestKeyBottom = std::max(lowestKeyBottom, ky1);
                (t == Tone::White ? whiteKeySeen : paleSeen) = true;
                keys.emplace_back(x, y);
            }
        }
    EXPECT_GT(spaceBarTop, lowestKeyBottom);
    EXPECT_TRUE(whiteKeySeen && paleSeen);
    std::vector<int> rows;
    for (const auto& [x, y] : keys)
        if (std::find(rows.begin(), rows.end(), y) == rows.end()) rows.push_back(y);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_GE(keys.size(), 8u);
}

// The encoder against this file's reader, with every ink the generator has.
TEST(IconEncoder, StoresEveryInkAndTheMaskWhereTheReaderFindsThem) {
    using vimbrel::art::Ink;
    constexpr Ink kInks[] = {Ink::Clear,    Ink::Black,    Ink::White, Ink::Red,
                             Ink::DarkBlue, Ink::LightBlue, Ink::PaleBlue, Ink::Grey};
    vimbrel::art::Picture picture;
    for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x) picture.Set(x, y, kInks[(x * 3 + y * 5 + x * y) % std::size(kInks)]);
    const Image im = Decode(vimbrel::art::EncodeIcon(picture));
    for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x) {
            const Ink ink = picture.At(x, y);
            const Pixel& p = im.At(x, y);
            const vimbrel::art::Rgb expected = vimbrel::art::ColourOf(ink);
            EXPECT_EQ(p.clear, ink == Ink::Clear) << x << "," << y;
            EXPECT_TRUE(p.r == expected.r && p.g == expected.g && p.b == expected.b) << x << "," << y;
        }
}

}  // namespace
