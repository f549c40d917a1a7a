// Splitting a caption into lines and finding the size they fit in.
#include "captions/caption_fit.h"

#include <algorithm>

namespace vimbrel {

namespace {

int Smallest(int px) { return std::max(6, px / 2); }

// The room a caption's lines take: a text cell each, a pitch apart, what the
// font keeps clear above the first, and a pixel clear of the edge below the last.
int BlockHeight(const LineMetrics& m, int lines) { return m.clear + (lines - 1) * m.pitch + m.height + 1; }

}  // namespace

std::u16string ShownText(std::u16string_view caption) {
    std::u16string shown;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&') shown += u'&', ++i;
            continue;
        }
        shown += caption[i];
    }
    return shown;
}

CaptionFit CaptionFitter::Fit(std::u16string_view caption, CaptionBox box, CaptionMeasure& measure) {
    CaptionFit fit{};
    const std::u16string shown = ShownText(caption);
    const std::u16string_view text(shown);
    fit.count = 2;
    if (const std::size_t lf = text.find(u'\n'); lf != text.npos) {
        fit.lines = {std::u16string(text.substr(0, lf)), std::u16string(text.substr(lf + 1))};
    } else if (text.size() > 1 && measure.Width(text, box.px) > box.width) {
        const std::size_t half = (text.size() + 1) / 2;
        fit.lines = {std::u16string(text.substr(0, half)), std::u16string(text.substr(half))};
    } else {
        fit.lines[0] = shown;
        fit.count = 1;
    }

    int px = box.px;
    if (fit.count == 2) {
        px = LargestForHeight(box.height, box.px, fit.count, measure);
        for (const int smallest = Smallest(box.px); px > smallest; --px) {
            bool fits = true;
            for (const std::u16string& line : fit.lines) fits = fits && measure.Width(line, px) <= box.width;
            if (fits) break;
        }
    }
    const LineMetrics m = measure.Metrics(px);
    fit.px = px;
    fit.top = (box.height - BlockHeight(m, fit.count)) / 2 + m.clear;
    fit.lineHeight = m.height;
    fit.pitch = m.pitch;
    return fit;
}

int CaptionFitter::LargestForHeight(int height, int px, int lines, CaptionMeasure& measure) {
    for (const HeightFit& known : heightFits_)
        if (known.height == height && known.px == px && known.lines == lines) return known.fit;
    int fit = px;
    for (const int smallest = Smallest(px); fit > smallest; --fit)
        if (BlockHeight(measure.Metrics(fit), lines) <= height) break;
    heightFits_.push_back({height, px, lines, fit});
    return fit;
}

}  // namespace vimbrel
