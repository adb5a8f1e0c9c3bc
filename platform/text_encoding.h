// The charset of the output, and the built-in texts in it.
#pragma once

#include <cstddef>

// Returns a built-in text, given as its stored Shift_JIS bytes, in the output's charset. The
// result lives as long as the process.
const char* LocalText(const char* shiftJis);

// The length in bytes (1 or 2, at most `length`) of the character that begins `text` in the
// output's charset, so that a byte of ASCII inside a double-byte character is not taken for a
// character of its own.
size_t OutputCharacterLength(const char* text, size_t length);
