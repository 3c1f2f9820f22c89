// The DLL's entry point: the system calls it with the library's own module
// (its instance) when it loads the library and at the other events a DLL hears of.
#include <windows.h>

#include "interface/update_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return LibraryEntry(instance, reason, reserved) != 0 ? TRUE : FALSE;
}
