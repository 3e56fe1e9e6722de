#pragma once

// File names and command-line words are bytes, not always UTF-8. These turn them into QStrings
// and back without losing a byte: a byte that is not part of valid UTF-8 becomes the lone
// surrogate U+DC00 + byte (as Python's "surrogateescape" does), which NativeName turns back.
// QFile::decodeName would replace such bytes, and the file could not be opened.

#include <QString>

#include <string>
#include <string_view>

namespace kavrel {

// The bytes as text: valid UTF-8 decoded, every other byte kept as an escape.
QString TextFromNative(std::string_view bytes);
// The bytes TextFromNative was given; other text as UTF-8.
std::string NativeName(const QString& text);

} // namespace kavrel
