#pragma once

#include <string>

namespace kavrel {

// The dialog in which the user types both ends of an axis (a double click on the axis opens it).
class TAxisLimitDialog {
public:
    virtual ~TAxisLimitDialog() = default;
    // Shows the value in the low edit and remembers it as the fallback for ReadLow.
    virtual void SetLowValue(double value) = 0;
    // Shows the value in the high edit and remembers it as the fallback for ReadHigh.
    virtual void SetHighValue(double value) = 0;
    // Shows the dialog modally; true only when the user confirmed with "&Ok".
    virtual bool Execute() = 0;
    // The low edit's number, or the remembered value when the text is not a number.
    virtual double ReadLow() const = 0;
    // The high edit's number, or the remembered value when the text is not a number.
    virtual double ReadHigh() const = 0;
    // Sets the captions to "High value " and "Low value " followed by the axis text.
    virtual void SetAxisText(const std::string& text) = 0;
};

} // namespace kavrel
