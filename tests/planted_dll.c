/* A DLL to plant beside savelink.exe under the name of a DLL it could
   load. If it is ever loaded, it leaves "<its own path>.ran". It needs
   nothing but kernel32 and no C runtime. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    WCHAR path[MAX_PATH + 8];
    DWORD length;
    HANDLE marker;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        lstrcpyW(path + length, L".ran");
        marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (marker != INVALID_HANDLE_VALUE)
            CloseHandle(marker);
    }
    return TRUE;
}
