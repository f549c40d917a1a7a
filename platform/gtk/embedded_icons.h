// The pointer images and the application icon, built into the program from
// assets/*.ico, so that an installed keyboard needs no files beside it.
#pragma once

#include <cstddef>

namespace vimbrel {

struct EmbeddedFile {
    const unsigned char* data;
    std::size_t size;
};

// In the order of Finger.
extern const EmbeddedFile kFingerIcons[11];
extern const EmbeddedFile kApplicationIcon;

}  // namespace vimbrel
