/*
 * sendtrace: writes each argument as a trace line to both viewer channels,
 * the way the installer's trace channel does, for the harness's own tests.
 *
 *   sendtrace.exe [--escaped] TEXT...
 *   sendtrace.exe --take-buffer
 *
 * Per argument, in order: OutputDebugStringA(TEXT), then, if a window of
 * class "TMainFrame" titled "TRACE Window" exists, WM_COPYDATA with dwData 0,
 * cbData 255 and a 256-byte buffer holding TEXT (cut to 254 bytes) and a
 * zero. With --escaped, \r \n \t \\ and \xHH in the arguments are decoded
 * first, so tests can send any byte but zero.
 *
 * --take-buffer takes the debug stream's buffer (DBWIN_BUFFER_READY) and
 * ends without writing to it, as a writer killed inside OutputDebugStringA
 * does; exit code 1 when the buffer was not offered within 5 seconds.
 */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Decodes in place; the result is never longer than the input. */
static void unescape(char *s)
{
    char *out = s;
    while (*s) {
        if (*s != '\\' || !s[1]) {
            *out++ = *s++;
            continue;
        }
        ++s;
        switch (*s) {
        case 'r': *out++ = '\r'; ++s; break;
        case 'n': *out++ = '\n'; ++s; break;
        case 't': *out++ = '\t'; ++s; break;
        case 'x':
            if (hex_digit(s[1]) >= 0 && hex_digit(s[2]) >= 0) {
                *out++ = (char)(hex_digit(s[1]) * 16 + hex_digit(s[2]));
                s += 3;
            } else {
                *out++ = *s++; /* not an escape: keep the character */
            }
            break;
        default: *out++ = *s++; break;
        }
    }
    *out = 0;
}

static void send_copydata(const char *text)
{
    char buffer[256];
    COPYDATASTRUCT cds;
    HWND viewer = FindWindowA("TMainFrame", "TRACE Window");
    if (!viewer)
        return;
    memset(buffer, 0, sizeof buffer);
    strncpy(buffer, text, 254);
    cds.dwData = 0;
    cds.cbData = 255;
    cds.lpData = buffer;
    SendMessageA(viewer, WM_COPYDATA, 0, (LPARAM)&cds);
}

static int take_buffer(void)
{
    HANDLE ready = OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY");
    return ready && WaitForSingleObject(ready, 5000) == WAIT_OBJECT_0 ? 0 : 1;
}

int main(int argc, char **argv)
{
    int i = 1, escaped = 0;
    if (argc == 2 && strcmp(argv[1], "--take-buffer") == 0)
        return take_buffer();
    if (argc > 1 && strcmp(argv[1], "--escaped") == 0) {
        escaped = 1;
        ++i;
    }
    for (; i < argc; ++i) {
        if (escaped)
            unescape(argv[i]);
        OutputDebugStringA(argv[i]);
        send_copydata(argv[i]);
    }
    return 0;
}
