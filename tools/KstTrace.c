/*
 * KstTrace: a stand-in for the two external trace viewers, for tests.
 *
 *   KstTrace.exe [--out FILE] [--ready FILE] [--stop FILE]
 *                [--channels LETTERS] [--decoys] [--meta] [--hang-after N]
 *
 * Windows it owns (all top-level, never shown):
 *   W  class "TMainFrame", title "TRACE Window": takes WM_COPYDATA.
 *   D  class "DBGVCLNT": marks a debug-output viewer as present.
 *   V  class "dbgviewClass": the other debug-output viewer class.
 * --channels picks which of them exist (default "WD"). The debug-output
 * stream (DBWIN_BUFFER protocol) is read in every case, so a test can also
 * see text that was written although no viewer window was present.
 * --decoys adds a "TMainFrame" window titled "Other Window" and a window of
 * class "KstDecoyFrame" titled "TRACE Window"; whatever they receive is
 * written with the tag X.
 * --hang-after N makes the trace window stop answering, as a viewer whose
 * thread hangs: once it has taken N copy-data texts (at once when N is 0),
 * its thread stops taking messages for good and must be killed.
 *
 * Output, one line per received text, flushed at once (to FILE or stdout):
 *   W|<text>     copy-data text: lpData up to its first zero byte, at most
 *                cbData bytes
 *   D|<text>     debug-output text
 *   X|<text>     copy-data text that reached any other of its windows
 *                (a decoy or a debug-output viewer window)
 * With --meta the lines carry the raw framing as well:
 *   W|<wParam>|<dwData>|<cbData>|<offset of first zero or -1>|<text>
 *   D|<pid>|<text>
 * Texts are escaped as tools/escape.h describes, so each is one line.
 *
 * A debug-output text that was written before a copy-data message was sent
 * is always written out before that message's line.
 *
 * Stopping: WM_CLOSE to any of its windows, or the file named by --stop
 * coming into existence (checked every 50 ms). Exit code 0 after a clean
 * stop, 2 on bad arguments, 3 when another debug-output reader already owns
 * the DBWIN objects, 4 when a window or the output file cannot be made.
 * Once all windows exist and the reader is listening, the file named by
 * --ready is created.
 */
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "escape.h"

#define DBWIN_SIZE 4096

struct options {
    const char *out_path;
    const char *ready_path;
    const char *stop_path;
    const char *channels;
    int decoys;
    int meta;
};

static FILE *g_out;
static CRITICAL_SECTION g_out_lock;
static int g_meta;
static long g_hang_after = -1; /* copy-data texts taken before hanging; -1: never */
static long g_taken;

/* DBWIN objects. DBWIN_DATA_READY is made manual-reset (writers only ever
 * set it) so the window thread can see, without consuming it, that a text
 * is still waiting to be written out. */
static HANDLE g_buffer_ready;
static HANDLE g_data_ready;
static HANDLE g_mapping;
static const unsigned char *g_view;
static HANDLE g_reader_stop;

static void write_line(const char *prefix, const char *text, size_t length)
{
    EnterCriticalSection(&g_out_lock);
    fputs(prefix, g_out);
    kst_put_escaped(g_out, text, length);
    fputc('\n', g_out);
    fflush(g_out);
    LeaveCriticalSection(&g_out_lock);
}

static size_t bounded_length(const char *text, size_t limit)
{
    const char *zero = text ? memchr(text, 0, limit) : NULL;
    return zero ? (size_t)(zero - text) : (text ? limit : 0);
}

static void emit_debug_text(void)
{
    DWORD pid;
    const char *text = (const char *)g_view + sizeof(DWORD);
    char prefix[32];
    memcpy(&pid, g_view, sizeof pid);
    if (g_meta)
        snprintf(prefix, sizeof prefix, "D|%lu|", (unsigned long)pid);
    else
        strcpy(prefix, "D|");
    write_line(prefix, text, bounded_length(text, DBWIN_SIZE - sizeof(DWORD)));
}

/* A writer that takes DBWIN_BUFFER_READY and dies before it sets
 * DBWIN_DATA_READY (a process killed inside OutputDebugString) would leave
 * the buffer taken for good, and every later writer would wait for it until
 * its own timeout, line after line. So the reader offers the buffer again
 * whenever no text has come for a while: writers take turns under the
 * system's DBWinMutex, so a second offer never lets two write at once. */
#define REOFFER_MILLISECONDS 250

static DWORD WINAPI reader_thread(LPVOID unused)
{
    HANDLE waits[2];
    (void)unused;
    waits[0] = g_reader_stop;
    waits[1] = g_data_ready;
    SetEvent(g_buffer_ready);
    for (;;) {
        DWORD r = WaitForMultipleObjects(2, waits, FALSE, REOFFER_MILLISECONDS);
        if (r == WAIT_TIMEOUT) {
            SetEvent(g_buffer_ready);
            continue;
        }
        if (r != WAIT_OBJECT_0 + 1)
            return 0;
        emit_debug_text();
        ResetEvent(g_data_ready);
        SetEvent(g_buffer_ready);
    }
}

/* Lets the reader finish a text that a sender wrote before it sent us a
 * message, so both channels come out in the order they were written. */
static void settle_debug_reader(void)
{
    int waited;
    for (waited = 0; waited < 2000; ++waited) {
        if (WaitForSingleObject(g_data_ready, 0) != WAIT_OBJECT_0)
            return;
        Sleep(1);
    }
}

static int open_dbwin(void)
{
    g_buffer_ready = CreateEventA(NULL, FALSE, FALSE, "DBWIN_BUFFER_READY");
    if (g_buffer_ready && GetLastError() == ERROR_ALREADY_EXISTS)
        return 3;
    g_data_ready = CreateEventA(NULL, TRUE, FALSE, "DBWIN_DATA_READY");
    if (g_data_ready && GetLastError() == ERROR_ALREADY_EXISTS)
        return 3;
    g_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                   DBWIN_SIZE, "DBWIN_BUFFER");
    if (g_mapping && GetLastError() == ERROR_ALREADY_EXISTS)
        return 3;
    if (!g_buffer_ready || !g_data_ready || !g_mapping)
        return 4;
    g_view = MapViewOfFile(g_mapping, FILE_MAP_READ, 0, 0, DBWIN_SIZE);
    g_reader_stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    return g_view && g_reader_stop ? 0 : 4;
}

static void close_dbwin(void)
{
    if (g_view)
        UnmapViewOfFile(g_view);
    if (g_mapping)
        CloseHandle(g_mapping);
    if (g_data_ready)
        CloseHandle(g_data_ready);
    if (g_buffer_ready)
        CloseHandle(g_buffer_ready);
    if (g_reader_stop)
        CloseHandle(g_reader_stop);
}

static void emit_copydata(const char *tag, WPARAM wparam, const COPYDATASTRUCT *cds)
{
    const char *text = (const char *)cds->lpData;
    size_t length = bounded_length(text, cds->cbData);
    char prefix[96];
    if (g_meta) {
        long zero = (text && length < cds->cbData) ? (long)length : -1;
        snprintf(prefix, sizeof prefix, "%s|%lu|%lu|%lu|%ld|", tag,
                 (unsigned long)wparam, (unsigned long)cds->dwData,
                 (unsigned long)cds->cbData, zero);
    } else {
        snprintf(prefix, sizeof prefix, "%s|", tag);
    }
    write_line(prefix, text, length);
}

static LRESULT CALLBACK viewer_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_COPYDATA:
        settle_debug_reader();
        emit_copydata((const char *)GetWindowLongPtrA(hwnd, GWLP_USERDATA), wparam,
                      (const COPYDATASTRUCT *)lparam);
        if (g_hang_after >= 0 && ++g_taken >= g_hang_after) {
            ReplyMessage(TRUE); /* this text was taken; the next ones never are */
            Sleep(INFINITE);
        }
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

static HWND make_window(const char *cls, const char *title, const char *tag)
{
    WNDCLASSA wc;
    HWND hwnd;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = viewer_proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = cls;
    RegisterClassA(&wc); /* a second window of one class finds it registered */
    hwnd = CreateWindowExA(0, cls, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL,
                           NULL, wc.hInstance, NULL);
    if (hwnd)
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, (LONG_PTR)tag);
    return hwnd;
}

static int make_windows(const struct options *opt)
{
    int ok = 1;
    if (strchr(opt->channels, 'W'))
        ok &= make_window("TMainFrame", "TRACE Window", "W") != NULL;
    if (strchr(opt->channels, 'D'))
        ok &= make_window("DBGVCLNT", "KstTrace debug client", "X") != NULL;
    if (strchr(opt->channels, 'V'))
        ok &= make_window("dbgviewClass", "KstTrace debug view", "X") != NULL;
    if (opt->decoys) {
        ok &= make_window("TMainFrame", "Other Window", "X") != NULL;
        ok &= make_window("KstDecoyFrame", "TRACE Window", "X") != NULL;
    }
    return ok;
}

static int file_exists(const char *path)
{
    return path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static int touch(const char *path)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(h);
    return 1;
}

static void run_message_loop(const char *stop_path)
{
    MSG msg;
    for (;;) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, stop_path ? 50 : INFINITE, QS_ALLINPUT);
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (file_exists(stop_path))
            return;
    }
}

static int parse_options(int argc, char **argv, struct options *opt)
{
    int i;
    memset(opt, 0, sizeof *opt);
    opt->channels = "WD";
    for (i = 1; i < argc; ++i) {
        const char *a = argv[i];
        int has_value = i + 1 < argc;
        if (!strcmp(a, "--out") && has_value)
            opt->out_path = argv[++i];
        else if (!strcmp(a, "--ready") && has_value)
            opt->ready_path = argv[++i];
        else if (!strcmp(a, "--stop") && has_value)
            opt->stop_path = argv[++i];
        else if (!strcmp(a, "--channels") && has_value)
            opt->channels = argv[++i];
        else if (!strcmp(a, "--decoys"))
            opt->decoys = 1;
        else if (!strcmp(a, "--meta"))
            opt->meta = 1;
        else if (!strcmp(a, "--hang-after") && has_value)
            g_hang_after = atol(argv[++i]);
        else
            return 0;
    }
    return 1;
}

static void destroy_own_windows(void)
{
    static const char *const classes[] = {"TMainFrame", "DBGVCLNT", "dbgviewClass",
                                          "KstDecoyFrame"};
    DWORD self = GetCurrentThreadId();
    size_t i;
    for (i = 0; i < sizeof classes / sizeof classes[0]; ++i) {
        HWND h = NULL;
        while ((h = FindWindowExA(NULL, h, classes[i], NULL)) != NULL) {
            if (GetWindowThreadProcessId(h, NULL) == self) {
                DestroyWindow(h);
                h = NULL; /* restart: the list changed under us */
            }
        }
    }
}

int main(int argc, char **argv)
{
    struct options opt;
    HANDLE reader;
    int rc;

    if (!parse_options(argc, argv, &opt)) {
        fputs("usage: KstTrace.exe [--out FILE] [--ready FILE] [--stop FILE]"
              " [--channels WDV] [--decoys] [--meta] [--hang-after N]\n", stderr);
        return 2;
    }
    g_meta = opt.meta;
    InitializeCriticalSection(&g_out_lock);
    if (opt.out_path) {
        g_out = fopen(opt.out_path, "wb");
        if (!g_out) {
            fprintf(stderr, "KstTrace: cannot write %s\n", opt.out_path);
            return 4;
        }
    } else {
        _setmode(_fileno(stdout), _O_BINARY);
        g_out = stdout;
    }

    rc = open_dbwin();
    if (rc != 0) {
        fputs(rc == 3 ? "KstTrace: another debug-output reader is running\n"
                      : "KstTrace: cannot create the DBWIN objects\n", stderr);
        close_dbwin();
        return rc;
    }
    reader = CreateThread(NULL, 0, reader_thread, NULL, 0, NULL);
    if (!reader || !make_windows(&opt)) {
        fputs("KstTrace: cannot create its windows\n", stderr);
        return 4;
    }
    if (opt.ready_path && !touch(opt.ready_path))
        fprintf(stderr, "KstTrace: cannot create %s\n", opt.ready_path);
    if (g_hang_after == 0)
        Sleep(INFINITE);

    run_message_loop(opt.stop_path);

    destroy_own_windows();
    SetEvent(g_reader_stop);
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
    close_dbwin();
    if (g_out != stdout)
        fclose(g_out);
    DeleteCriticalSection(&g_out_lock);
    return 0;
}
