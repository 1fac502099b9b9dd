#include "framework/CListBox.h"

void CListBox::GetText(int index, CString& text) const
{
    int length = GetTextLen(index);
    if (length <= 0) {
        text.Empty();
        return;
    }
    LPSTR buffer = text.GetBuffer(length);
    int got = static_cast<int>(SendMessage(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer)));
    if (got < 0)
        buffer[0] = '\0';
    text.ReleaseBuffer();
}
