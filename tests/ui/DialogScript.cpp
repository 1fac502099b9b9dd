#include "DialogScript.h"

namespace {
DialogScript* g_active = nullptr;

struct FindData {
    HWND owner;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK FindOwned(HWND hWnd, LPARAM lParam)
{
    FindData* data = reinterpret_cast<FindData*>(lParam);
    char className[32] = {};
    GetClassNameA(hWnd, className, sizeof className);
    if (hWnd != data->exclude && lstrcmpA(className, "#32770") == 0 && IsWindowVisible(hWnd) &&
        (!data->owner || GetWindow(hWnd, GW_OWNER) == data->owner)) {
        data->found = hWnd;
        return FALSE;
    }
    return TRUE;
}
} // namespace

void DialogScript::Start(DWORD timeoutMs)
{
    g_active = this;
    m_deadline = GetTickCount() + timeoutMs;
    m_timer = SetTimer(nullptr, 0, 20, &DialogScript::Tick);
}

void DialogScript::Stop()
{
    if (m_timer)
        KillTimer(nullptr, m_timer);
    m_timer = 0;
    if (g_active == this)
        g_active = nullptr;
}

void CALLBACK DialogScript::Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_active)
        g_active->RunStep();
}

void DialogScript::RunStep()
{
    if (m_running || Finished())
        return;
    if (static_cast<LONG>(GetTickCount() - m_deadline) > 0) {
        m_failure = "timed out at step " + std::to_string(m_next);
        // Close whatever modal window is open so that the test can go on.
        HWND open = GetActiveWindow();
        if (open)
            PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    m_running = true;
    bool done = m_steps[m_next]();
    m_running = false;
    if (done)
        ++m_next;
    if (Finished())
        Stop();
}

HWND FindOwnedDialog(HWND owner, HWND exclude)
{
    FindData data{ owner, exclude, nullptr };
    EnumThreadWindows(GetCurrentThreadId(), &FindOwned, reinterpret_cast<LPARAM>(&data));
    return data.found;
}

std::string WindowText(HWND hWnd, int id)
{
    HWND target = id ? GetDlgItem(hWnd, id) : hWnd;
    char text[1024] = {};
    GetWindowTextA(target, text, sizeof text);
    return text;
}

void TypeText(HWND control, const char* text)
{
    for (const char* p = text; *p; ++p)
        PostMessageA(control, WM_CHAR, static_cast<unsigned char>(*p), 1);
}

void PressButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
