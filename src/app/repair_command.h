#pragma once

#include <string>

// Finishes the unfinished recording at path (`--repair FILE`) and says what it recovered on
// standard output, or why it did not on standard error. The exit status: 0 when the file was
// repaired or was already finished, 2 when it is not an unfinished recording of this program,
// 1 when reading or writing it failed.
int RunRepairCommand(const std::string& path);

// Finishes the recordings that an earlier run left unfinished in folder (only its
// "Recode_*.avi" files that are unfinished recordings of this program). Returns a short
// text naming what was recovered, empty when there was nothing; the same goes to standard
// output.
std::string RepairUnfinishedRecordings(const std::string& folder);
