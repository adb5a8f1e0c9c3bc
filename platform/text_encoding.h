// The charset of the output, and the built-in texts in it.
#pragma once

// Returns a built-in text, given as its stored Shift_JIS bytes, in the output's charset. The
// result lives as long as the process.
const char* LocalText(const char* shiftJis);
