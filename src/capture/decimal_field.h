#pragma once

#include <QString>

// Reads a number the way C's atoi reads one: leading white space is skipped, an optional
// sign and the decimal digits that follow are taken, the first other character ends it, and
// a field without digits is 0. Unlike atoi, a number beyond the int range is clamped to
// INT_MIN or INT_MAX instead of being undefined.
int ParseDecimalField(const QString& text);
