#include "app/record_command.h"

#include <cstdio>

#include "app/command_line.h"

int RunRecordCommand(const CCommandLine&) {
    std::fprintf(stderr, "brintelshot: --record is not available yet\n");
    return 1;
}
