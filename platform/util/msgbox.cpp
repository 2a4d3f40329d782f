#include "platform/util/msgbox.h"

#include <cstdio>
#include <iterator>

namespace tq {

int DefaultButtonOf(unsigned style) {
    static const int kButtons[][3] = {
        {IDOK, 0, 0},                          // MB_OK
        {IDOK, IDCANCEL, 0},                   // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE},          // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL},               // MB_YESNOCANCEL
        {IDYES, IDNO, 0},                      // MB_YESNO
        {IDRETRY, IDCANCEL, 0},                // MB_RETRYCANCEL
        {IDCANCEL, IDTRYAGAIN, IDCONTINUE},    // MB_CANCELTRYCONTINUE
    };
    const unsigned type = style & MB_TYPEMASK;
    const int* buttons = kButtons[type < std::size(kButtons) ? type : MB_OK];
    const unsigned n = (style & MB_DEFMASK) >> 8;
    return n < 3 && buttons[n] != 0 ? buttons[n] : buttons[0];
}

int ShowMessageBox(HWND, const char* text, const char* caption, unsigned style) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
    std::fflush(stderr);
    return DefaultButtonOf(style);
}

}  // namespace tq
