/*
 * devclient: test aid that talks to the filter's control device and prints
 * the answers, so end-to-end checks can compare them with what was seeded.
 *
 *   devclient [-d PATH] VERB [ARG]
 *
 * Verbs:
 *   open              open the device and close it again
 *   initiate          send the initiate request
 *   uninitiate        send the uninitiate request
 *   count             print "count N"
 *   entries           print one line per ScsiInfo entry
 *   getinfo LEN       send the info request with an output buffer of LEN bytes
 *   passthrough N     send an INQUIRY pass-through for entry N, print the answer
 *   alter N FIELD     same for entry N with one request byte changed: FIELD is
 *                     hba, adapter, context, path, target or lun
 *   ptlen LEN         pass-through for entry 0 with input and output of LEN bytes
 *   ioctl CODE        send request CODE (hex) without buffers
 *
 * Exit code: 0 when the request succeeded, 1 when it failed, 2 on a usage
 * error, 3 when the device cannot be opened. Failures print "error NNN".
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define IOCTL_KESTRUNE_SCSI_PASS_THROUGH 0x220020u
#define IOCTL_KESTRUNE_INITIATE 0x22002Cu
#define IOCTL_KESTRUNE_UNINITIATE 0x220034u
#define IOCTL_KESTRUNE_GET_SCSI_INFO 0x220038u

#define ENTRY_SIZE 32
#define REQUEST_SIZE 96
#define DATA_BUFFER_SIZE 255
#define SENSE_SIZE 18

enum { EXIT_OK = 0, EXIT_REQUEST_FAILED = 1, EXIT_USAGE = 2, EXIT_NO_DEVICE = 3 };

static unsigned long read_u32(const unsigned char *p)
{
    return (unsigned long)p[0] | ((unsigned long)p[1] << 8) | ((unsigned long)p[2] << 16)
         | ((unsigned long)p[3] << 24);
}

static void write_u32(unsigned char *p, unsigned long v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

static void print_hex(const unsigned char *p, size_t n)
{
    size_t i;
    for (i = 0; i < n; ++i)
        printf("%s%02x", i ? " " : "", p[i]);
}

static int usage(void)
{
    fprintf(stderr, "usage: devclient [-d PATH] open|initiate|uninitiate|count|entries"
                    "|getinfo LEN|passthrough N|alter N FIELD|ptlen LEN|ioctl CODE\n");
    return EXIT_USAGE;
}

static int report(BOOL ok)
{
    if (ok) {
        printf("ok\n");
        return EXIT_OK;
    }
    printf("error %lu\n", (unsigned long)GetLastError());
    return EXIT_REQUEST_FAILED;
}

static BOOL control(HANDLE h, DWORD code, void *in, DWORD in_len, void *out, DWORD out_len)
{
    DWORD returned = 0;
    return DeviceIoControl(h, code, in, in_len, out, out_len, &returned, NULL);
}

/* Fetches the entry count and the entries; *entries is malloc'ed (caller
 * frees) and null when the count is 0 or less. */
static BOOL fetch_entries(HANDLE h, long *count, unsigned char **entries)
{
    unsigned char count_bytes[4] = {0};
    *entries = NULL;
    if (!control(h, IOCTL_KESTRUNE_GET_SCSI_INFO, NULL, 0, count_bytes, sizeof(count_bytes)))
        return FALSE;
    *count = (long)read_u32(count_bytes);
    if (*count <= 0)
        return TRUE;
    *entries = calloc((size_t)*count, ENTRY_SIZE);
    if (*entries == NULL)
        return FALSE;
    return control(h, IOCTL_KESTRUNE_GET_SCSI_INFO, NULL, 0, *entries, (DWORD)(*count * ENTRY_SIZE));
}

static void print_entry(long index, const unsigned char *e)
{
    char name[9];
    memcpy(name, e + 20, 8);
    name[8] = '\0';
    printf("entry %ld hba=%lu path=%lu target=%lu lun=%lu letter=%lu adapter=\"%s\" context=0x%08lx\n",
           index, read_u32(e), read_u32(e + 4), read_u32(e + 8), read_u32(e + 12), read_u32(e + 16),
           name, read_u32(e + 28));
}

/* The request exactly as the installer builds it for an INQUIRY. */
static void build_inquiry(const unsigned char *e, unsigned char *req, const unsigned char *data)
{
    memset(req, 0, REQUEST_SIZE);
    memcpy(req + 0, e + 0, 4);
    memcpy(req + 4, e + 20, 8);
    memcpy(req + 12, e + 28, 4);
    req[16] = 44;
    req[19] = e[4];
    req[20] = e[8];
    req[21] = e[12];
    req[22] = 6;
    req[23] = SENSE_SIZE;
    req[24] = 1;
    write_u32(req + 28, 254);
    write_u32(req + 32, 300);
    /* The request has room for a 32-bit address only; a 64-bit build sends a
     * truncated one, which the stand-in driver never follows anyway. */
    write_u32(req + 36, (unsigned long)(ULONG_PTR)data);
    write_u32(req + 40, 48);
    req[44] = 0x12;
    req[48] = 0xFE;
}

/* Offset in the request of the byte that `alter` changes, or -1. */
static int field_offset(const char *field)
{
    static const struct { const char *name; int offset; } fields[] = {
        {"hba", 0}, {"adapter", 11}, {"context", 12}, {"path", 19}, {"target", 20}, {"lun", 21},
    };
    size_t i;
    for (i = 0; i < sizeof(fields) / sizeof(fields[0]); ++i)
        if (strcmp(field, fields[i].name) == 0)
            return fields[i].offset;
    return -1;
}

/* Sends the INQUIRY for entry `index` with `length` bytes of input and
 * output (the request proper is 96); when `flip` is 0 or more, the request
 * byte at that offset is inverted first. */
static int do_passthrough(HANDLE h, long index, int flip, DWORD length)
{
    unsigned char req[2 * REQUEST_SIZE] = {0};
    unsigned char data[DATA_BUFFER_SIZE] = {0};
    unsigned char *entries;
    long count = 0;

    if (!fetch_entries(h, &count, &entries))
        return report(FALSE);
    if (index < 0 || index >= count) {
        printf("no entry %ld (count %ld)\n", index, count);
        free(entries);
        return EXIT_USAGE;
    }
    build_inquiry(entries + index * ENTRY_SIZE, req, data);
    if (flip >= 0)
        req[flip] = (unsigned char)~req[flip];
    free(entries);
    if (length > sizeof(req))
        return usage();
    if (!control(h, IOCTL_KESTRUNE_SCSI_PASS_THROUGH, req, length, req, length))
        return report(FALSE);
    printf("status 0x%02x senselen %u sense ", req[18], req[23]);
    print_hex(req + 64, SENSE_SIZE);
    printf("\ndata0 0x%02x\n", data[0]);
    return EXIT_OK;
}

static int do_entries(HANDLE h)
{
    unsigned char *entries;
    long count = 0, i;
    if (!fetch_entries(h, &count, &entries))
        return report(FALSE);
    printf("count %ld\n", count);
    for (i = 0; i < count; ++i) {
        print_entry(i, entries + i * ENTRY_SIZE);
        printf("raw ");
        print_hex(entries + i * ENTRY_SIZE, ENTRY_SIZE);
        printf("\n");
    }
    free(entries);
    return EXIT_OK;
}

static int do_getinfo(HANDLE h, unsigned long length)
{
    unsigned char *out = calloc(length ? length : 1, 1);
    int rc;
    if (out == NULL)
        return report(FALSE);
    if (control(h, IOCTL_KESTRUNE_GET_SCSI_INFO, NULL, 0, length ? out : NULL, (DWORD)length)) {
        printf("ok ");
        print_hex(out, length);
        printf("\n");
        rc = EXIT_OK;
    } else {
        rc = report(FALSE);
    }
    free(out);
    return rc;
}

static int run(HANDLE h, const char *verb, const char *arg, const char *arg2)
{
    if (strcmp(verb, "open") == 0)
        return report(TRUE);
    if (strcmp(verb, "initiate") == 0)
        return report(control(h, IOCTL_KESTRUNE_INITIATE, NULL, 0, NULL, 0));
    if (strcmp(verb, "uninitiate") == 0)
        return report(control(h, IOCTL_KESTRUNE_UNINITIATE, NULL, 0, NULL, 0));
    if (strcmp(verb, "count") == 0) {
        unsigned char count_bytes[4] = {0};
        if (!control(h, IOCTL_KESTRUNE_GET_SCSI_INFO, NULL, 0, count_bytes, sizeof(count_bytes)))
            return report(FALSE);
        printf("count %ld\n", (long)read_u32(count_bytes));
        return EXIT_OK;
    }
    if (strcmp(verb, "entries") == 0)
        return do_entries(h);
    if (arg == NULL)
        return usage();
    if (strcmp(verb, "getinfo") == 0)
        return do_getinfo(h, strtoul(arg, NULL, 0));
    if (strcmp(verb, "passthrough") == 0)
        return do_passthrough(h, strtol(arg, NULL, 0), -1, REQUEST_SIZE);
    if (strcmp(verb, "alter") == 0) {
        int offset = arg2 ? field_offset(arg2) : -1;
        return offset < 0 ? usage() : do_passthrough(h, strtol(arg, NULL, 0), offset, REQUEST_SIZE);
    }
    if (strcmp(verb, "ptlen") == 0)
        return do_passthrough(h, 0, -1, (DWORD)strtoul(arg, NULL, 0));
    if (strcmp(verb, "ioctl") == 0)
        return report(control(h, (DWORD)strtoul(arg, NULL, 16), NULL, 0, NULL, 0));
    return usage();
}

int main(int argc, char **argv)
{
    const char *path = "\\\\.\\Kestrune";
    int first = 1;
    HANDLE h;
    int rc;

    if (argc > 2 && strcmp(argv[1], "-d") == 0) {
        path = argv[2];
        first = 3;
    }
    if (first >= argc)
        return usage();
    h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                    OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        printf("open failed %lu\n", (unsigned long)GetLastError());
        return EXIT_NO_DEVICE;
    }
    rc = run(h, argv[first], first + 1 < argc ? argv[first + 1] : NULL,
             first + 2 < argc ? argv[first + 2] : NULL);
    CloseHandle(h);
    fflush(stdout);
    return rc;
}
