#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kavrel {

// The name endings of the sound files the program opens, lower case, without the dot: "wav",
// "flac", "ogg", "oga", "opus", "mp3", "aif", "aiff", "aifc", "caf", "w64", "rf64".
std::span<const std::string_view> SoundFileExtensions() noexcept;

// The ending of the file's name after its last ".", in lower case ("Take.WAV" gives "wav"); empty
// when the name has no ".".
std::string FileNameExtension(std::string_view path);

// True when `path` ends in "." and one of SoundFileExtensions(), in any case. What a file holds
// decides how it is read; the name only decides what is offered (open dialog, drag and drop).
bool IsSoundFileName(std::string_view path);

// True when `path` names a sound format the program reads but does not write (".ogg", ".mp3",
// ".aiff" …): sound is saved as a wave file or as FLAC only.
bool IsReadOnlySoundName(std::string_view path);

} // namespace kavrel
