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

}  // namespace vimbrel
