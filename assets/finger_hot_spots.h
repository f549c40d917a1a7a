// Written by assets/generator (make_icons) with the pointer images; do not edit.
// Each finger pointer's hot spot, the middle of its red tip, in pixels of its
// image, in the order of Finger.
#pragma once

namespace vimbrel {

struct PointerHotSpot {
    int x, y;
};

inline constexpr int kPointerImageSize = 32;
inline constexpr PointerHotSpot kFingerHotSpots[11] = {
    {9, 10},  // finger_left_little.ico
    {12, 10},  // finger_left_ring.ico
    {15, 10},  // finger_left_middle.ico
    {18, 10},  // finger_left_index.ico
    {24, 18},  // finger_left_thumb.ico
    {15, 18},  // finger_both_thumbs.ico
    {7, 18},  // finger_right_thumb.ico
    {12, 10},  // finger_right_index.ico
    {15, 10},  // finger_right_middle.ico
    {18, 10},  // finger_right_ring.ico
    {21, 10},  // finger_right_little.ico
};

}  // namespace vimbrel
