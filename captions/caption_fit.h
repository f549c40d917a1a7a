// How a caption is set on its key's face: in one line or two, in the largest
// font size, up to the keys' own, whose lines fit the face. The front end
// measures its font; the choice is made here, once per caption and face.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vimbrel {

// The keys' font at one pixel size, as the front end measures it.
struct LineMetrics {
    int height;  // one line's text cell
    int pitch;   // from one line's top to the next one's
    int clear;   // kept clear above the first line, for a font without leading of its own
};

class CaptionMeasure {
public:
    virtual LineMetrics Metrics(int px) = 0;
    // The width of a line as shown, in the font of that size.
    virtual int Width(std::u16string_view line, int px) = 0;

protected:
    ~CaptionMeasure() = default;
};

// A key's face (the room inside its edge) and the keys' own font size, in pixels.
struct CaptionBox {
    int width, height, px;
    friend bool operator==(const CaptionBox&, const CaptionBox&) = default;
};

struct CaptionFit {
    std::array<std::u16string, 2> lines;  // as shown: "&&" is one "&"
    int count;       // lines used, 1 or 2
    int px;          // font size
    int top;         // of the first line, from the face's top: the lines stand centred
    int lineHeight;  // and pitch, as measured at px
    int pitch;
};

// What a caption shows: the button's access-key processing makes "&&" one "&"
// and drops a lone "&".
std::u16string ShownText(std::u16string_view caption);

class CaptionFitter {
public:
    // Lines split at the line feed; a one-line caption too wide for the face
    // (the four-character ones such as "快照需求") is broken in the middle. Two
    // lines that do not fit are set in the largest smaller size that fits,
    // down to half the keys' size.
    CaptionFit Fit(std::u16string_view caption, CaptionBox box, CaptionMeasure& measure);

private:
    // The largest size whose lines fit a face's height, found once for each
    // height: most keys share one.
    struct HeightFit {
        int height, px, lines, fit;
    };
    int LargestForHeight(int height, int px, int lines, CaptionMeasure& measure);
    std::vector<HeightFit> heightFits_;
};

}  // namespace vimbrel
