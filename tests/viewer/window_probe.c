/* Looks at another program's windows through the window API, so the tests
 * can check the viewer the way a user meets it. Steps run in order:
 *
 *   window TITLE   wait for a visible top-level window with this caption
 *                  and select it
 *   info           its class, styles, class style, rectangle and client
 *                  size, and the work area ("window class=... style=0x... ...")
 *   children       its child windows ("child class=... id=... text=...")
 *   toolbar        the buttons of its toolbar ("button id=... enabled=...
 *                  text=..."), read from the owner's memory
 *   type TEXT      WM_SETTEXT to its first edit field
 *   press ID       a click on the button ID (posted, so a box it opens
 *                  cannot block the probe)
 *   key VK         a key press (WM_KEYDOWN) posted to the window's thread,
 *                  as the keyboard would
 *   chord MOD VK   the window brought to the front and MOD+VK typed on the
 *                  keyboard (SendInput), so the window's thread sees MOD held
 *   style MASK VALUE  wait until the window's style masked with MASK is
 *                  VALUE (both hexadecimal)
 *   status N TEXT  wait until part N of its status bar reads TEXT
 *   close          WM_CLOSE (posted)
 *   gone           wait until the window no longer exists
 *   noprocess NAME wait until no process of this file name runs
 *
 * Waits poll the condition every 20 ms for at most 60 s; a wait that runs
 * out prints "timeout ..." and ends with status 2. */
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

static HWND selected;

static void put_utf8(const wchar_t *text)
{
    char buffer[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
    fputs(n > 0 ? buffer : "?", stdout);
}

static int wait_for(BOOL (*condition)(void *), void *context, const char *what)
{
    for (int waited = 0; waited < 60000; waited += 20) {
        if (condition(context))
            return 1;
        Sleep(20);
    }
    printf("timeout %s\n", what);
    fflush(stdout);
    exit(2);
}

struct search {
    const wchar_t *title;
    HWND found;
};

static BOOL CALLBACK match_window(HWND window, LPARAM param)
{
    struct search *s = (struct search *)param;
    wchar_t text[512];
    if (!IsWindowVisible(window) || !GetWindowTextW(window, text, 512) || wcscmp(text, s->title) != 0)
        return TRUE;
    s->found = window;
    return FALSE;
}

static BOOL window_shown(void *context)
{
    struct search *s = context;
    s->found = NULL;
    EnumWindows(match_window, (LPARAM)s);
    return s->found != NULL;
}

static BOOL window_gone(void *context)
{
    return !IsWindow((HWND)context);
}

static BOOL process_gone(void *context)
{
    const wchar_t *name = context;
    PROCESSENTRY32W entry;
    BOOL running = FALSE;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return FALSE;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running; more = Process32NextW(snapshot, &entry))
        running = _wcsicmp(entry.szExeFile, name) == 0;
    CloseHandle(snapshot);
    return !running;
}

struct style_wait {
    unsigned long mask, value;
};

static BOOL style_is(void *context)
{
    struct style_wait *w = context;
    return ((unsigned long)GetWindowLongW(selected, GWL_STYLE) & w->mask) == w->value;
}

static void info(void)
{
    wchar_t name[256] = L"";
    RECT r, work, client;
    DWORD_PTR ignored;
    /* A message through the window's thread first: whatever it was in the
     * middle of (a new frame after a new style) is finished. */
    SendMessageTimeoutW(selected, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored);
    GetClassNameW(selected, name, 256);
    GetWindowRect(selected, &r);
    GetClientRect(selected, &client);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    fputs("window class=", stdout);
    put_utf8(name);
    printf(" style=0x%08lx exstyle=0x%08lx classstyle=0x%08lx rect=%ld,%ld,%ld,%ld client=%ld,%ld"
           " workarea=%ld,%ld,%ld,%ld\n",
           (unsigned long)GetWindowLongW(selected, GWL_STYLE), (unsigned long)GetWindowLongW(selected, GWL_EXSTYLE),
           (unsigned long)GetClassLongW(selected, GCL_STYLE), r.left, r.top, r.right, r.bottom, client.right,
           client.bottom, work.left, work.top, work.right, work.bottom);
}

static BOOL CALLBACK print_child(HWND child, LPARAM param)
{
    wchar_t name[256] = L"", text[1024] = L"";
    (void)param;
    if (GetParent(child) != selected)
        return TRUE;
    GetClassNameW(child, name, 256);
    /* WM_GETTEXT is marshalled between processes; GetWindowText is not. */
    SendMessageW(child, WM_GETTEXT, 1024, (LPARAM)text);
    fputs("child class=", stdout);
    put_utf8(name);
    printf(" id=%d text=", GetDlgCtrlID(child));
    put_utf8(text);
    putchar('\n');
    return TRUE;
}

static HWND child_of_class(const wchar_t *class_name)
{
    return FindWindowExW(selected, NULL, class_name, NULL);
}

/* Common controls' messages take pointers into their own process: the
 * probe lends them memory there and reads the answers back. */
static char *remote_open(HWND control, HANDLE *process)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(control, &pid);
    *process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    return *process ? VirtualAllocEx(*process, NULL, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : NULL;
}

static void remote_close(HANDLE process, char *remote)
{
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
}

static void toolbar(void)
{
    HWND bar = child_of_class(TOOLBARCLASSNAMEW);
    HANDLE process = NULL;
    if (!bar) {
        printf("buttons none\n");
        return;
    }
    char *remote = remote_open(bar, &process);
    if (!remote) {
        printf("buttons unreadable\n");
        return;
    }
    int count = (int)SendMessageW(bar, TB_BUTTONCOUNT, 0, 0);
    printf("buttons %d\n", count);
    for (int i = 0; i < count; ++i) {
        TBBUTTON button;
        wchar_t text[256] = L"";
        SIZE_T got = 0;
        SendMessageW(bar, TB_GETBUTTON, i, (LPARAM)remote);
        ReadProcessMemory(process, remote, &button, sizeof button, &got);
        LRESULT length = SendMessageW(bar, TB_GETBUTTONTEXTW, button.idCommand, (LPARAM)(remote + 1024));
        if (length > 0 && length < 255)
            ReadProcessMemory(process, remote + 1024, text, (length + 1) * sizeof(wchar_t), &got);
        printf("button id=%d enabled=%d text=", button.idCommand, (button.fsState & TBSTATE_ENABLED) ? 1 : 0);
        put_utf8(text);
        putchar('\n');
    }
    remote_close(process, remote);
}

struct status_wait {
    int part;
    const wchar_t *text;
};

static BOOL status_reads(void *context)
{
    struct status_wait *w = context;
    HWND bar = child_of_class(STATUSCLASSNAMEW);
    HANDLE process = NULL;
    wchar_t text[512] = L"";
    SIZE_T got = 0;
    char *remote = bar ? remote_open(bar, &process) : NULL;
    if (!remote)
        return FALSE;
    LRESULT length = LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, w->part, 0));
    if (length < 511) {
        SendMessageW(bar, SB_GETTEXTW, w->part, (LPARAM)remote);
        ReadProcessMemory(process, remote, text, (length + 1) * sizeof(wchar_t), &got);
    }
    remote_close(process, remote);
    return wcscmp(text, w->text) == 0;
}

static void chord(WORD modifier, WORD key)
{
    INPUT keys[4];
    const WORD order[4] = {modifier, key, key, modifier};
    memset(keys, 0, sizeof keys);
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = order[i];
        keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
    }
    SetForegroundWindow(selected);
    SendInput(4, keys, sizeof(INPUT));
}

int wmain(int argc, wchar_t **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    for (int i = 1; i < argc; ++i) {
        const wchar_t *step = argv[i];
        const wchar_t *arg = i + 1 < argc ? argv[i + 1] : L"";
        if (!wcscmp(step, L"window")) {
            struct search s = {arg, NULL};
            wait_for(window_shown, &s, "window");
            selected = s.found;
            ++i;
        } else if (!wcscmp(step, L"noprocess")) {
            wait_for(process_gone, (void *)arg, "noprocess");
            ++i;
        } else if (!selected) {
            printf("no window selected\n");
            return 2;
        } else if (!wcscmp(step, L"info")) {
            info();
        } else if (!wcscmp(step, L"children")) {
            EnumChildWindows(selected, print_child, 0);
        } else if (!wcscmp(step, L"toolbar")) {
            toolbar();
        } else if (!wcscmp(step, L"type")) {
            HWND edit = child_of_class(L"Edit");
            if (!edit) {
                printf("no edit field\n");
                return 2;
            }
            SendMessageW(edit, WM_SETTEXT, 0, (LPARAM)arg);
            ++i;
        } else if (!wcscmp(step, L"press")) {
            int id = _wtoi(arg);
            PostMessageW(selected, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(selected, id));
            ++i;
        } else if (!wcscmp(step, L"key")) {
            PostMessageW(selected, WM_KEYDOWN, (WPARAM)_wtoi(arg), 1);
            ++i;
        } else if (!wcscmp(step, L"chord")) {
            chord((WORD)_wtoi(arg), (WORD)_wtoi(i + 2 < argc ? argv[i + 2] : L"0"));
            i += 2;
        } else if (!wcscmp(step, L"style")) {
            struct style_wait w = {wcstoul(arg, NULL, 16), wcstoul(i + 2 < argc ? argv[i + 2] : L"0", NULL, 16)};
            wait_for(style_is, &w, "style");
            i += 2;
        } else if (!wcscmp(step, L"status")) {
            struct status_wait w = {_wtoi(arg), i + 2 < argc ? argv[i + 2] : L""};
            wait_for(status_reads, &w, "status");
            i += 2;
        } else if (!wcscmp(step, L"close")) {
            PostMessageW(selected, WM_CLOSE, 0, 0);
        } else if (!wcscmp(step, L"gone")) {
            wait_for(window_gone, selected, "gone");
        } else {
            printf("unknown step\n");
            return 2;
        }
    }
    return 0;
}
