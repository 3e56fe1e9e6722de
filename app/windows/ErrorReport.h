#pragma once

#include <QString>

#include <exception>
#include <functional>

class QWidget;

// Where the windows send a failure the user has to hear about: a message box by default.

namespace kavrel {

using TErrorSink = std::function<void(QWidget* parent, const QString& message)>;

// Replaces the message box (tests collect the messages instead); an empty sink restores it.
void SetErrorSink(TErrorSink sink);

// Shows message in a message box over parent (or through the sink that replaced it).
void ReportError(QWidget* parent, const QString& message);

// Runs handler; an exception that escapes it is reported and swallowed, so the program goes on.
// Returns false when one escaped.
bool RunGuarded(QWidget* parent, const std::function<void()>& handler);

} // namespace kavrel
