#include "app/repair_command.h"

#include <cstdio>

int RunRepairCommand(const std::string&) {
    std::fprintf(stderr, "brintelshot: --repair is not available\n");
    return 1;
}
