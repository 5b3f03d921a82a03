#pragma once

// Makes SIGTERM, SIGINT and SIGHUP end the Qt event loop normally (QCoreApplication::quit),
// so that the program's quit handling (finishing a running recording) runs instead of the
// process dying at once. Idempotent; needs a QCoreApplication.
void QuitOnTerminationSignals();
