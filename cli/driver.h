// The driver: reads the command line, runs the walk, and prints the totals.
#pragma once

// Runs lumo on its arguments (argument 0 is not looked at) and returns the exit status.
int RunLumo(int argc, char** argv);
