#pragma once

#include <string>

// --repair FILE: finishes an interrupted recording. Returns the exit status.
int RunRepairCommand(const std::string& path);
