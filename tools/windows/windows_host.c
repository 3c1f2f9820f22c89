/* A Windows host of the update library. It loads the DLL given as the first
 * argument with LoadLibraryA, finds the seven exports with GetProcAddress, as a
 * host of the product does, and runs the commands that follow, printing one
 * line for each:
 *   register | unregister | open PATH | close | update | list CODE
 *   preview CODE WIDTH HEIGHT FILE
 *       draws the picture into a window whose client area is WIDTH x HEIGHT,
 *       reads the window back with BitBlt and writes its pixels to FILE as
 *       rows of red, green, blue bytes, top row first
 * Verdict texts are printed in UTF-8.
 *
 * No message box waits for a person: a computer-based-training hook sees each
 * box as it is activated, reads its caption, text, buttons and icon, appends
 * them as a JSON line to the file named by SKELMORA_MESSAGE_LOG, and presses a
 * button. The button is the next number of SKELMORA_MESSAGE_ANSWERS (comma-
 * separated, 1 = OK, 2 = Cancel); when none is left, Cancel on a box that has
 * one and OK on any other. The lines are those that the library's POSIX build
 * writes, so that the two can be compared. */
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "skupdater.h"

typedef int32_t(SK_CALL *RegisterCall)(void *);
typedef int32_t(SK_CALL *NoArgumentCall)(void);
typedef int32_t(SK_CALL *OpenCall)(const char *);
typedef int32_t(SK_CALL *ListCall)(int32_t, int32_t, char *);
typedef int32_t(SK_CALL *ListPictureCall)(int32_t, int32_t, void *);

static HMODULE g_library;
static const char *g_answers; /* what is left of SKELMORA_MESSAGE_ANSWERS */
static const char kAnsweredProperty[] = "SkelmoraHostAnswered";
static const char kPreviewClass[] = "SkelmoraHostPreview";

/* Any function: the type that every exported function's type is cast through. */
typedef void (*AnyCall)(void);

static AnyCall Export(const char *name) {
    AnyCall found = (AnyCall)GetProcAddress(g_library, name);
    if (found == NULL) {
        fprintf(stderr, "no export %s\n", name);
        exit(2);
    }
    return found;
}

/* Text as UTF-8 in out, cut to fit. */
static void Utf8FromWide(const wchar_t *wide, char *out, int size) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, size, NULL, NULL);
    if (n <= 0) out[0] = '\0';
    out[size - 1] = '\0';
}

static void Utf8FromCodePage932(const char *text, char *out, int size) {
    wchar_t wide[512];
    if (MultiByteToWideChar(932, 0, text, -1, wide, 512) <= 0) wide[0] = 0;
    wide[511] = 0;
    Utf8FromWide(wide, out, size);
}

/* Appends text to out as a JSON string, as the POSIX message log writes it. */
static void AppendJsonString(char *out, size_t size, const char *text) {
    size_t at = strlen(out);
    const unsigned char *c;
    if (at + 1 < size) out[at++] = '"';
    for (c = (const unsigned char *)text; *c != 0 && at + 8 < size; ++c) {
        if (*c == '"' || *c == '\\') {
            out[at++] = '\\';
            out[at++] = (char)*c;
        } else if (*c < 0x20) {
            at += (size_t)sprintf(out + at, "\\u%04x", *c);
        } else {
            out[at++] = (char)*c;
        }
    }
    if (at + 1 < size) out[at++] = '"';
    out[at] = '\0';
}

static int ButtonShown(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    return button != NULL && (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE) != 0;
}

/* The box's buttons as the type's low bits. */
static UINT ButtonsOf(HWND box) {
    if (ButtonShown(box, IDYES)) return ButtonShown(box, IDCANCEL) ? MB_YESNOCANCEL : MB_YESNO;
    if (ButtonShown(box, IDABORT)) return MB_ABORTRETRYIGNORE;
    if (ButtonShown(box, IDRETRY)) return MB_RETRYCANCEL;
    return ButtonShown(box, IDCANCEL) ? MB_OKCANCEL : MB_OK;
}

static BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
    char name[16];
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (GetClassNameA(child, name, sizeof name) > 0 && lstrcmpiA(name, "Static") == 0 &&
        (style & SS_TYPEMASK) == SS_ICON && (style & WS_VISIBLE) != 0) {
        *(HICON *)found = (HICON)SendMessageW(child, STM_GETICON, 0, 0);
        return *(HICON *)found == NULL;
    }
    return TRUE;
}

/* The box's icon as the type's icon bits: the system's shared icons are the
 * same handles for every caller. */
static UINT IconOf(HWND box) {
    static const struct {
        LPCSTR id;
        UINT bits;
    } kIcons[] = {{IDI_HAND, MB_ICONHAND},
                  {IDI_QUESTION, MB_ICONQUESTION},
                  {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                  {IDI_ASTERISK, MB_ICONASTERISK}};
    HICON icon = NULL;
    size_t i;
    EnumChildWindows(box, FindIcon, (LPARAM)&icon);
    for (i = 0; icon != NULL && i < sizeof kIcons / sizeof kIcons[0]; ++i) {
        if (LoadIconA(NULL, kIcons[i].id) == icon) return kIcons[i].bits;
    }
    return 0;
}

static int NextAnswer(UINT buttons) {
    if (g_answers != NULL && *g_answers != '\0') {
        char *end;
        long answer = strtol(g_answers, &end, 10);
        g_answers = *end == ',' ? end + 1 : end;
        return (int)answer;
    }
    return buttons == MB_OKCANCEL ? IDCANCEL : IDOK;
}

static void RecordAndAnswer(HWND box) {
    wchar_t wide[512];
    char caption[1024], text[1024], line[4096];
    const UINT buttons = ButtonsOf(box);
    const int answer = NextAnswer(buttons);
    const char *log = getenv("SKELMORA_MESSAGE_LOG");

    GetWindowTextW(box, wide, 512);
    Utf8FromWide(wide, caption, sizeof caption);
    if (GetDlgItemTextW(box, 0xFFFF, wide, 512) == 0) wide[0] = 0;
    Utf8FromWide(wide, text, sizeof text);
    strcpy(line, "{\"event\":\"message\",\"caption\":");
    AppendJsonString(line, sizeof line, caption);
    strcat(line, ",\"text\":");
    AppendJsonString(line, sizeof line, text);
    sprintf(line + strlen(line), ",\"type\":%u,\"owned\":%s,\"answer\":%d}", buttons | IconOf(box),
            GetWindow(box, GW_OWNER) != NULL ? "true" : "false", answer);
    if (log != NULL && log[0] != '\0') {
        FILE *file = fopen(log, "ab");
        if (file != NULL) {
            fprintf(file, "%s\n", line);
            fclose(file);
        }
    }
    fprintf(stderr, "%s: %s\n", caption, text);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(box, answer));
}

static LRESULT CALLBACK WatchBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = (HWND)wParam;
        char name[16];
        /* A dialog box of the system's class that was not answered yet. */
        if (GetClassNameA(window, name, sizeof name) > 0 && strcmp(name, "#32770") == 0 &&
            GetPropA(window, kAnsweredProperty) == NULL) {
            SetPropA(window, kAnsweredProperty, (HANDLE)1);
            RecordAndAnswer(window);
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

static void PumpMessages(void) {
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

/* Draws the picture into a fresh window, reads the window back and writes its
 * pixels. The window starts black, as the POSIX memory device context does. */
static int Preview(int32_t code, int width, int height, const char *path) {
    HWND window = CreateWindowExA(WS_EX_TOPMOST, kPreviewClass, "", WS_POPUP | WS_VISIBLE, 0, 0,
                                  width, height, NULL, NULL, GetModuleHandleA(NULL), NULL);
    HDC dc, memory;
    HBITMAP canvas;
    HGDIOBJ previous;
    BITMAPINFO info;
    RECT client;
    uint8_t *bits = NULL;
    int32_t result;
    int y, x;
    FILE *out;

    if (window == NULL) return -1;
    PumpMessages();
    GetClientRect(window, &client);
    dc = GetDC(window);
    FillRect(dc, &client, (HBRUSH)GetStockObject(BLACK_BRUSH));
    result = ((ListPictureCall)Export("ListPicture"))(code, 0, dc);
    GdiFlush();

    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; /* top row first */
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    memory = CreateCompatibleDC(dc);
    canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, (void **)&bits, NULL, 0);
    previous = SelectObject(memory, canvas);
    BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    GdiFlush();
    out = fopen(path, "wb");
    for (y = 0; out != NULL && y < height; ++y) {
        const uint8_t *row = bits + (size_t)y * (((size_t)width * 3 + 3) & ~(size_t)3);
        for (x = 0; x < width; ++x) {
            const uint8_t rgb[3] = {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
            fwrite(rgb, 1, 3, out);
        }
    }
    if (out == NULL || fclose(out) != 0) result = -1;
    SelectObject(memory, previous);
    DeleteObject(canvas);
    DeleteDC(memory);
    ReleaseDC(window, dc);
    DestroyWindow(window);
    PumpMessages();
    return result;
}

static void RegisterPreviewClass(void) {
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = kPreviewClass;
    windowClass.hCursor = LoadCursorA(NULL, MAKEINTRESOURCEA(32512));
    RegisterClassA(&windowClass);
}

int main(int argc, char **argv) {
    int i;
    HHOOK hook;
    if (argc < 2 || (g_library = LoadLibraryA(argv[1])) == NULL) {
        fprintf(stderr, "cannot load %s\n", argc < 2 ? "(none)" : argv[1]);
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    g_answers = getenv("SKELMORA_MESSAGE_ANSWERS");
    hook = SetWindowsHookExW(WH_CBT, WatchBoxes, NULL, GetCurrentThreadId());
    RegisterPreviewClass();
    for (i = 2; i < argc; ++i) {
        const char *command = argv[i];
        const char *argument = i + 1 < argc ? argv[i + 1] : "";
        if (strcmp(command, "register") == 0) {
            printf("register %d\n", ((RegisterCall)Export("Register"))(NULL));
        } else if (strcmp(command, "unregister") == 0 || strcmp(command, "close") == 0 ||
                   strcmp(command, "update") == 0) {
            const char *name = strcmp(command, "unregister") == 0 ? "UnRegister"
                               : strcmp(command, "close") == 0    ? "Close"
                                                                  : "Update";
            printf("%s %d\n", command, ((NoArgumentCall)Export(name))());
        } else if (strcmp(command, "open") == 0) {
            printf("open %d\n", ((OpenCall)Export("Open"))(argument));
            ++i;
        } else if (strcmp(command, "list") == 0) {
            char buffer[256] = "unchanged", text[1024];
            const int32_t result = ((ListCall)Export("List"))(atoi(argument), 0, buffer);
            Utf8FromCodePage932(buffer, text, sizeof text);
            printf("list %s %d %s\n", argument, result, text);
            ++i;
        } else if (strcmp(command, "preview") == 0 && i + 4 < argc) {
            printf("preview %d\n",
                   Preview(atoi(argument), atoi(argv[i + 2]), atoi(argv[i + 3]), argv[i + 4]));
            i += 4;
        } else {
            fprintf(stderr, "unknown command %s\n", command);
            return 2;
        }
        fflush(stdout);
    }
    if (hook != NULL) UnhookWindowsHookEx(hook);
    FreeLibrary(g_library);
    return 0;
}
