// Standard output: every byte the program prints goes through here.
#pragma once

#include <cstddef>

// Appends bytes to the output. Output is buffered; it reaches the terminal a line at a time
// and a pipe or file in large blocks.
void WriteOutput(const char* bytes, size_t length);

// Appends text formatted as by printf.
void WriteFormatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes out what is buffered. Returns false if any output so far could not be written.
bool FinishOutput();

// Whether output has already failed; the walk stops then, as nothing more can be shown.
bool OutputFailed();
