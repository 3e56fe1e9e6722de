#pragma once

#include <span>
#include <string_view>

namespace kavrel {

// The name endings of the sound files the program opens, lower case, without the dot: "wav",
// "flac", "ogg", "oga", "opus", "mp3", "aif", "aiff", "aifc", "caf", "w64", "rf64".
std::span<const std::string_view> SoundFileExtensions() noexcept;

// True when `path` ends in "." and one of SoundFileExtensions(), in any case. What a file holds
// decides how it is read; the name only decides what is offered (open dialog, drag and drop).
bool IsSoundFileName(std::string_view path) noexcept;

} // namespace kavrel
