/*
 * probetarget: a small window for the harness's own tests of KstProbe.
 *
 * A top-level window "Probe Target" (client 300 by 160) holding:
 *   push button "&Ask" (id 101) at 10,10 75x25: asks a Yes/No question in a
 *     message box captioned "Probe Target", text "First line\nGo on?", and
 *     prints "ANSWER <code>" on stdout;
 *   push button "Hidden" (id 102), never shown;
 *   push button "Disabled" (id 103), disabled;
 *   auto radio buttons "One" (id 104, checked) and "Two" (id 105);
 *   drop-down list (id 106) at 10,110 200x100 with "alpha", "beta", "gamma",
 *     the second selected;
 *   static "Tab\there" (id 107).
 * Prints "READY" once shown and "CLOSED" when the window is closed.
 */
#include <windows.h>
#include <stdio.h>

static void say(const char *line)
{
    printf("%s\n", line);
    fflush(stdout);
}

static void make_controls(HWND hwnd)
{
    HINSTANCE inst = GetModuleHandleA(NULL);
    HWND combo;
    CreateWindowA("BUTTON", "&Ask", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 75, 25,
                  hwnd, (HMENU)101, inst, NULL);
    CreateWindowA("BUTTON", "Hidden", WS_CHILD | BS_PUSHBUTTON, 90, 10, 75, 25, hwnd,
                  (HMENU)102, inst, NULL);
    CreateWindowA("BUTTON", "Disabled", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON,
                  170, 10, 75, 25, hwnd, (HMENU)103, inst, NULL);
    CreateWindowA("BUTTON", "One", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | WS_GROUP, 10,
                  45, 100, 17, hwnd, (HMENU)104, inst, NULL);
    CreateWindowA("BUTTON", "Two", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, 10, 67, 100,
                  17, hwnd, (HMENU)105, inst, NULL);
    CheckDlgButton(hwnd, 104, BST_CHECKED);
    combo = CreateWindowA("COMBOBOX", "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL,
                          10, 110, 200, 100, hwnd, (HMENU)106, inst, NULL);
    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM) "alpha");
    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM) "beta");
    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM) "gamma");
    SendMessageA(combo, CB_SETCURSEL, 1, 0);
    CreateWindowA("STATIC", "Tab\there", WS_CHILD | WS_VISIBLE, 120, 45, 100, 17, hwnd,
                  (HMENU)107, inst, NULL);
}

static LRESULT CALLBACK target_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    char line[32];
    switch (msg) {
    case WM_CREATE:
        make_controls(hwnd);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wparam) == 101 && HIWORD(wparam) == BN_CLICKED) {
            int answer = MessageBoxA(hwnd, "First line\nGo on?", "Probe Target",
                                     MB_YESNO | MB_ICONQUESTION);
            snprintf(line, sizeof line, "ANSWER %d", answer);
            say(line);
        }
        return 0;
    case WM_DESTROY:
        say("CLOSED");
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

int main(void)
{
    WNDCLASSA wc;
    RECT r = {0, 0, 300, 160};
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    HWND hwnd;
    MSG msg;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = target_proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "KstProbeTarget";
    RegisterClassA(&wc);
    AdjustWindowRect(&r, style, FALSE);
    hwnd = CreateWindowA("KstProbeTarget", "Probe Target", style, 40, 40, r.right - r.left,
                         r.bottom - r.top, NULL, NULL, wc.hInstance, NULL);
    if (!hwnd)
        return 1;
    ShowWindow(hwnd, SW_SHOW);
    say("READY");
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return 0;
}
