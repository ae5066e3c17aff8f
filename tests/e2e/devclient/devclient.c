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
#include <winioctl.h>
#include <ntddscsi.h>

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "device/control_protocol.h"

#define ENTRY_SIZE KST_SCSI_INFO_SIZE
#define REQUEST_SIZE KST_PT_REQUEST_SIZE

/* The pass-through block is the platform's 32-bit SCSI_PASS_THROUGH_DIRECT:
 * held to the system's definition where this client is built for 32 bits. */
#ifndef _WIN64
#define BLOCK_FIELD_AT(field, offset) \
    _Static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, field) + KST_PT_BLOCK == (offset), #field)
BLOCK_FIELD_AT(Length, KST_PT_BLOCK);
BLOCK_FIELD_AT(ScsiStatus, KST_PT_STATUS);
BLOCK_FIELD_AT(PathId, KST_PT_PATH_ID);
BLOCK_FIELD_AT(TargetId, KST_PT_TARGET_ID);
BLOCK_FIELD_AT(Lun, KST_PT_LUN);
BLOCK_FIELD_AT(CdbLength, KST_PT_CDB_LENGTH);
BLOCK_FIELD_AT(SenseInfoLength, KST_PT_SENSE_LENGTH);
BLOCK_FIELD_AT(DataIn, KST_PT_DATA_IN);
BLOCK_FIELD_AT(DataTransferLength, KST_PT_TRANSFER_LENGTH);
BLOCK_FIELD_AT(TimeOutValue, KST_PT_TIME_OUT);
BLOCK_FIELD_AT(DataBuffer, KST_PT_DATA_BUFFER);
BLOCK_FIELD_AT(SenseInfoOffset, KST_PT_SENSE_OFFSET);
BLOCK_FIELD_AT(Cdb, KST_PT_CDB);
_Static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == KST_PT_BLOCK_SIZE, "block size");
#endif
_Static_assert(KST_INQUIRY_DATA_IN == SCSI_IOCTL_DATA_IN, "data direction");

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
    unsigned char count_bytes[KST_SCSI_INFO_COUNT_SIZE] = {0};
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
    char name[KST_ADAPTER_NAME_SIZE + 1];
    memcpy(name, e + KST_SCSI_INFO_ADAPTER_NAME, KST_ADAPTER_NAME_SIZE);
    name[KST_ADAPTER_NAME_SIZE] = '\0';
    printf("entry %ld hba=%lu path=%lu target=%lu lun=%lu letter=%lu adapter=\"%s\" context=0x%08lx\n",
           index, read_u32(e + KST_SCSI_INFO_HBA), read_u32(e + KST_SCSI_INFO_PATH_ID),
           read_u32(e + KST_SCSI_INFO_TARGET_ID), read_u32(e + KST_SCSI_INFO_LUN),
           read_u32(e + KST_SCSI_INFO_DRIVE_LETTER), name, read_u32(e + KST_SCSI_INFO_CONTEXT));
}

/* The request exactly as the installer builds it for an INQUIRY. */
static void build_inquiry(const unsigned char *e, unsigned char *req, const unsigned char *data)
{
    memset(req, 0, REQUEST_SIZE);
    memcpy(req + KST_PT_HBA, e + KST_SCSI_INFO_HBA, 4);
    memcpy(req + KST_PT_ADAPTER_NAME, e + KST_SCSI_INFO_ADAPTER_NAME, KST_ADAPTER_NAME_SIZE);
    memcpy(req + KST_PT_CONTEXT, e + KST_SCSI_INFO_CONTEXT, 4);
    req[KST_PT_BLOCK] = KST_PT_BLOCK_SIZE;
    req[KST_PT_PATH_ID] = e[KST_SCSI_INFO_PATH_ID];
    req[KST_PT_TARGET_ID] = e[KST_SCSI_INFO_TARGET_ID];
    req[KST_PT_LUN] = e[KST_SCSI_INFO_LUN];
    req[KST_PT_CDB_LENGTH] = KST_INQUIRY_CDB_LENGTH;
    req[KST_PT_SENSE_LENGTH] = KST_SENSE_SIZE;
    req[KST_PT_DATA_IN] = KST_INQUIRY_DATA_IN;
    write_u32(req + KST_PT_TRANSFER_LENGTH, KST_INQUIRY_TRANSFER_LENGTH);
    write_u32(req + KST_PT_TIME_OUT, KST_INQUIRY_TIME_OUT_SECONDS);
    /* The request has room for a 32-bit address only; a 64-bit build sends a
     * truncated one, which the stand-in driver never follows anyway. */
    write_u32(req + KST_PT_DATA_BUFFER, (unsigned long)(ULONG_PTR)data);
    write_u32(req + KST_PT_SENSE_OFFSET, KST_PT_SENSE - KST_PT_BLOCK);
    req[KST_PT_CDB] = KST_INQUIRY_OPERATION;
    req[KST_PT_CDB + 4] = KST_INQUIRY_TRANSFER_LENGTH;
}

/* Offset in the request of the byte that `alter` changes, or -1. */
static int field_offset(const char *field)
{
    static const struct { const char *name; int offset; } fields[] = {
        {"hba", KST_PT_HBA},
        {"adapter", KST_PT_ADAPTER_NAME + KST_ADAPTER_NAME_SIZE - 1}, /* its last byte */
        {"context", KST_PT_CONTEXT},
        {"path", KST_PT_PATH_ID},
        {"target", KST_PT_TARGET_ID},
        {"lun", KST_PT_LUN},
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
    unsigned char data[KST_INQUIRY_BUFFER_SIZE] = {0};
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
    printf("status 0x%02x senselen %u sense ", req[KST_PT_STATUS], req[KST_PT_SENSE_LENGTH]);
    print_hex(req + KST_PT_SENSE, KST_SENSE_SIZE);
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
        unsigned char count_bytes[KST_SCSI_INFO_COUNT_SIZE] = {0};
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
    const char *path = KST_CONTROL_DEVICE_PATH;
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
