// Reads the Windows program's windows from outside, for the real-window test
// under Wine, which drives the program with xdotool but cannot read Win32
// controls through X:
//   velmora_win32_probe centres        where the form's controls are: the
//                                      form's client size, then each control's
//                                      centre, in client pixels
//   velmora_win32_probe form           what the running form shows, one
//                                      NAME=VALUE per line: each field's text,
//                                      each box's state, the control with the
//                                      focus and its selection, the windows'
//                                      DPI awareness, the picture window's
//                                      frame, client size and scroll bars
//   velmora_win32_probe cancel TITLE   the centre of Cancel in the running
//                                      progress window TITLE, in its client area
//   velmora_win32_probe resources EXE  the icon sizes, product version and
//                                      DPI awareness built into EXE
// Exits with 1, saying why, when a window or file is not there.
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "resources/dialog_template.h"
#include "resources/resource_ids.h"
#include "ui_win32/dialog_memory.h"
#include "ui_win32/utf16.h"

using namespace velmora;

namespace {

int Fail(const char* what) {
    std::fprintf(stderr, "velmora_win32_probe: %s\n", what);
    return 1;
}

POINT Centre(HWND control, HWND dialog) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

INT_PTR CALLBACK Passive(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

int Centres() {
    const DialogTemplate& form = *FindDialogTemplate(IDD_MAIN);
    const DialogMemory memory(form);
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), memory.Get(), nullptr, Passive, 0);
    if (dialog == nullptr) {
        return Fail("the form could not be made");
    }
    RECT client;
    GetClientRect(dialog, &client);
    std::printf("IDD_MAIN %ld %ld\n", client.right, client.bottom);
    for (const ControlTemplate& control : form.controls) {
        if (control.id != IDC_STATIC) {
            const POINT centre = Centre(GetDlgItem(dialog, control.id), dialog);
            std::printf("%s %ld %ld\n", control.identifier, centre.x, centre.y);
        }
    }
    DestroyWindow(dialog);
    return 0;
}

// A control's text. GetWindowTextW would give, for another process's
// control, the text it was created with: the messages ask the control itself.
std::string Text(HWND window) {
    const auto length = static_cast<std::size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::vector<wchar_t> text(length + 1, L'\0');
    const auto copied = static_cast<std::size_t>(
        SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data())));
    return Utf8(std::wstring_view(text.data(), copied));
}

int Form() {
    HWND form = FindWindowW(L"#32770", L"Velmora");
    if (form == nullptr) {
        return Fail("no form is open");
    }
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &thread);
    for (const ControlTemplate& control : FindDialogTemplate(IDD_MAIN)->controls) {
        HWND item = GetDlgItem(form, control.id);
        if (control.kind == ControlKind::EditField) {
            std::printf("%s=%s\n", control.identifier, Text(item).c_str());
        } else if (control.kind == ControlKind::CheckBox) {
            const bool checked = SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED;
            std::printf("%s=%s\n", control.identifier, checked ? "checked" : "unchecked");
        }
        if (item != nullptr && item == thread.hwndFocus) {
            std::printf("focus=%s\n", control.identifier);
            if (control.kind == ControlKind::EditField) {
                DWORD start = 0;
                DWORD end = 0;
                SendMessageW(item, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
                std::printf("selection=%lu,%lu\n", start, end);
            }
        }
    }
    const DPI_AWARENESS awareness = GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(form));
    std::printf("dpi_awareness=%d\n", static_cast<int>(awareness));
    if (HWND picture = FindWindowW(L"#32770", L"Picture")) {
        RECT frame;
        RECT client;
        GetWindowRect(picture, &frame);
        GetClientRect(picture, &client);
        const auto style = GetWindowLongPtrW(picture, GWL_STYLE);
        std::printf("picture_frame=%ld,%ld,%ld,%ld\n", frame.left, frame.top, frame.right, frame.bottom);
        std::printf("picture_client=%ld,%ld\n", client.right, client.bottom);
        std::printf("picture_bars=%s%s\n", (style & WS_HSCROLL) ? "horizontal" : "",
                    (style & WS_VSCROLL) ? "vertical" : "");
    }
    return 0;
}

int Cancel(const char* title) {
    HWND progress = FindWindowW(L"#32770", Utf16(title).c_str());
    HWND cancel = progress != nullptr ? GetDlgItem(progress, IDCANCEL) : nullptr;
    if (cancel == nullptr) {
        return Fail("no progress window with a Cancel button is open");
    }
    const POINT centre = Centre(cancel, progress);
    std::printf("%ld %ld\n", centre.x, centre.y);
    return 0;
}

int Resources(const char* file) {
    const std::wstring name = Utf16(file);
    HMODULE module = LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        return Fail("the program cannot be read");
    }
    // The icon group: a 6-byte header, then 14 bytes per image, its width
    // first (0 for 256).
    if (HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON)) {
        const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
        const int count = bytes[4] | bytes[5] << 8;
        std::printf("icon=");
        for (int i = 0; i < count; ++i) {
            const int width = bytes[6 + 14 * i];
            std::printf("%s%d", i > 0 ? "," : "", width == 0 ? 256 : width);
        }
        std::printf("\n");
    }
    if (HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST)) {
        const auto* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        const std::string_view xml(text, SizeofResource(module, manifest));
        std::printf("manifest_dpi=%s\n", xml.find(">PerMonitorV2") != std::string_view::npos ? "PerMonitorV2" : "none");
    }
    FreeLibrary(module);
    DWORD ignored = 0;
    std::vector<BYTE> version(GetFileVersionInfoSizeW(name.c_str(), &ignored));
    wchar_t* product = nullptr;
    UINT length = 0;
    if (!version.empty() && GetFileVersionInfoW(name.c_str(), 0, static_cast<DWORD>(version.size()), version.data()) &&
        VerQueryValueW(version.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                       reinterpret_cast<void**>(&product), &length)) {
        std::printf("version=%s\n", Utf8(product).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "centres" && argc == 2) {
        return Centres();
    }
    if (command == "form" && argc == 2) {
        return Form();
    }
    if (command == "cancel" && argc == 3) {
        return Cancel(argv[2]);
    }
    if (command == "resources" && argc == 3) {
        return Resources(argv[2]);
    }
    return Fail("usage: velmora_win32_probe centres | form | cancel TITLE | resources EXE");
}
