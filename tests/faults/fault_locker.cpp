// Holds one file open with no sharing, as another program would, until it is
// ended (one minute at most): fault_locker <path>.
#include <windows.h>

int main(int argc, char** argv)
{
    if (argc != 2 || CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr) == INVALID_HANDLE_VALUE)
        return 2;
    Sleep(60000);
    return 0;
}
