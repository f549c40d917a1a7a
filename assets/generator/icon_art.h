// The eleven finger pointers and the application icon: how they are drawn and
// how a picture becomes a one-image, 256-colour .ico file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "layout/key_def.h"

namespace vimbrel::art {

inline constexpr int kSize = 32;  // every picture is 32 x 32 pixels

// What a pixel shows. Clear is transparent; the rest are palette colours.
enum class Ink : std::uint8_t { Clear, Black, White, Red, DarkBlue, LightBlue, PaleBlue, Grey };

struct Rgb {
    std::uint8_t r, g, b;
    friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

// The colour each ink is painted in. Clear pixels are stored as black under a
// set mask bit: the screen is ANDed with the mask, then XORed with the colour.
constexpr Rgb ColourOf(Ink ink) {
    switch (ink) {
    case Ink::White:     return {255, 255, 255};
    case Ink::Red:       return {255, 0, 0};
    case Ink::DarkBlue:  return {0, 32, 128};
    case Ink::LightBlue: return {96, 160, 232};
    case Ink::PaleBlue:  return {184, 216, 255};
    case Ink::Grey:      return {128, 128, 128};
    case Ink::Clear:
    case Ink::Black:     break;
    }
    return {0, 0, 0};
}

// A 32 x 32 picture, row 0 at the top. Writes outside the picture are dropped.
class Picture {
public:
    Ink At(int x, int y) const { return Inside(x, y) ? pixels_[Index(x, y)] : Ink::Clear; }
    void Set(int x, int y, Ink ink) {
        if (Inside(x, y)) pixels_[Index(x, y)] = ink;
    }
    friend bool operator==(const Picture&, const Picture&) = default;

private:
    static bool Inside(int x, int y) { return x >= 0 && x < kSize && y >= 0 && y < kSize; }
    static int Index(int x, int y) { return y * kSize + x; }
    std::array<Ink, kSize * kSize> pixels_{};
};

// The digit a pointer asks for. None draws a hand at rest.
enum class Digit : std::uint8_t { None, Thumb, Index, Middle, Ring, Little };
enum class Side : std::uint8_t { Left, Right };

// One hand seen from above, palm down, fingers up. A right hand has its thumb
// on the left of the picture; a left hand is drawn as its mirror image.
struct Hand {
    Side side;
    int outerEdge;    // column of the outline along the little finger
    int fingerWidth;  // white pixels across one finger
    Digit active;     // raised finger, or the thumb bent outward
};

// What one pointer image shows: one hand, or two for the space bar.
struct PointerSketch {
    Finger finger;
    std::string_view fileName;
    std::array<Hand, 2> hands;
    int handCount;
};

// clang-format off
// A hand of two-pixel fingers is 16 columns wide and spans columns 8 to 23;
// for a thumb it moves two columns away from the thumb to make room for it.
inline constexpr std::array<PointerSketch, kFingerCount> kPointers = {{
    {Finger::LeftLittle,  "finger_left_little.ico",  {{{Side::Left,   8, 2, Digit::Little}}}, 1},
    {Finger::LeftRing,    "finger_left_ring.ico",    {{{Side::Left,   8, 2, Digit::Ring}}},   1},
    {Finger::LeftMiddle,  "finger_left_middle.ico",  {{{Side::Left,   8, 2, Digit::Middle}}}, 1},
    {Finger::LeftIndex,   "finger_left_index.ico",   {{{Side::Left,   8, 2, Digit::Index}}},  1},
    {Finger::LeftThumb,   "finger_left_thumb.ico",   {{{Side::Left,   6, 2, Digit::Thumb}}},  1},
    {Finger::BothThumbs,  "finger_both_thumbs.ico",  {{{Side::Left,   0, 1, Digit::Thumb},
                                                       {Side::Right, 31, 1, Digit::Thumb}}},  2},
    {Finger::RightThumb,  "finger_right_thumb.ico",  {{{Side::Right, 25, 2, Digit::Thumb}}},  1},
    {Finger::RightIndex,  "finger_right_index.ico",  {{{Side::Right, 23, 2, Digit::Index}}},  1},
    {Finger::RightMiddle, "finger_right_middle.ico", {{{Side::Right, 23, 2, Digit::Middle}}}, 1},
    {Finger::RightRing,   "finger_right_ring.ico",   {{{Side::Right, 23, 2, Digit::Ring}}},   1},
    {Finger::RightLittle, "finger_right_little.ico", {{{Side::Right, 23, 2, Digit::Little}}}, 1},
}};
// clang-format on

inline constexpr std::string_view kApplicationIconFile = "vimbrel.ico";

void DrawHand(Picture& picture, const Hand& hand);
Picture DrawPointer(const PointerSketch& sketch);
Picture DrawApplicationIcon();

// A complete .ico file: one 32 x 32 image, 8 bits per pixel, 2238 bytes.
std::vector<std::uint8_t> EncodeIcon(const Picture& picture);

// The point of a pointer that strikes: the middle of its red finger tip.
struct Point {
    int x, y;
    friend bool operator==(const Point&, const Point&) = default;
};
Point HotSpot(const Picture& pointer);

inline constexpr std::string_view kHotSpotsFile = "finger_hot_spots.h";
// The header both front ends take the pointers' hot spots from.
std::string HotSpotsHeader();

struct IconFile {
    std::string name;
    std::vector<std::uint8_t> bytes;
};
// Every file the generator writes: the eleven pointers in Finger order, the
// application icon, then the pointers' hot spots.
std::vector<IconFile> AllIconFiles();

}  // namespace vimbrel::art
