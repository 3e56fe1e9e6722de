#pragma once

#include <cstddef>
#include <string>

namespace kavrel {

enum class TReadResult { Read, Missing, NotAFile, TooLarge, Failed };

// Reads the whole of `path` into `bytes` when it is a regular file of at most maxBytes (a link
// is followed). Never waits: a pipe or device in the file's place is opened without blocking and
// left unread (NotAFile). `bytes` is empty unless Read.
TReadResult ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes);

} // namespace kavrel
