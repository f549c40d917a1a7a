// Draws the pointer hands and the application icon from their geometry, and
// encodes a picture as an icon resource file.
#include "assets/generator/icon_art.h"

#include <cstddef>
#include <string>
#include <iterator>
#include <utility>

namespace vimbrel::art {

namespace {

// Rows of a hand, counted from the top. Every hand, narrow or not, uses them.
constexpr int kRaisedTop = 9;         // outline above a raised finger
constexpr int kFingerTop = 14;        // outline above a resting finger
constexpr int kThumbTop = 16;         // outline above a resting thumb
constexpr int kTipRows = 2;           // red rows at the top of a raised finger
constexpr int kKnuckleRow = 19;       // the lines between the fingers end here
constexpr int kThumbJoinRow = 21;     // ... and the line beside a resting thumb here
constexpr int kBentThumbTop = 16;     // a bent thumb lies across rows 17 to 19,
constexpr int kBentThumbBottom = 20;  // between two outline rows
constexpr int kBentThumbReach = 4;    // columns a bent thumb sticks out of the hand
constexpr int kCuffTop = 24;
constexpr int kCuffRows = 3;

enum Corner : unsigned { kNoCorner = 0, kTopLeft = 1, kTopRight = 2, kBottomLeft = 4 };

// A part of the hand: a rectangle with a one-pixel outline. The rounded corners
// are left out of the outline, which softens fingertips and the thumb's tip.
struct Part {
    int x0, y0, x1, y1;  // outline, inclusive
    unsigned rounded = kNoCorner;
};

// Draws in the coordinates of a right hand; for a left hand every column is
// mirrored on the way into the picture.
class HandPen {
public:
    HandPen(Picture& picture, Side side) : picture_(picture), mirrored_(side == Side::Left) {}
    void Put(int x, int y, Ink ink) { picture_.Set(mirrored_ ? kSize - 1 - x : x, y, ink); }
    void Fill(int x0, int y0, int x1, int y1, Ink ink) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) Put(x, y, ink);
    }
    int Column(int pictureColumn) const { return mirrored_ ? kSize - 1 - pictureColumn : pictureColumn; }

private:
    Picture& picture_;
    bool mirrored_;
};

bool IsRoundedCorner(const Part& p, int x, int y) {
    return ((p.rounded & kTopLeft) && x == p.x0 && y == p.y0) ||
           ((p.rounded & kTopRight) && x == p.x1 && y == p.y0) ||
           ((p.rounded & kBottomLeft) && x == p.x0 && y == p.y1);
}

// All outlines first, then all white insides: where two parts overlap, their
// insides merge and the outline between them disappears. What is left of the
// outlines is the hand's contour and the lines between the fingers.
void DrawParts(HandPen& pen, const std::vector<Part>& parts) {
    for (const Part& p : parts)
        for (int y = p.y0; y <= p.y1; ++y)
            for (int x = p.x0; x <= p.x1; ++x) {
                const bool border = x == p.x0 || x == p.x1 || y == p.y0 || y == p.y1;
                if (border && !IsRoundedCorner(p, x, y)) pen.Put(x, y, Ink::Black);
            }
    for (const Part& p : parts) pen.Fill(p.x0 + 1, p.y0 + 1, p.x1 - 1, p.y1 - 1, Ink::White);
}

int FingerNumber(Digit d) {  // counted from the thumb: index 0 .. little 3
    switch (d) {
    case Digit::Index:  return 0;
    case Digit::Middle: return 1;
    case Digit::Ring:   return 2;
    case Digit::Little: return 3;
    default:            return -1;
    }
}

}  // namespace

void DrawHand(Picture& picture, const Hand& hand) {
    HandPen pen(picture, hand.side);
    // Thumb and four fingers stand side by side, sharing their outlines.
    const int pitch = hand.fingerWidth + 1;
    const int right = pen.Column(hand.outerEdge);
    const int left = right - 5 * pitch;
    const bool thumbBent = hand.active == Digit::Thumb;
    const int raised = FingerNumber(hand.active);

    std::vector<Part> parts;
    for (int f = 0; f < 4; ++f) {
        const int x0 = left + (f + 1) * pitch;
        const int top = f == raised ? kRaisedTop : kFingerTop;
        parts.push_back({x0, top, x0 + pitch, kKnuckleRow + 1, kTopLeft | kTopRight});
    }
    parts.push_back({left + pitch, kKnuckleRow, right, kCuffTop});  // back of the hand
    if (thumbBent) {
        // The thumb reaches across the index finger's outline into the hand,
        // so the two meet without a line between them.
        parts.push_back({left - kBentThumbReach, kBentThumbTop, left + pitch + 1, kBentThumbBottom,
                         kTopLeft | kBottomLeft});
        parts.push_back({left, kKnuckleRow, right, kCuffTop});  // ball of the thumb
    } else {
        parts.push_back({left, kThumbTop, left + pitch, kThumbJoinRow + 1, kTopLeft | kTopRight});
        parts.push_back({left, kThumbJoinRow, right, kCuffTop});
    }
    DrawParts(pen, parts);

    if (raised >= 0) {
        const int x0 = left + (raised + 1) * pitch + 1;
        pen.Fill(x0, kRaisedTop + 1, x0 + hand.fingerWidth - 1, kRaisedTop + kTipRows, Ink::Red);
    }
    if (thumbBent) {
        const int tip = left - kBentThumbReach + 1;
        pen.Fill(tip, kBentThumbTop + 1, tip, kBentThumbBottom - 1, Ink::Red);
    }
    pen.Fill(left, kCuffTop, right, kCuffTop + kCuffRows - 1, Ink::Black);
}

Picture DrawPointer(const PointerSketch& sketch) {
    Picture picture;
    for (int i = 0; i < sketch.handCount; ++i) DrawHand(picture, sketch.hands[i]);
    return picture;
}

namespace {

void FillRect(Picture& p, int x0, int y0, int x1, int y1, Ink ink) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) p.Set(x, y, ink);
}

// The application icon: a keyboard seen slightly from the front.
constexpr int kFrameLeft = 1, kFrameTop = 7, kFrameWidth = 28, kFrameHeight = 18;
constexpr int kFrameRight = kFrameLeft + kFrameWidth - 1;
constexpr int kFrameBottom = kFrameTop + kFrameHeight - 1;
constexpr int kBandRows = 2;     // the keyboard's back edge, above the frame
constexpr int kShadowOffset = 2;
constexpr int kKeyRowTops[] = {11, 14};  // two rows of 2 x 2 keys,
constexpr int kKeyRowLefts[] = {3, 4};   // the lower one set off by a column
constexpr int kKeysPerRow = 8, kKeyPitch = 3;
constexpr int kSpaceBarTop = 18, kSpaceBarWidth = 8;

}  // namespace

Picture DrawApplicationIcon() {
    Picture p;
    const int top = kFrameTop - kBandRows;
    // The shadow is the keyboard's outline moved down and right; the keyboard
    // then covers all of it but a band along its right and bottom sides.
    FillRect(p, kFrameLeft + kShadowOffset, top + kShadowOffset, kFrameRight + kShadowOffset,
             kFrameBottom + kShadowOffset, Ink::Grey);
    FillRect(p, kFrameLeft, top, kFrameRight, kFrameBottom, Ink::DarkBlue);
    FillRect(p, kFrameLeft + 1, kFrameTop + 1, kFrameRight - 1, kFrameBottom - 1, Ink::LightBlue);
    for (int row = 0; row < 2; ++row)
        for (int k = 0; k < kKeysPerRow; ++k) {
            const int x = kKeyRowLefts[row] + k * kKeyPitch;
            const int y = kKeyRowTops[row];
            FillRect(p, x, y, x + 1, y + 1, (k + row) % 2 == 0 ? Ink::White : Ink::PaleBlue);
        }
    const int spaceLeft = (kFrameLeft + kFrameRight + 1 - kSpaceBarWidth) / 2;
    FillRect(p, spaceLeft, kSpaceBarTop, spaceLeft + kSpaceBarWidth - 1, kSpaceBarTop + 1, Ink::White);
    return p;
}

namespace {

constexpr int kPaletteSize = 256;
constexpr int kInfoHeaderSize = 40;
constexpr int kColourBytes = kSize * kSize;  // one byte per pixel, rows already 4-byte aligned
constexpr int kMaskRowBytes = 4;             // 32 bits, one per pixel, most significant first
constexpr int kImageBytes = kInfoHeaderSize + 4 * kPaletteSize + kColourBytes + kMaskRowBytes * kSize;
constexpr int kImageOffset = 6 + 16;  // directory header, one entry

// The palette starts with the inks, black first so that clear pixels can use
// entry 0; the remaining entries are unused black.
constexpr Ink kPaletteInks[] = {Ink::Black,     Ink::White,    Ink::Red, Ink::DarkBlue,
                                Ink::LightBlue, Ink::PaleBlue, Ink::Grey};

std::uint8_t PaletteIndex(Ink ink) {
    std::uint8_t i = 0;
    while (i < std::size(kPaletteInks) && kPaletteInks[i] != ink) ++i;
    return i < std::size(kPaletteInks) ? i : 0;
}

class ByteWriter {
public:
    void U8(unsigned v) { bytes_.push_back(static_cast<std::uint8_t>(v)); }
    void U16(unsigned v) { U8(v & 0xFF), U8(v >> 8); }
    void U32(std::uint32_t v) { U16(v & 0xFFFF), U16(v >> 16); }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

std::vector<std::uint8_t> EncodeIcon(const Picture& picture) {
    ByteWriter w;
    // Icon directory: reserved, type 1 (icon), one image.
    w.U16(0), w.U16(1), w.U16(1);
    // Its entry: 32 x 32, colour count 0 (256 colours), reserved, one plane, 8 bits.
    w.U8(kSize), w.U8(kSize), w.U8(0), w.U8(0), w.U16(1), w.U16(8);
    w.U32(kImageBytes), w.U32(kImageOffset);

    // BITMAPINFOHEADER. The height counts the colour image and the mask.
    w.U32(kInfoHeaderSize), w.U32(kSize), w.U32(2 * kSize), w.U16(1), w.U16(8);
    w.U32(0), w.U32(kColourBytes + kMaskRowBytes * kSize), w.U32(0), w.U32(0), w.U32(0), w.U32(0);

    // Palette of RGBQUADs: blue, green, red, 0.
    for (Ink ink : kPaletteInks) {
        const Rgb c = ColourOf(ink);
        w.U8(c.b), w.U8(c.g), w.U8(c.r), w.U8(0);
    }
    for (std::size_t i = std::size(kPaletteInks); i < kPaletteSize; ++i) w.U32(0);

    // Colour indices, then the transparency mask, both bottom row first.
    for (int y = kSize - 1; y >= 0; --y)
        for (int x = 0; x < kSize; ++x) w.U8(PaletteIndex(picture.At(x, y)));
    for (int y = kSize - 1; y >= 0; --y) {
        std::uint32_t bits = 0;
        for (int x = 0; x < kSize; ++x)
            if (picture.At(x, y) == Ink::Clear) bits |= 0x80000000u >> x;
        for (int shift = 24; shift >= 0; shift -= 8) w.U8((bits >> shift) & 0xFF);
    }
    return w.Take();
}

static_assert([] {
    for (int i = 0; i < kFingerCount; ++i)
        if (static_cast<int>(kPointers[i].finger) != i) return false;
    return true;
}(), "pointer sketches must be listed in Finger order");

// The mean of the red pixels' places, rounded down: for a tip of two by two
// pixels its top-left one; for the space bar's two thumbs, the point between them.
Point HotSpot(const Picture& pointer) {
    int sx = 0, sy = 0, n = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            if (pointer.At(x, y) == Ink::Red) sx += x, sy += y, ++n;
    return n > 0 ? Point{sx / n, sy / n} : Point{kSize / 2, kSize / 4};
}

std::string HotSpotsHeader() {
    std::string text =
        "// Written by assets/generator (make_icons) with the pointer images; do not edit.\n"
        "// Each finger pointer's hot spot, the middle of its red tip, in pixels of its\n"
        "// image, in the order of Finger.\n"
        "#pragma once\n\n"
        "namespace vimbrel {\n\n"
        "struct PointerHotSpot {\n"
        "    int x, y;\n"
        "};\n\n"
        "inline constexpr int kPointerImageSize = " + std::to_string(kSize) + ";\n"
        "inline constexpr PointerHotSpot kFingerHotSpots[" + std::to_string(kPointers.size()) + "] = {\n";
    for (const PointerSketch& sketch : kPointers) {
        const Point p = HotSpot(DrawPointer(sketch));
        text += "    {" + std::to_string(p.x) + ", " + std::to_string(p.y) + "},  // " + std::string(sketch.fileName) + "\n";
    }
    text += "};\n\n}  // namespace vimbrel\n";
    return text;
}

std::vector<IconFile> AllIconFiles() {
    std::vector<IconFile> files;
    for (const PointerSketch& sketch : kPointers)
        files.push_back({std::string(sketch.fileName), EncodeIcon(DrawPointer(sketch))});
    files.push_back({std::string(kApplicationIconFile), EncodeIcon(DrawApplicationIcon())});
    const std::string header = HotSpotsHeader();
    files.push_back({std::string(kHotSpotsFile), {header.begin(), header.end()}});
    return files;
}

}  // namespace vimbrel::art
