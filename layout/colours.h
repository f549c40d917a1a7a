// The colours of the keyboard. For lock and modifier buttons the colour is the state.
#pragma once

#include <cstdint>

namespace vimbrel {

using Colour = std::uint32_t;  // 0x00BBGGRR, as Windows' COLORREF

inline constexpr Colour kReleasedBlue = 0x00D9A16F;  // off, up, unlit
inline constexpr Colour kHighlight = 0x0000FFE0;     // on, held, focused, lit
inline constexpr Colour kWhite = 0x00FFFFFF;
inline constexpr Colour kSilver = 0x00C0C0C0;
inline constexpr Colour kPink = 0x00FFC0FF;

// The ring inside the edge of a key held down on the physical keyboard: the
// red of the finger tips on the pointers, 30 twips wide (2 pixels at 96 dpi).
inline constexpr Colour kHeldRing = 0x000000FF;
inline constexpr int kHeldRingTwips = 30;

}  // namespace vimbrel
