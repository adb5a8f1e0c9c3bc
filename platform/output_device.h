// Standard output as each platform provides it, under the buffer that console.cpp keeps.
#pragma once

#include <cstddef>

// What each "\n" of the program's text becomes on the way out.
extern const char kLineEnd[];

// Writes all of `bytes`; false when standard output refused any of them.
bool WriteToDevice(const char* bytes, size_t length);

// Whether standard output is a terminal, which gets the output a line at a time.
bool DeviceIsInteractive();

// Whether standard output is open for writing, asked only when nothing has been written.
bool DeviceIsWritable();
