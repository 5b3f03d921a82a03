#include "capture/decimal_field.h"

#include <climits>
#include <cstdint>

namespace {
bool IsCSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}
}  // namespace

int ParseDecimalField(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && IsCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    const int64_t limit = negative ? -int64_t(INT_MIN) : int64_t(INT_MAX);
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > limit) {
            value = limit;  // keep reading digits, the result stays clamped
        }
    }
    return static_cast<int>(negative ? -value : value);
}
