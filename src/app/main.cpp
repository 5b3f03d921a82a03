#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/brintel_shot_app.h"
#include "app/repair_command.h"
#include "app/session_check.h"

namespace {

// False (after saying why on standard error) when no usable X display is there.
bool CheckSession() {
    SessionKind kind = ClassifySession(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                       std::getenv("XDG_SESSION_TYPE"));
    if (kind == SessionKind::NoX11) {
        std::fprintf(stderr, "brintelshot: %s\n", SessionMessage(kind));
        return false;
    }
    if (!XDisplayOpens()) {
        std::fprintf(stderr,
                     "brintelshot: BrintelShot needs an X11 session: cannot open the X "
                     "display \"%s\".\n",
                     std::getenv("DISPLAY"));
        return false;
    }
    if (kind == SessionKind::XWayland) {
        std::fprintf(stderr, "brintelshot: %s\n", SessionMessage(kind));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Repairing a file needs no display.
    if (argc == 3 && std::strcmp(argv[1], "--repair") == 0) {
        return RunRepairCommand(argv[2]);
    }
    if (!CheckSession()) {
        return 1;
    }
    PrepareQtEnvironment();
    CBrintelShotApp app(argc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    return app.exec();
}
