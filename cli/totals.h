#pragma once

// Writes the totals line: how many entries matched, and their sizes added up.
void PrintTotals();
