// dismiss-box.exe COUNT OUT: plays the person who reads and closes COUNT message boxes, each written to OUT as a
// "caption|text" line; exits 1 when a box does not come within a minute.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "Text.h"

using lumivale::win32::Narrow;

namespace {

std::wstring TextOf(HWND window) {
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, 4096);
    return text;
}

// The box's message: its static controls' texts (the icon's is empty).
std::wstring MessageOf(HWND box) {
    std::wstring message;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM into) -> BOOL {
            wchar_t kind[64] = {};
            GetClassNameW(child, kind, 64);
            if (_wcsicmp(kind, L"Static") == 0) {
                for (wchar_t c : TextOf(child)) *reinterpret_cast<std::wstring*>(into) += c == L'\n' || c == L'\r' ? L' ' : c;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&message));
    return message;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: dismiss-box.exe COUNT OUT\n", stderr);
        return 2;
    }
    const int count = _wtoi(argv[1]);
    FILE* out = _wfopen(argv[2], L"wb");
    if (!out) return 2;
    HWND previous = nullptr;
    for (int i = 0; i < count; ++i) {
        HWND box = nullptr;
        for (int tries = 0; tries < 600 && !box; ++tries) {
            box = FindWindowW(L"#32770", nullptr);  // the dialog class of message boxes
            if (box == previous) box = nullptr;      // the last one, still closing on a busy machine
            if (!box) Sleep(100);
        }
        if (!box) {
            std::fprintf(stderr, "dismiss-box: box %d of %d never came\n", i + 1, count);
            std::fclose(out);
            return 1;
        }
        // Let the box finish making its controls: its message is there once they are.
        for (int tries = 0; tries < 200 && MessageOf(box).empty(); ++tries) Sleep(50);
        const std::string line = Narrow(TextOf(box)) + "|" + Narrow(MessageOf(box)) + "\n";
        std::fputs(line.c_str(), out);
        std::fflush(out);
        SendMessageW(box, WM_COMMAND, IDOK, 0);
        for (int tries = 0; tries < 600 && IsWindow(box); ++tries) Sleep(50);
        previous = box;
    }
    std::fclose(out);
    return 0;
}
