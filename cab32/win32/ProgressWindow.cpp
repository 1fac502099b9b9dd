#include "cab32/win32/ProgressWindow.h"

#include <commctrl.h>

#include <string>

namespace cab32 {

const char kProgressClass[] = "Cab32Progress";

namespace {

constexpr DWORD kShowAfterMs = 500;
constexpr DWORD kRefreshMs = 200;
constexpr int kIdFile = 100;
constexpr int kIdBar = 101;
constexpr int kIdTime = 102;
constexpr int kBarRange = 1000;

HINSTANCE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

// The font the system uses for message boxes, so the window's texts look like
// those of the program's dialogs; the stock GUI font when it cannot be made.
// Asked for in UTF-16: GDI would read an ANSI face name in the system's code
// page, which need not be the process's.
HFONT CreateMessageFont(bool& owned)
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    HFONT font = nullptr;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        font = CreateFontIndirectW(&metrics.lfMessageFont);
    owned = font != nullptr;
    return owned ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void RequestCancel(HWND window)
{
    RunControl* control = reinterpret_cast<RunControl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (control == nullptr || control->Cancelled())
        return;
    control->cancel = true;
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
    SetDlgItemTextA(window, kIdTime, "中止しています...");
}

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            RequestCancel(window);
        return 0;
    case WM_CLOSE: RequestCancel(window); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

std::string TimeLeft(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    if (s < 60)
        return "残り時間: 約" + std::to_string(s < 1 ? 1 : s) + "秒";
    return "残り時間: 約" + std::to_string(s / 60) + "分" + std::to_string(s % 60) + "秒";
}

class ProgressWindow
{
public:
    ProgressWindow(HWND owner, RunControl& control) : m_control(control)
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        HINSTANCE module = ThisModule();
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ProgressProc;
        wc.hInstance = module;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kProgressClass;
        m_registered = RegisterClassA(&wc) != 0;

        const int width = 440, height = 170;
        RECT area;
        if (!GetWindowRect(owner, &area))
            SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        const int x = area.left + (area.right - area.left - width) / 2;
        const int y = area.top + (area.bottom - area.top - height) / 2;
        m_window = CreateWindowExA(WS_EX_DLGMODALFRAME, kProgressClass, "キャビネットファイルを作成中",
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU, x < 0 ? 0 : x, y < 0 ? 0 : y, width, height,
                                   owner, nullptr, module, &control);
        if (m_window == nullptr)
            return;
        m_font = CreateMessageFont(m_ownsFont);
        RECT client;
        GetClientRect(m_window, &client);
        const int inner = client.right - 24;
        HWND controls[] = {
            CreateWindowExA(0, "STATIC", "ファイルを調べています...",
                            WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_PATHELLIPSIS, 12, 12, inner, 18, m_window,
                            reinterpret_cast<HMENU>(kIdFile), module, nullptr),
            CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 12, 36, inner, 18, m_window,
                            reinterpret_cast<HMENU>(kIdBar), module, nullptr),
            CreateWindowExA(0, "STATIC", "残り時間: 計算中...", WS_CHILD | WS_VISIBLE, 12, 62, inner, 18, m_window,
                            reinterpret_cast<HMENU>(kIdTime), module, nullptr),
            CreateWindowExA(0, "BUTTON", "キャンセル", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                            client.right - 112, client.bottom - 36, 100, 26, m_window,
                            reinterpret_cast<HMENU>(IDCANCEL), module, nullptr),
        };
        for (HWND c : controls)
            SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
        SendDlgItemMessageA(m_window, kIdBar, PBM_SETRANGE32, 0, kBarRange);
        ShowWindow(m_window, SW_SHOWNORMAL);
        UpdateWindow(m_window);
        m_start = GetTickCount();
    }

    ~ProgressWindow()
    {
        if (m_window != nullptr)
            DestroyWindow(m_window);
        if (m_ownsFont)
            DeleteObject(m_font);
        if (m_registered)
            UnregisterClassA(kProgressClass, ThisModule());
    }

    HWND Handle() const { return m_window; }

    // Shows where the run has got; the writing counts for 95% of the bar, the read-back for the rest.
    void Refresh()
    {
        if (m_window == nullptr || m_control.Cancelled())
            return;
        const RunPhase phase = m_control.phase;
        double fraction = 0;
        std::string what;
        if (phase == RunPhase::Listing) {
            what = "ファイルを調べています...";
        } else if (phase == RunPhase::Writing) {
            const uint64_t total = m_control.totalBytes;
            fraction = total ? 0.95 * static_cast<double>(m_control.doneBytes) / static_cast<double>(total) : 0.95;
            what = "追加中: " + m_control.File();
        } else {
            const uint64_t total = m_control.verifyTotal;
            fraction =
                0.95 + (total ? 0.05 * static_cast<double>(m_control.verifyDone) / static_cast<double>(total) : 0.05);
            what =
                phase == RunPhase::Verifying ? "作成したキャビネットファイルを検査しています..." : "仕上げています...";
        }
        if (what != m_shownFile) {
            SetDlgItemTextA(m_window, kIdFile, what.c_str());
            m_shownFile = what;
        }
        SendDlgItemMessageA(m_window, kIdBar, PBM_SETPOS, static_cast<WPARAM>(fraction * kBarRange), 0);
        const double elapsed = (GetTickCount() - m_start) / 1000.0;
        std::string left = "残り時間: 計算中...";
        if (phase != RunPhase::Listing && fraction > 0.02 && elapsed >= 1.0)
            left = TimeLeft(elapsed * (1.0 - fraction) / fraction);
        if (left != m_shownTime) {
            SetDlgItemTextA(m_window, kIdTime, left.c_str());
            m_shownTime = left;
        }
    }

private:
    RunControl& m_control;
    HWND m_window = nullptr;
    bool m_registered = false;
    HFONT m_font = nullptr;  // the texts' font
    bool m_ownsFont = false; // m_font was made here and is deleted with the window
    DWORD m_start = 0;
    std::string m_shownFile;
    std::string m_shownTime;
};

struct ThreadArgs
{
    const std::function<void()>* work;
};

DWORD WINAPI WorkThread(LPVOID param)
{
    (*static_cast<ThreadArgs*>(param)->work)();
    return 0;
}

} // namespace

namespace {

// What the pump saw of a WM_QUIT while the work ran.
struct QuitSeen
{
    bool seen = false; // the application asked to close
    int code = 0;      // its exit code, posted again once the work has ended
};

// Dispatches what is queued; the progress window's keys go to it. A WM_QUIT
// cancels the work and is kept for later.
void PumpMessages(ProgressWindow* window, RunControl& control, QuitSeen& quit)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit.seen = true;
            quit.code = static_cast<int>(msg.wParam);
            control.cancel = true;
            continue;
        }
        if (window == nullptr || window->Handle() == nullptr || !IsDialogMessageA(window->Handle(), &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

// Shows the progress window once the work has taken long enough, and refreshes it now and then.
void ShowProgress(ProgressWindow*& window, HWND owner, RunControl& control, DWORD start, DWORD& lastRefresh)
{
    const DWORD now = GetTickCount();
    if (window == nullptr && now - start >= kShowAfterMs) {
        try {
            window = new ProgressWindow(owner, control);
        } catch (...) {
            window = nullptr;
        }
    }
    if (window != nullptr && now - lastRefresh >= kRefreshMs) {
        lastRefresh = now;
        try {
            window->Refresh();
        } catch (...) {
        }
    }
}

} // namespace

void RunWithProgress(HWND owner, RunControl& control, const std::function<void()>& work)
{
    ThreadArgs args = {&work};
    HANDLE thread = CreateThread(nullptr, 0, WorkThread, &args, 0, nullptr);
    if (thread == nullptr) {
        work();
        return;
    }
    const bool wasEnabled = !EnableWindow(owner, FALSE);
    const DWORD start = GetTickCount();
    DWORD lastRefresh = 0;
    QuitSeen quit;
    ProgressWindow* window = nullptr;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0) {
        PumpMessages(window, control, quit);
        ShowProgress(window, owner, control, start, lastRefresh);
    }
    CloseHandle(thread);
    // The owner gets its input back before the progress window goes, so that it takes the focus.
    if (wasEnabled)
        EnableWindow(owner, TRUE);
    delete window;
    if (quit.seen)
        PostQuitMessage(quit.code);
}

} // namespace cab32
