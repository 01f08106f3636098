// The process entry: the platform's start-up code calls it once. Arguments
// and environment are not looked at; a run has no choices.
#include "app/save_link.h"
#include "platform/platform.h"

#ifdef _WIN32

int wmain(int, wchar_t**, wchar_t**)
{
    LoadSystemLibraries();
    return RunSaveLink();
}

#else

int main(void)
{
    return RunSaveLink();
}

#endif
