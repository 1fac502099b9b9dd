// Holds one file open with no sharing, as another program would, until told to
// let go: fault_locker <path> <event base name>. Signals <base>-ready once the
// file is open and waits for <base>-release (one minute at most).
#include <windows.h>

#include <string>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, (std::string(argv[2]) + "-ready").c_str());
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, (std::string(argv[2]) + "-release").c_str());
    if (!ready || !release)
        return 3;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 4;
    SetEvent(ready);
    WaitForSingleObject(release, 60000);
    CloseHandle(file);
    return 0;
}
