// Message boxes without a window system.
//
// The store asks its host to show message boxes; a host without a user
// interface (and the default application) gets this stand-in, which writes
// the caption and the text to standard error and answers as if the user had
// pressed the box's default button. The style bits and answer ids keep the
// values hosts pass and compare with.
#pragma once

namespace tq {

using HWND = void*;

// Buttons (style bits 0-3).
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ABORTRETRYIGNORE = 0x2,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_CANCELTRYCONTINUE = 0x6,
    MB_TYPEMASK = 0xF,
    MB_ICONHAND = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONASTERISK = 0x40,
    MB_DEFBUTTON1 = 0x000,
    MB_DEFBUTTON2 = 0x100,
    MB_DEFBUTTON3 = 0x200,
    MB_DEFBUTTON4 = 0x300,
    MB_DEFMASK = 0xF00,
};

// Answers: the button that closed the box.
enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDABORT = 3,
    IDRETRY = 4,
    IDIGNORE = 5,
    IDYES = 6,
    IDNO = 7,
    IDTRYAGAIN = 10,
    IDCONTINUE = 11,
};

// The id of the default button of a box of this style: the button that
// MB_DEFBUTTONn names, or the first when the box has no n-th button.
int DefaultButtonOf(unsigned style);

// Writes "<caption>: <text>" to standard error (a null caption reads
// "Error", as the system's boxes do) and returns DefaultButtonOf(style).
int ShowMessageBox(HWND owner, const char* text, const char* caption, unsigned style);

}  // namespace tq
