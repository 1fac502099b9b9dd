// Drives the dialogs of a test from inside their own modal loops: each step runs
// on a thread timer (which every modal loop of the thread dispatches) and is
// retried until it reports that it is done. A step that opens a modal window
// must post the message that opens it, so that a later step can answer it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

class DialogScript
{
public:
    using Step = std::function<bool()>;

    DialogScript& Then(Step step)
    {
        m_steps.push_back(std::move(step));
        return *this;
    }
    // Starts the timer; Finished() tells whether every step ran.
    void Start(DWORD timeoutMs = 15000);
    void Stop();
    bool Finished() const { return m_next == m_steps.size(); }
    // The step that was waiting when the script gave up, or empty.
    std::string Failure() const { return m_failure; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void RunStep();

    std::vector<Step> m_steps;
    size_t m_next = 0;
    UINT_PTR m_timer = 0;
    DWORD m_deadline = 0;
    bool m_running = false;
    std::string m_failure;
};

// A visible "#32770" window of this thread, owned by owner, other than exclude; null when none.
HWND FindOwnedDialog(HWND owner, HWND exclude = nullptr);
// The text of a window (or of control id inside it), read as ANSI.
std::string WindowText(HWND hWnd, int id = 0);
// Posts WM_CHAR for each byte of an ASCII text to a control.
void TypeText(HWND control, const char* text);
// Presses a button of a dialog or message box by posting its command.
void PressButton(HWND dialog, int id);
