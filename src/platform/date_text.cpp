#include "platform/date_text.h"

namespace cabsetup {

namespace {

// Zero-padded decimal digits; the printf family would cost setup.exe its
// whole floating-point formatter.
void AppendDigits(std::string& out, int value, int width) {
    char digits[8];
    for (int i = width - 1; i >= 0; --i, value /= 10) digits[i] = static_cast<char>('0' + value % 10);
    out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

std::string DateDigits(const LocalTime& t) {
    std::string text;
    AppendDigits(text, t.year % 10000, 4);
    AppendDigits(text, t.month % 100, 2);
    AppendDigits(text, t.day % 100, 2);
    return text;
}

std::string TimeDigits(const LocalTime& t) {
    std::string text;
    for (int part : {t.hour, t.minute, t.second}) AppendDigits(text, part % 100, 2);
    return text;
}

}  // namespace cabsetup
