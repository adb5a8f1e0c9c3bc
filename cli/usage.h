#pragma once

// Writes the usage text.
void PrintUsage();
