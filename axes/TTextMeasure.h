#pragma once

#include <string>

namespace kavrel {

// Measures text in the axis's font, in pixels. The widget answers with the real font metrics,
// tests with fixed ones.
class TTextMeasure {
public:
    virtual ~TTextMeasure() = default;
    virtual int TextWidth(const std::string& text) = 0;
    virtual int TextHeight(const std::string& text) = 0;
};

} // namespace kavrel
