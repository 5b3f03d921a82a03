#pragma once

#include <QString>

// Path of the local help page: the installed copy beside the program
// (<prefix>/share/brintelshot/help/index.html), else the one in the source tree the program
// was built from. Empty when neither exists.
QString HelpPagePath();
