// The one rule by which a name from a disk or a firmware variable is printed:
// the characters that would make a report show another name than the one stored
// (controls, line and paragraph separators, the bidirectional overrides and
// isolates, the byte order mark, unpaired surrogates) are shown as '.'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class PrintAs {
    Text,     // a GPT name, a boot entry description, a path: up to its first NUL
    FileName, // one component of a path: '\' and '/' and NUL are shown as '.' too
};

bool ShownAsDot(uint32_t code, PrintAs as);

// count little-endian UTF-16 units as UTF-8; a surrogate pair is one character.
std::string PrintableUtf16(const uint8_t* units, size_t count, PrintAs as);

// 8-bit text read as UTF-8; each byte of an invalid sequence is shown as '.'.
std::string PrintableBytes(const std::string& bytes, PrintAs as);
