/*
 * KstProbe: reads and drives another program's windows for end-to-end tests.
 *
 *   KstProbe.exe [--class NAME] VERB ARGS...
 *
 * Verbs:
 *   list                                 every top-level window
 *   wait-window <caption> <timeout-ms>   wait until the window exists
 *   wait-gone <caption> <timeout-ms>     wait until no such window exists
 *   dump <caption>                       the window and all its descendants
 *   click <caption> <button-text>        press a child button (BM_CLICK, posted)
 *   close <caption>                      post WM_CLOSE
 *   answer <caption> <text-part> yes|no|ok|cancel <timeout-ms>
 *                                        press a button of a message box
 *   sleep <ms>                           do nothing for that long (keeps a
 *                                        Wine session from winding down)
 *   hold-mutex <name> <ms>               own the named mutex (waiting for it
 *                                        first if need be), print HELD, keep
 *                                        it that long, then release it
 *   finish-deletions                     before a restart: stop each running
 *                                        driver service marked for deletion,
 *                                        so that the service manager removes it
 *
 * Window choice: a top-level window whose title equals <caption> exactly.
 * Message boxes (class "#32770") are skipped unless --class names a class,
 * in which case only windows of that class count. Visible windows are
 * preferred over hidden ones. `answer` always looks for "#32770" windows.
 * A button text matches when it equals <button-text> as it is or with its
 * '&' accelerator marks removed.
 *
 * Output lines are tab-separated; texts are escaped as tools/escape.h says.
 *   FOUND <class> <handle>                      wait-window, close, click
 *   GONE                                        wait-gone
 *   WINDOW <class> <visible> <title>            list
 *   # <column names>, then one line per window  dump
 *   TEXT <text> / BUTTONS <names> / PRESSED <name>   answer
 *   HELD                                        hold-mutex, once it owns it
 *   REMOVED <name> or KEPT <name>               finish-deletions, each marked service
 *   NOTFOUND, TIMEOUT, HIDDEN, DISABLED, NOBUTTON     failures
 * Exit code 0 on success, 1 when something was not found or a wait timed
 * out, 2 on bad arguments.
 */
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "escape.h"

#define TEXT_LIMIT 4096
#define MAX_WINDOWS 512
#define POLL_MS 50

static const char *g_class_filter;

struct match {
    const char *caption;
    const char *cls; /* required class, or NULL: any class but "#32770" */
    HWND visible;
    HWND hidden;
};

static BOOL CALLBACK match_top(HWND hwnd, LPARAM param)
{
    struct match *m = (struct match *)param;
    char title[512], cls[256];
    GetWindowTextA(hwnd, title, sizeof title);
    if (strcmp(title, m->caption) != 0)
        return TRUE;
    GetClassNameA(hwnd, cls, sizeof cls);
    if (m->cls ? strcmp(cls, m->cls) != 0 : strcmp(cls, "#32770") == 0)
        return TRUE;
    if (IsWindowVisible(hwnd)) {
        if (!m->visible)
            m->visible = hwnd;
    } else if (!m->hidden) {
        m->hidden = hwnd;
    }
    return TRUE;
}

static HWND find_top(const char *caption)
{
    struct match m;
    memset(&m, 0, sizeof m);
    m.caption = caption;
    m.cls = g_class_filter;
    EnumWindows(match_top, (LPARAM)&m);
    return m.visible ? m.visible : m.hidden;
}

static HWND wait_top(const char *caption, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND h = find_top(caption);
        if (h || GetTickCount() - start >= timeout_ms)
            return h;
        Sleep(POLL_MS);
    }
}

/* The window's text as its owner reports it (WM_GETTEXT is marshalled across
 * processes); empty when the owner does not answer within two seconds. */
static int window_text(HWND hwnd, char *buf, int size)
{
    DWORD_PTR got = 0;
    buf[0] = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, (WPARAM)size, (LPARAM)buf, SMTO_ABORTIFHUNG,
                             2000, &got))
        return 0;
    buf[size - 1] = 0;
    return (int)strlen(buf);
}

static void put_field(const char *text)
{
    putchar('\t');
    kst_put_escaped(stdout, text, strlen(text));
}

static int has_class_part(const char *cls, const char *part)
{
    char lower[256];
    size_t i;
    for (i = 0; cls[i] && i + 1 < sizeof lower; ++i)
        lower[i] = (char)(cls[i] >= 'A' && cls[i] <= 'Z' ? cls[i] + 32 : cls[i]);
    lower[i] = 0;
    return strstr(lower, part) != NULL;
}

static void put_combo_items(HWND hwnd)
{
    LRESULT count = SendMessageA(hwnd, CB_GETCOUNT, 0, 0);
    LRESULT i;
    printf("\t%ld", (long)SendMessageA(hwnd, CB_GETCURSEL, 0, 0));
    /* Items are fetched as UTF-16 and converted here: the ANSI request is not
     * marshalled correctly across processes by every Windows implementation. */
    for (i = 0; i < count; ++i) {
        WCHAR wide[TEXT_LIMIT];
        char item[TEXT_LIMIT];
        LRESULT len = SendMessageW(hwnd, CB_GETLBTEXTLEN, (WPARAM)i, 0);
        wide[0] = 0;
        item[0] = 0;
        if (len >= 0 && len < TEXT_LIMIT)
            SendMessageW(hwnd, CB_GETLBTEXT, (WPARAM)i, (LPARAM)wide);
        wide[TEXT_LIMIT - 1] = 0;
        WideCharToMultiByte(CP_ACP, 0, wide, -1, item, sizeof item, NULL, NULL);
        put_field(item);
    }
}

struct window_list {
    HWND items[MAX_WINDOWS];
    int count;
};

static BOOL CALLBACK collect_child(HWND hwnd, LPARAM param)
{
    struct window_list *list = (struct window_list *)param;
    if (list->count < MAX_WINDOWS)
        list->items[list->count++] = hwnd;
    return TRUE;
}

static int index_of(const struct window_list *list, HWND hwnd)
{
    int i;
    for (i = 0; i < list->count; ++i)
        if (list->items[i] == hwnd)
            return i;
    return -1;
}

static void dump_window(const struct window_list *list, int index)
{
    HWND hwnd = list->items[index];
    HWND parent = index == 0 ? NULL : GetParent(hwnd);
    char cls[256], text[TEXT_LIMIT];
    RECT r, client;
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowRect(hwnd, &r);
    if (parent)
        MapWindowPoints(HWND_DESKTOP, parent, (POINT *)&r, 2);
    GetClientRect(hwnd, &client);
    window_text(hwnd, text, sizeof text);
    printf("%d\t%d", index, parent ? index_of(list, parent) : -1);
    put_field(cls);
    printf("\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%d\t%d", (long)GetDlgCtrlID(hwnd),
           (long)r.left, (long)r.top, (long)(r.right - r.left), (long)(r.bottom - r.top),
           (long)client.right, (long)client.bottom, IsWindowVisible(hwnd) ? 1 : 0,
           IsWindowEnabled(hwnd) ? 1 : 0);
    if (has_class_part(cls, "button"))
        printf("\t%ld", (long)SendMessageA(hwnd, BM_GETCHECK, 0, 0));
    else
        printf("\t-");
    printf("\t%08lX\t%08lX", (unsigned long)GetWindowLongA(hwnd, GWL_STYLE),
           (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE));
    put_field(text);
    if (has_class_part(cls, "combo"))
        put_combo_items(hwnd);
    putchar('\n');
}

static int verb_dump(const char *caption)
{
    static struct window_list list;
    int i;
    HWND top = find_top(caption);
    if (!top) {
        puts("NOTFOUND");
        return 1;
    }
    list.count = 1;
    list.items[0] = top;
    EnumChildWindows(top, collect_child, (LPARAM)&list);
    puts("# index\tparent\tclass\tid\tx\ty\twidth\theight\tclient_width\tclient_height"
         "\tvisible\tenabled\tchecked\tstyle\texstyle\ttext\t[cursel\titems...]");
    for (i = 0; i < list.count; ++i)
        dump_window(&list, i);
    return 0;
}

static void put_found(HWND hwnd)
{
    char cls[256];
    GetClassNameA(hwnd, cls, sizeof cls);
    fputs("FOUND", stdout);
    put_field(cls);
    printf("\t%p\n", (void *)hwnd);
}

static int verb_wait_window(const char *caption, DWORD timeout_ms)
{
    HWND h = wait_top(caption, timeout_ms);
    if (!h) {
        puts("TIMEOUT");
        return 1;
    }
    put_found(h);
    return 0;
}

static int verb_wait_gone(const char *caption, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    while (find_top(caption)) {
        if (GetTickCount() - start >= timeout_ms) {
            puts("TIMEOUT");
            return 1;
        }
        Sleep(POLL_MS);
    }
    puts("GONE");
    return 0;
}

static int verb_close(const char *caption)
{
    HWND h = find_top(caption);
    if (!h) {
        puts("NOTFOUND");
        return 1;
    }
    put_found(h);
    PostMessageA(h, WM_CLOSE, 0, 0);
    return 0;
}

static int same_caption(const char *have, const char *want)
{
    char bare[TEXT_LIMIT];
    size_t n = 0;
    const char *p;
    if (strcmp(have, want) == 0)
        return 1;
    for (p = have; *p && n + 1 < sizeof bare; ++p)
        if (*p != '&')
            bare[n++] = *p;
    bare[n] = 0;
    return strcmp(bare, want) == 0;
}

struct button_search {
    const char *text;
    HWND found;
};

static BOOL CALLBACK match_button(HWND hwnd, LPARAM param)
{
    struct button_search *s = (struct button_search *)param;
    char cls[256], text[TEXT_LIMIT];
    GetClassNameA(hwnd, cls, sizeof cls);
    if (!has_class_part(cls, "button"))
        return TRUE;
    window_text(hwnd, text, sizeof text);
    if (!same_caption(text, s->text))
        return TRUE;
    s->found = hwnd;
    return FALSE;
}

static int verb_click(const char *caption, const char *button_text)
{
    struct button_search s;
    HWND top = find_top(caption);
    if (!top) {
        puts("NOTFOUND");
        return 1;
    }
    s.text = button_text;
    s.found = NULL;
    EnumChildWindows(top, match_button, (LPARAM)&s);
    if (!s.found) {
        puts("NOTFOUND");
        return 1;
    }
    if (!IsWindowVisible(s.found)) {
        puts("HIDDEN");
        return 1;
    }
    if (!IsWindowEnabled(s.found)) {
        puts("DISABLED");
        return 1;
    }
    put_found(s.found);
    PostMessageA(s.found, BM_CLICK, 0, 0);
    return 0;
}

struct box_search {
    const char *caption;
    const char *part;
    HWND found;
    char text[TEXT_LIMIT];
};

struct static_text {
    char text[TEXT_LIMIT];
    size_t length;
};

static BOOL CALLBACK gather_static(HWND hwnd, LPARAM param)
{
    struct static_text *t = (struct static_text *)param;
    char cls[256], text[TEXT_LIMIT];
    GetClassNameA(hwnd, cls, sizeof cls);
    if (!has_class_part(cls, "static") || window_text(hwnd, text, sizeof text) == 0)
        return TRUE;
    if (t->length && t->length + 1 < sizeof t->text)
        t->text[t->length++] = '\n';
    t->length += (size_t)snprintf(t->text + t->length, sizeof t->text - t->length, "%s", text);
    if (t->length >= sizeof t->text)
        t->length = sizeof t->text - 1;
    return TRUE;
}

static BOOL CALLBACK match_box(HWND hwnd, LPARAM param)
{
    struct box_search *s = (struct box_search *)param;
    static struct static_text t;
    char title[512], cls[256];
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, title, sizeof title);
    if (strcmp(cls, "#32770") != 0 || strcmp(title, s->caption) != 0)
        return TRUE;
    memset(&t, 0, sizeof t);
    EnumChildWindows(hwnd, gather_static, (LPARAM)&t);
    if (!strstr(t.text, s->part))
        return TRUE;
    s->found = hwnd;
    memcpy(s->text, t.text, sizeof s->text);
    return FALSE;
}

static const struct {
    const char *name;
    int id;
} k_answers[] = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};

static int answer_id(const char *name)
{
    size_t i;
    for (i = 0; i < sizeof k_answers / sizeof k_answers[0]; ++i)
        if (strcmp(k_answers[i].name, name) == 0)
            return k_answers[i].id;
    return 0;
}

static void put_buttons(HWND box)
{
    size_t i;
    fputs("BUTTONS\t", stdout);
    for (i = 0; i < sizeof k_answers / sizeof k_answers[0]; ++i) {
        HWND b = GetDlgItem(box, k_answers[i].id);
        if (b && IsWindowVisible(b))
            printf("%s ", k_answers[i].name);
    }
    putchar('\n');
}

static int verb_answer(const char *caption, const char *part, const char *button,
                       DWORD timeout_ms)
{
    static struct box_search s;
    DWORD start = GetTickCount();
    int id = answer_id(button);
    HWND target;
    if (!id)
        return 2;
    s.caption = caption;
    s.part = part;
    for (;;) {
        s.found = NULL;
        EnumWindows(match_box, (LPARAM)&s);
        if (s.found)
            break;
        if (GetTickCount() - start >= timeout_ms) {
            puts("TIMEOUT");
            return 1;
        }
        Sleep(POLL_MS);
    }
    fputs("TEXT", stdout);
    put_field(s.text);
    putchar('\n');
    put_buttons(s.found);
    target = GetDlgItem(s.found, id);
    if (!target) {
        puts("NOBUTTON");
        return 1;
    }
    PostMessageA(s.found, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)target);
    printf("PRESSED\t%s\n", button);
    return 0;
}

static BOOL CALLBACK list_top(HWND hwnd, LPARAM unused)
{
    char title[512], cls[256];
    (void)unused;
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, title, sizeof title);
    fputs("WINDOW", stdout);
    put_field(cls);
    printf("\t%d", IsWindowVisible(hwnd) ? 1 : 0);
    put_field(title);
    putchar('\n');
    return TRUE;
}

/* The caption of the window that has the focus of the whole desktop. */
static int verb_foreground(void)
{
    char title[TEXT_LIMIT] = "";
    HWND hwnd = GetForegroundWindow();
    if (!hwnd) {
        puts("NONE");
        return 1;
    }
    GetWindowTextA(hwnd, title, sizeof title);
    kst_put_escaped(stdout, title, strlen(title));
    putchar('\n');
    return 0;
}

static DWORD parse_ms(const char *text)
{
    return (DWORD)strtoul(text, NULL, 10);
}

/* Stands for another run that holds a named mutex for a while. */
static int verb_hold_mutex(const char *name, DWORD ms)
{
    HANDLE mutex = CreateMutexA(NULL, FALSE, name);
    DWORD got;
    if (!mutex)
        return puts("NOTFOUND"), 1;
    got = WaitForSingleObject(mutex, INFINITE);
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED)
        return puts("TIMEOUT"), 1;
    puts("HELD");
    fflush(stdout);
    Sleep(ms);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

/* True when the service awaits its deletion: a change of nothing is refused. */
static BOOL marked_for_deletion(SC_HANDLE service)
{
    return !ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                 NULL, NULL, NULL, NULL, NULL, NULL, NULL) &&
           GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

/* Windows removes a service marked for deletion when it next starts. Wine
 * forgets the mark when its session is ended, so before that each running
 * driver service that is marked is stopped: its last reference gone, Wine's
 * service manager removes it, as Windows would at the restart. (Wine's own
 * driver host services are left alone.) */
static int verb_finish_deletions(void)
{
    static BYTE buffer[256 * 1024];
    ENUM_SERVICE_STATUSA *found = (ENUM_SERVICE_STATUSA *)buffer;
    DWORD needed = 0, count = 0, resume = 0, i;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (!manager)
        return puts("NOTFOUND"), 1;
    if (!EnumServicesStatusA(manager, SERVICE_DRIVER, SERVICE_ACTIVE, found,
                             sizeof buffer, &needed, &count, &resume))
        count = 0;
    for (i = 0; i < count; ++i) {
        const char *name = found[i].lpServiceName;
        SC_HANDLE service = OpenServiceA(manager, name, SERVICE_CHANGE_CONFIG | SERVICE_STOP);
        SERVICE_STATUS status;
        DWORD start = GetTickCount();
        if (!service)
            continue;
        if (!marked_for_deletion(service)) {
            CloseServiceHandle(service);
            continue;
        }
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        CloseServiceHandle(service);
        /* Removed once stopped and its last handle closed. */
        while ((service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS)) != NULL &&
               GetTickCount() - start < 10000) {
            CloseServiceHandle(service);
            Sleep(POLL_MS);
        }
        fputs(service ? "KEPT" : "REMOVED", stdout);
        if (service)
            CloseServiceHandle(service);
        put_field(name);
        putchar('\n');
    }
    CloseServiceHandle(manager);
    return 0;
}

static int dispatch(int argc, char **argv)
{
    const char *verb = argv[0];
    if (!strcmp(verb, "list") && argc == 1)
        return EnumWindows(list_top, 0), 0;
    if (!strcmp(verb, "wait-window") && argc == 3)
        return verb_wait_window(argv[1], parse_ms(argv[2]));
    if (!strcmp(verb, "wait-gone") && argc == 3)
        return verb_wait_gone(argv[1], parse_ms(argv[2]));
    if (!strcmp(verb, "dump") && argc == 2)
        return verb_dump(argv[1]);
    if (!strcmp(verb, "click") && argc == 3)
        return verb_click(argv[1], argv[2]);
    if (!strcmp(verb, "close") && argc == 2)
        return verb_close(argv[1]);
    if (!strcmp(verb, "foreground") && argc == 1)
        return verb_foreground();
    if (!strcmp(verb, "sleep") && argc == 2)
        return Sleep(parse_ms(argv[1])), 0;
    if (!strcmp(verb, "hold-mutex") && argc == 3)
        return verb_hold_mutex(argv[1], parse_ms(argv[2]));
    if (!strcmp(verb, "finish-deletions") && argc == 1)
        return verb_finish_deletions();
    if (!strcmp(verb, "answer") && argc == 5)
        return verb_answer(argv[1], argv[2], argv[3], parse_ms(argv[4]));
    return 2;
}

int main(int argc, char **argv)
{
    int first = 1, rc;
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc > 2 && !strcmp(argv[1], "--class")) {
        g_class_filter = argv[2];
        first = 3;
    }
    rc = first < argc ? dispatch(argc - first, argv + first) : 2;
    if (rc == 2)
        fputs("usage: KstProbe.exe [--class NAME] list | wait-window CAPTION MS |"
              " wait-gone CAPTION MS | dump CAPTION | click CAPTION BUTTON |"
              " close CAPTION | foreground | answer CAPTION TEXT yes|no|ok|cancel MS | sleep MS |"
              " hold-mutex NAME MS | finish-deletions\n", stderr);
    fflush(stdout);
    return rc;
}
