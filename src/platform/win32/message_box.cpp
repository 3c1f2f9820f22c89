// The system's message box. Caption and text are code page 932 bytes, which the
// system shows as they are on a Japanese Windows (whose ANSI code page is 932).
#include <windows.h>

#include "platform/platform.h"

int32_t BackendMessageBox(void *owner, const char *text, const char *caption, uint32_t type) {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}
