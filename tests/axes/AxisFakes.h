#pragma once

#include "axes/TAxisModel.h"

#include <string>
#include <vector>

// Fixed metrics: every character 7 pixels wide, every non-empty text 13 pixels high.
namespace kavrel::testing {

struct TLine {
    int x0, y0, x1, y1;
    bool operator==(const TLine&) const = default;
};

struct TText {
    int x, y;
    std::string text;
};

class TFakeHost : public TAxisHost {
public:
    int TextWidth(const std::string& text) override { return 7 * static_cast<int>(text.size()); }
    int TextHeight(const std::string& text) override { return text.empty() ? 0 : 13; }
    void Invalidate() override { ++invalidations; }
    void InvertLine(int x0, int y0, int x1, int y1) override
    {
        inverted.push_back({x0, y0, x1, y1});
    }
    void Resized(int width, int height) override
    {
        resizedWidth = width;
        resizedHeight = height;
        ++resizes;
    }

    int invalidations = 0;
    int resizes = 0;
    int resizedWidth = 0;
    int resizedHeight = 0;
    std::vector<TLine> inverted;
};

class TFakeCanvas : public TAxisCanvas {
public:
    void FillRect(int x, int y, int width, int height, TColor color) override
    {
        fills.push_back({x, y, width, height});
        fillColor = color;
    }
    void DrawText(int x, int y, const std::string& text) override { texts.push_back({x, y, text}); }
    void Line(int x0, int y0, int x1, int y1) override { lines.push_back({x0, y0, x1, y1}); }
    void InvertLine(int x0, int y0, int x1, int y1) override
    {
        inverted.push_back({x0, y0, x1, y1});
    }

    const TText* Find(const std::string& text) const
    {
        for (const auto& t : texts) {
            if (t.text == text) {
                return &t;
            }
        }
        return nullptr;
    }

    std::vector<TLine> fills;
    TColor fillColor = 0;
    std::vector<TText> texts;
    std::vector<TLine> lines;
    std::vector<TLine> inverted;
};

class TFakeDialog : public TAxisLimitDialog {
public:
    void SetLowValue(double value) override { shownLow = value; }
    void SetHighValue(double value) override { shownHigh = value; }
    bool Execute() override
    {
        ++executions;
        return confirm;
    }
    double ReadLow() const override { return typedLow; }
    double ReadHigh() const override { return typedHigh; }
    void SetAxisText(const std::string& text) override { axisText = text; }

    bool confirm = false;
    int executions = 0;
    double shownLow = 0, shownHigh = 0;
    double typedLow = 0, typedHigh = 0;
    std::string axisText;
};

} // namespace kavrel::testing
