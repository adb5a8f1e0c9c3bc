// The process around the run: what each platform sets up before the driver starts.
#pragma once

// Prepares the process for the run: standard descriptors, signals, limits, the output charset.
// The arguments are the program's as the runtime split them; a platform that reads the command
// line more faithfully itself may put its own reading in their place.
void PrepareProcess(int* argc, char*** argv);
