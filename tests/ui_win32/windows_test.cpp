// The Win32 windows in a real Win32 session (Wine on a private X server in
// the tests): the in-memory templates, the text conversions, and the form
// and picture window driven through their messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/background_job.h"
#include "app/front_end.h"
#include "app/messages.h"
#include "noise/octave_noise.h"
#include "resources/dialog_template.h"
#include "resources/resource_ids.h"
#include "ui_win32/dialog_memory.h"
#include "ui_win32/main_window.h"
#include "ui_win32/picture_window.h"
#include "ui_win32/utf16.h"
#include "ui_win32/wait_cursor.h"

using namespace velmora;

namespace {

// Generous: Wine on a loaded machine.
constexpr auto Patience = std::chrono::seconds(60);

// Runs the thread's messages until done() holds; false if it never did.
bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
    return true;
}

INT_PTR CALLBACK Passive(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::string WindowText(HWND window) {
    std::vector<wchar_t> text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    return Utf8(text.data());
}

// A dialog made from a template in memory, destroyed with the test.
struct Dialog {
    explicit Dialog(int id)
        : memory(*FindDialogTemplate(id)),
          window(CreateDialogIndirectParamW(GetModuleHandleW(nullptr), memory.Get(), nullptr, Passive, 0)) {}
    ~Dialog() { DestroyWindow(window); }
    DialogMemory memory;
    HWND window;
};

TEST(DialogMemory, MakesEachControlAsTheTemplateSays) {
    const DialogTemplate& form = *FindDialogTemplate(IDD_MAIN);
    const Dialog dialog(IDD_MAIN);
    ASSERT_NE(dialog.window, nullptr);
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog.window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    ASSERT_EQ(children.size(), form.controls.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        const ControlTemplate& control = form.controls[i];
        SCOPED_TRACE(std::string(control.text) + " " + control.identifier);
        HWND child = children[i];
        EXPECT_EQ(GetDlgCtrlID(child), control.id == IDC_STATIC ? 0xFFFF : control.id);
        EXPECT_EQ(WindowText(child), control.text);
        const std::wstring expectedClass = control.kind == ControlKind::EditField ? L"Edit"
                                           : control.kind == ControlKind::Label   ? L"Static"
                                                                                  : L"Button";
        EXPECT_EQ(ClassName(child), expectedClass);
        // The type bits and the tab and group bits; the dialog manager turns
        // an edit field's border into a sunken edge of its own.
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
        constexpr DWORD Compared = 0xFFFF | WS_TABSTOP | WS_GROUP | WS_VISIBLE | WS_CHILD;
        EXPECT_EQ(style & Compared, ControlStyle(control.kind) & Compared) << std::hex << style;
        EXPECT_EQ((style & WS_TABSTOP) != 0, IsTabStop(control.kind));
        // The dialog manager converts the position and the size, each
        // rounded on its own: mapped as a rectangle, the fields are x, y,
        // width and height.
        RECT expected{control.rect.x, control.rect.y, control.rect.width, control.rect.height};
        MapDialogRect(dialog.window, &expected);
        RECT actual;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, dialog.window, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right - actual.left, expected.right);
        EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
    }
    // Tab goes through the tab stops in the template's order, and round.
    std::vector<int> tabOrder;
    for (const ControlTemplate& control : form.controls) {
        if (IsTabStop(control.kind)) {
            tabOrder.push_back(control.id);
        }
    }
    HWND stop = GetNextDlgTabItem(dialog.window, nullptr, FALSE);
    for (std::size_t i = 0; i <= tabOrder.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(stop, nullptr);
        EXPECT_EQ(GetDlgCtrlID(stop), tabOrder[i % tabOrder.size()]);
        stop = GetNextDlgTabItem(dialog.window, stop, FALSE);
    }
}

TEST(DialogMemory, MakesBothWindowsWithTheirCaptionStyleFontAndSize) {
    for (const int id : {IDD_MAIN, IDD_PICTURE}) {
        const DialogTemplate& dialogTemplate = *FindDialogTemplate(id);
        SCOPED_TRACE(dialogTemplate.identifier);
        const Dialog dialog(id);
        ASSERT_NE(dialog.window, nullptr);
        EXPECT_EQ(WindowText(dialog.window), dialogTemplate.caption);
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(dialog.window, GWL_STYLE));
        constexpr DWORD Compared = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_VISIBLE;
        EXPECT_EQ(style & Compared, dialogTemplate.style & Compared) << std::hex << style;
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog.window, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(Utf8(font.lfFaceName), dialogTemplate.fontName);
        EXPECT_EQ(font.lfHeight, -MulDiv(dialogTemplate.fontPointSize, static_cast<int>(GetDpiForWindow(dialog.window)), 72));
        RECT expected{0, 0, dialogTemplate.rect.width, dialogTemplate.rect.height};
        MapDialogRect(dialog.window, &expected);
        RECT client;
        GetClientRect(dialog.window, &client);
        EXPECT_EQ(client.right, expected.right);
        EXPECT_EQ(client.bottom, expected.bottom);
    }
}

TEST(Utf16, TextGoesBothWaysAndBrokenTextBecomesReplacementCharacters) {
    const struct {
        std::string utf8;
        std::wstring utf16;
        std::string back;  // what utf16 gives back in UTF-8
    } cases[] = {
        {"", L"", ""},
        {"maps/a.bmp", L"maps/a.bmp", "maps/a.bmp"},
        {"\xe2\x80\x9c" "K\xc3\xb6ln" "\xe2\x80\x9d", L"\u201cK\u00f6ln\u201d", "\xe2\x80\x9c" "K\xc3\xb6ln" "\xe2\x80\x9d"},
        {"\xf0\x9f\x97\xba", L"\xd83d\xddfa", "\xf0\x9f\x97\xba"},  // beyond the first plane: a surrogate pair
        {"a\xff" "b", L"a\ufffd" "b", "a\xef\xbf\xbd" "b"},         // not UTF-8
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.back);
        EXPECT_EQ(Utf16(c.utf8), c.utf16);
        EXPECT_EQ(Utf8(c.utf16), c.back);
    }
    EXPECT_EQ(Utf8(std::wstring(L"x\xd800y")), "x\xef\xbf\xbdy");  // an unpaired surrogate
}

// Closes every message box the test's windows show, keeping their texts and
// icons, from a thread of its own: a message box runs its own loop until it
// is closed.
class MessageBoxCloser {
public:
    struct Shown {
        std::string caption;
        std::string text;
        HICON icon;
    };

    MessageBoxCloser()
        : thread_([this](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  if (HWND box = FindWindowW(L"#32770", Utf16(messages::WarningCaption).c_str());
                      box != nullptr && IsWindowVisible(box)) {
                      Shown shown{WindowText(box), {}, nullptr};
                      // The text and the icon are static controls.
                      for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
                           child = GetWindow(child, GW_HWNDNEXT)) {
                          if (ClassName(child) != L"Static") {
                              continue;
                          }
                          if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                              shown.icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
                          } else if (shown.text.empty()) {
                              shown.text = WindowText(child);
                          }
                      }
                      const std::lock_guard lock(mutex_);
                      shown_.push_back(shown);
                      SendMessageW(box, WM_COMMAND, IDOK, 0);
                  }
                  Sleep(10);
              }
          }) {}

    std::vector<Shown> Boxes() {
        const std::lock_guard lock(mutex_);
        return shown_;
    }

private:
    std::mutex mutex_;
    std::vector<Shown> shown_;
    std::jthread thread_;
};

// Work that runs until it is asked to stop.
class UntilStopped final : public BackgroundJob {
public:
    void Run() override {
        while (!stop_) {
            Sleep(1);
        }
    }
    void Stop() noexcept override { stop_ = true; }
    [[nodiscard]] bool StopAsked() const noexcept override { return stop_; }
    [[nodiscard]] double Progress() const noexcept override { return 0.25; }

private:
    std::atomic<bool> stop_{false};
};

// One action taken from inside a wait, by a thread timer that the wait's
// loop runs; act returns true once it has acted.
class DuringWait {
public:
    explicit DuringWait(std::function<bool()> act) : act_(std::move(act)) {
        current = this;
        timer_ = SetTimer(nullptr, 0, 20, Tick);
    }
    ~DuringWait() {
        KillTimer(nullptr, timer_);
        current = nullptr;
    }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (current != nullptr && !current->done_ && current->act_()) {
            current->done_ = true;
        }
    }
    static inline DuringWait* current = nullptr;
    std::function<bool()> act_;
    UINT_PTR timer_ = 0;
    bool done_ = false;
};

std::unique_ptr<PictureWindow> NoPictureWindow(const AppState&, HINSTANCE) {
    return nullptr;
}

// A fresh form for each test, open and modeless, below where the picture
// window goes so that the two do not overlap.
class FormTest : public testing::Test {
protected:
    void Open(MainWindow::PictureFactory createPicture = PictureWindow::Create) {
        form_ = std::make_unique<MainWindow>(state_, noise_, GetModuleHandleW(nullptr), createPicture);
        ASSERT_NE(form_->OpenModeless(), nullptr);
        SetWindowPos(form_->Window(), nullptr, 0, 600, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        ASSERT_TRUE(PumpUntil([this] { return GetForegroundWindow() == form_->Window(); }));
    }
    void TearDown() override {
        form_.reset();
        ShowWaitCursor(false);
    }

    HWND Item(int id) const { return GetDlgItem(form_->Window(), id); }
    void Type(int id, const wchar_t* text) { SetDlgItemTextW(form_->Window(), id, text); }
    // Clicks a button as the mouse would; returns once its command has.
    void Click(int id) { SendMessageW(Item(id), BM_CLICK, 0, 0); }
    HWND Picture() const { return form_->Picture()->Window(); }
    // The map's pixel at (x, y) from the top-left, as the window shows it.
    COLORREF MapPixel(int x, int y) const {
        const Bitmap& map = *state_.image;
        const std::uint8_t* pixel = map.Row(map.Height() - 1 - y) + 3 * x;
        return RGB(pixel[2], pixel[1], pixel[0]);
    }

    AppState state_;
    OctaveNoise noise_;
    std::unique_ptr<MainWindow> form_;
};

TEST_F(FormTest, StartsWithTheStartTextsAndTheFocusInOctavesWithItsTextSelected) {
    Open();
    for (const messages::StartText& start : messages::StartTexts) {
        SCOPED_TRACE(start.id);
        EXPECT_EQ(form_->GetFieldText(start.id), start.text);
    }
    EXPECT_EQ(form_->GetFieldText(IDC_FILENAME), "");
    EXPECT_EQ(GetFocus(), Item(IDC_OCTAVES));
    const auto selection = static_cast<DWORD>(SendMessageW(Item(IDC_OCTAVES), EM_GETSEL, 0, 0));
    EXPECT_EQ(LOWORD(selection), 0);
    EXPECT_EQ(HIWORD(selection), 1);
    ASSERT_NE(form_->Picture(), nullptr);
    EXPECT_TRUE(IsWindowVisible(Picture()));
    // Neither Enter and Escape nor a close request to the picture window
    // closes anything.
    SendMessageW(form_->Window(), WM_COMMAND, IDOK, 0);
    SendMessageW(form_->Window(), WM_COMMAND, IDCANCEL, 0);
    SendMessageW(Picture(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(form_->Ended());
    EXPECT_TRUE(IsWindowVisible(form_->Window()));
    EXPECT_TRUE(IsWindowVisible(Picture()));
}

TEST_F(FormTest, EachFieldFollowsItsLabelAndTabbingKeepsItsOrder) {
    Open();
    const struct {
        int field;
        const char* label;
    } pairs[] = {
        {IDC_WIDTH, "Width"},          {IDC_HEIGHT, "Height"},         {IDC_OCTAVES, "Octaves"},
        {IDC_AMPLITUDE, "Amplitude"},  {IDC_FREQUENCY, "Frequency"},   {IDC_PERSISTENCE, "Persistence"},
        {IDC_FILENAME, "Save to file"},
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(pair.label);
        HWND before = GetWindow(Item(pair.field), GW_HWNDPREV);
        EXPECT_EQ(ClassName(before), L"Static");
        EXPECT_EQ(WindowText(before), pair.label);
    }
    std::vector<int> tabOrder;
    for (const ControlTemplate& control : FindDialogTemplate(IDD_MAIN)->controls) {
        if (IsTabStop(control.kind)) {
            tabOrder.push_back(control.id);
        }
    }
    HWND stop = Item(tabOrder.front());
    for (std::size_t i = 1; i <= tabOrder.size(); ++i) {
        stop = GetNextDlgTabItem(form_->Window(), stop, FALSE);
        EXPECT_EQ(GetDlgCtrlID(stop), tabOrder[i % tabOrder.size()]) << i;
    }
}

TEST_F(FormTest, AMapWiderThanTheScreenScrollsAndIsDrawnWhereItIsScrolledTo) {
    Open();
    Type(IDC_WIDTH, L"5000");
    Type(IDC_HEIGHT, L"100");
    Click(IDC_GENERATE);
    ASSERT_EQ(state_.imageReady, 1);
    const auto style = GetWindowLongPtrW(Picture(), GWL_STYLE);
    EXPECT_NE(style & WS_HSCROLL, 0);
    EXPECT_EQ(style & WS_VSCROLL, 0);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(Picture(), MONITOR_DEFAULTTONEAREST), &monitor);
    RECT frame;
    GetWindowRect(Picture(), &frame);
    const int dpi = static_cast<int>(GetDpiForWindow(Picture()));
    EXPECT_EQ(frame.left, MulDiv(200, dpi, 96));
    EXPECT_EQ(frame.top, MulDiv(10, dpi, 96));
    EXPECT_LE(frame.right, monitor.rcWork.right);
    RECT client;
    GetClientRect(Picture(), &client);
    EXPECT_EQ(client.bottom, 100);

    SendMessageW(Picture(), WM_HSCROLL, SB_PAGEDOWN, 0);
    const POINT scroll = form_->Picture()->ScrollPosition();
    EXPECT_EQ(scroll.x, client.right);
    UpdateWindow(Picture());
    HDC dc = GetDC(Picture());
    for (const POINT at : {POINT{0, 0}, POINT{client.right - 1, 99}}) {
        SCOPED_TRACE(std::to_string(at.x) + "," + std::to_string(at.y));
        EXPECT_EQ(GetPixel(dc, at.x, at.y), MapPixel(scroll.x + at.x, at.y));
    }
    ReleaseDC(Picture(), dc);

    // A Generate that makes no map, cancelled here, puts the window and its
    // scrolling back.
    Type(IDC_WIDTH, L"4096");
    Type(IDC_HEIGHT, L"4096");
    Type(IDC_OCTAVES, L"2147483647");
    Type(IDC_PERSISTENCE, L"0.9999");
    Click(IDC_VARY_AMPLITUDE);
    const DuringWait cancel([&] {
        HWND progress = form_->ProgressWindow();
        if (progress == nullptr) {
            return false;
        }
        SendDlgItemMessageW(progress, IDCANCEL, BM_CLICK, 0, 0);
        return true;
    });
    Click(IDC_GENERATE);
    EXPECT_EQ(state_.image->Width(), 5000);
    RECT after;
    GetWindowRect(Picture(), &after);
    EXPECT_TRUE(EqualRect(&after, &frame));
    EXPECT_EQ(form_->Picture()->ScrollPosition().x, scroll.x);
}

TEST_F(FormTest, WithoutAPictureWindowItSaysSoAndStillMakesMaps) {
    MessageBoxCloser closer;
    Open(NoPictureWindow);
    ASSERT_TRUE(PumpUntil([&] { return !closer.Boxes().empty(); }));
    const std::vector<MessageBoxCloser::Shown> boxes = closer.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, messages::WarningCaption);
    EXPECT_EQ(boxes[0].text, messages::NoPictureWindow);
    EXPECT_EQ(boxes[0].icon, LoadIconW(nullptr, IDI_INFORMATION));
    Type(IDC_WIDTH, L"64");
    Type(IDC_HEIGHT, L"32");
    Click(IDC_GENERATE);
    EXPECT_EQ(state_.imageReady, 1);
    EXPECT_EQ(state_.image->Width(), 64);
}

TEST_F(FormTest, ARefusalIsAWarningWithTheWarningIcon) {
    Open();
    MessageBoxCloser closer;
    Type(IDC_FILENAME, L"");
    Type(IDC_WIDTH, L"-3");
    Click(IDC_GENERATE);
    const std::vector<MessageBoxCloser::Shown> boxes = closer.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, messages::WarningCaption);
    EXPECT_EQ(boxes[0].text, messages::NoPixel(-3, 512, false));
    EXPECT_EQ(boxes[0].icon, LoadIconW(nullptr, IDI_WARNING));
}

TEST_F(FormTest, WhileWorkRunsInputIsDroppedAndEscapeStopsIt) {
    Open();
    UntilStopped job;
    std::jthread worker([&] {
        job.Run();
        job.MarkFinished();
        form_->Wake();
    });
    PostMessageW(Item(IDC_WIDTH), WM_CHAR, L'7', 0);
    PostMessageW(Item(IDC_GENERATE), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(Item(IDC_GENERATE), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    PostMessageW(Item(IDC_OCTAVES), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(form_->WaitFor(job, {"Generate", "Generating"}));
    EXPECT_TRUE(job.StopAsked());
    EXPECT_EQ(form_->GetFieldText(IDC_WIDTH), "512");
    EXPECT_EQ(state_.imageReady, 0);  // the click on Generate did nothing
    // Nothing was kept for later either.
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_MOUSELAST, PM_NOREMOVE));
}

TEST_F(FormTest, LongWorkOpensAProgressWindowThatLeavesTheKeyboardAndCancels) {
    Open();
    UntilStopped job;
    std::jthread worker([&] {
        job.Run();
        job.MarkFinished();
        form_->Wake();
    });
    std::string title;
    std::string text;
    HWND foreground = nullptr;
    HWND focus = nullptr;
    int position = -1;
    const DuringWait cancel([&] {
        HWND progress = form_->ProgressWindow();
        if (progress == nullptr || !IsWindowVisible(progress)) {
            return false;
        }
        title = WindowText(progress);
        text = WindowText(GetDlgItem(progress, 100));
        position = static_cast<int>(SendDlgItemMessageW(progress, 101, PBM_GETPOS, 0, 0));
        foreground = GetForegroundWindow();
        focus = GetFocus();
        SendDlgItemMessageW(progress, IDCANCEL, BM_CLICK, 0, 0);
        return true;
    });
    EXPECT_TRUE(form_->WaitFor(job, {"Save", "Saving the map to \u201cK\u00f6ln.bmp\u201d\u2026"}));
    EXPECT_TRUE(job.StopAsked());
    EXPECT_EQ(title, "Save");
    EXPECT_EQ(text, "Saving the map to \u201cK\u00f6ln.bmp\u201d\u2026");
    EXPECT_EQ(position, 250'000);  // a quarter of the bar
    EXPECT_EQ(foreground, form_->Window());
    EXPECT_EQ(focus, Item(IDC_OCTAVES));
    EXPECT_EQ(form_->ProgressWindow(), nullptr);
}

TEST_F(FormTest, TheWaitCursorShowsOverTheClientAreaOnly) {
    Open();
    const auto setCursor = [&](HWND window, int hit) {
        return SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(hit, WM_MOUSEMOVE));
    };
    form_->SetWaitCursor(true);
    for (HWND window : {form_->Window(), Item(IDC_WIDTH), Picture()}) {
        SetCursor(nullptr);
        EXPECT_TRUE(setCursor(window, HTCLIENT));
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
    }
    SetCursor(nullptr);
    setCursor(Picture(), HTBOTTOMRIGHT);  // the frame keeps its resizing cursor
    EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
    form_->SetWaitCursor(false);
    SetCursor(nullptr);
    setCursor(form_->Window(), HTCLIENT);
    EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
}

TEST_F(FormTest, ALongFileNameIsCutInTheMiddleKeepingItsFolderAndEnd) {
    Open();
    EXPECT_EQ(form_->ShownFileName("maps\\a.bmp"), "maps\\a.bmp");
    const std::string name = "C:\\maps\\" + std::string(300, 'x') + "\\the end.bmp";
    const std::string shown = form_->ShownFileName(name);
    SCOPED_TRACE(shown);
    EXPECT_LT(shown.size(), name.size());
    EXPECT_NE(shown.find("..."), std::string::npos);
    EXPECT_TRUE(shown.starts_with("C:\\"));
    EXPECT_TRUE(shown.ends_with("\\the end.bmp"));
}

}  // namespace
