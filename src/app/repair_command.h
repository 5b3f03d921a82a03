#pragma once

#include <atomic>
#include <string>

// Finishes the unfinished recording at path (`--repair FILE`) and says what it recovered on
// standard output, or why it did not on standard error. The exit status: 0 when the file was
// repaired or was already finished, 2 when it is not an unfinished recording of this program
// (or holds no complete frame), 1 when reading or writing it failed.
int RunRepairCommand(const std::string& path);

// Finishes the recordings that an earlier run left unfinished in folder (its "*.avi" files
// that are unfinished recordings of this program) and removes the empty leftovers of
// recordings that ended before their first frame. Returns a short text naming what was
// recovered or removed, empty when there was nothing; the same goes to standard output.
// A set cancel flag ends it early.
std::string RepairUnfinishedRecordings(const std::string& folder,
                                       const std::atomic<bool>* cancel = nullptr);
