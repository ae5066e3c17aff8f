/*
 * Kestrune.sys stand-in: the adapter-level filter's control device.
 *
 * It exposes \Device\KESTRUNE, reachable from user mode as \\.\Kestrune, and
 * answers the four control requests from a device table configured in the
 * driver's service key (REG_BINARY value "Parameters", 52-byte records, see
 * kst_table.h). It filters nothing: it sees no real devices and sends no SCSI
 * commands; every answer comes from that table, read once at load time.
 * Two more values of the key make it misbehave on purpose, for tests of the
 * program against a broken filter: "ReportedCount" (REG_DWORD) is the entry
 * count it answers instead of the table's, and a nonzero "PassThroughFails"
 * (REG_DWORD) fails every pass-through request.
 */
#include <ntddk.h>

#include "device/control_protocol.h"
#include "kst_control_device.h"
#include "kst_table.h"

#define KST_POOL_TAG 0x2074734Bu /* "Kst " */

/* The protocol's request codes are the platform's rule applied to these
 * function numbers. */
#define KST_BUFFERED_REQUEST(function) CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
_Static_assert(IOCTL_KESTRUNE_SCSI_PASS_THROUGH == KST_BUFFERED_REQUEST(8), "pass-through code");
_Static_assert(IOCTL_KESTRUNE_INITIATE == KST_BUFFERED_REQUEST(11), "initiate code");
_Static_assert(IOCTL_KESTRUNE_UNINITIATE == KST_BUFFERED_REQUEST(13), "uninitiate code");
_Static_assert(IOCTL_KESTRUNE_GET_SCSI_INFO == KST_BUFFERED_REQUEST(14), "entries code");
_Static_assert(KST_SCSI_INFO_COUNT_SIZE == sizeof(LONG), "the count is one LONG");

/* The table is written only in DriverEntry and freed only in DriverUnload,
 * so request handlers read it without locking. `table_block` is the pool
 * block holding it (null when nothing was configured). */
static PKEY_VALUE_PARTIAL_INFORMATION table_block;
static const kst_u8 *table;
static kst_u32 table_count;
static int reported_count; /* the count answered; the table's unless configured */
static int pass_through_fails;

static const WCHAR device_name[] = KST_CONTROL_DEVICE_NAME;
static const WCHAR link_name[] = KST_CONTROL_DEVICE_LINK;

/* Reads the value "Parameters" of the open service key into pool memory.
 * Returns the block (caller frees) or null when the value is missing, not
 * binary or cannot be read. */
static PKEY_VALUE_PARTIAL_INFORMATION read_parameters(HANDLE key)
{
    UNICODE_STRING value_name;
    KEY_VALUE_PARTIAL_INFORMATION probe;
    PKEY_VALUE_PARTIAL_INFORMATION block = NULL;
    ULONG size = 0;
    NTSTATUS status;

    RtlInitUnicodeString(&value_name, L"Parameters");
    status = ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, &probe, sizeof(probe), &size);
    if ((NT_SUCCESS(status) || status == STATUS_BUFFER_OVERFLOW || status == STATUS_BUFFER_TOO_SMALL)
        && size >= sizeof(probe))
        block = ExAllocatePoolWithTag(NonPagedPool, size, KST_POOL_TAG);
    if (block != NULL) {
        status = ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, block, size, &size);
        if (!NT_SUCCESS(status) || block->Type != REG_BINARY) {
            ExFreePoolWithTag(block, KST_POOL_TAG);
            block = NULL;
        }
    }
    return block;
}

/* Reads a REG_DWORD value of the open service key into *value; leaves it
 * as it was when the value is missing or of another type or size. */
static void read_dword(HANDLE key, PCWSTR name, ULONG *value)
{
    UNICODE_STRING value_name;
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    } answer;
    ULONG size = 0;

    RtlInitUnicodeString(&value_name, name);
    if (NT_SUCCESS(ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, &answer,
                                   sizeof(answer), &size))
        && answer.info.Type == REG_DWORD && answer.info.DataLength == sizeof(ULONG))
        *value = *(ULONG UNALIGNED *)answer.info.Data;
}

static void load_table(PUNICODE_STRING registry_path)
{
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    ULONG reported, fails = 0;

    InitializeObjectAttributes(&attributes, registry_path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes)))
        return;
    table_block = read_parameters(key);
    if (table_block != NULL) {
        table = table_block->Data;
        table_count = kst_table_count(table_block->DataLength);
    }
    reported = table_count;
    read_dword(key, L"ReportedCount", &reported);
    read_dword(key, L"PassThroughFails", &fails);
    reported_count = (int)reported;
    pass_through_fails = fails != 0;
    ZwClose(key);
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI dispatch_create_close(PDEVICE_OBJECT device, PIRP irp)
{
    UNREFERENCED_PARAMETER(device);
    return complete(irp, STATUS_SUCCESS, 0);
}

/* Output of exactly 4 bytes asks for the entry count; output of count * 32
 * bytes asks for the entries themselves. With a reported count above the
 * table's, the entries answer is short: only the table's entries come back. */
static NTSTATUS get_scsi_info(PIRP irp, ULONG out_length)
{
    kst_u8 *buffer = irp->AssociatedIrp.SystemBuffer;
    kst_u32 written;

    if (out_length == KST_SCSI_INFO_COUNT_SIZE) {
        *(LONG UNALIGNED *)buffer = (LONG)reported_count;
        return complete(irp, STATUS_SUCCESS, sizeof(LONG));
    }
    switch (kst_entries_answer(table_count, reported_count, out_length, &written)) {
    case KST_ENTRIES_OK:
        kst_table_write_entries(table, written, buffer);
        return complete(irp, STATUS_SUCCESS, written * KST_SCSI_INFO_SIZE);
    case KST_ENTRIES_TOO_SMALL:
        return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    default:
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
}

/* Answers a pass-through request with the canned status and sense bytes of
 * the addressed device. The data buffer address at offset 36 is never used:
 * it points into the caller's address space, which this driver cannot reach
 * safely (under Wine it is not even the same process), so the caller's data
 * buffer is left as the caller filled it. */
static NTSTATUS scsi_pass_through(PIRP irp, ULONG in_length, ULONG out_length)
{
    kst_u8 *request = irp->AssociatedIrp.SystemBuffer;
    int index;

    if (in_length != KST_PT_REQUEST_SIZE || out_length != KST_PT_REQUEST_SIZE)
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    if (pass_through_fails)
        return complete(irp, STATUS_IO_DEVICE_ERROR, 0);
    index = kst_table_find(table, table_count, request);
    if (index < 0)
        return complete(irp, STATUS_NO_SUCH_DEVICE, 0);
    kst_table_answer(table + (ULONG)index * KST_RECORD_SIZE, request);
    return complete(irp, STATUS_SUCCESS, KST_PT_REQUEST_SIZE);
}

static NTSTATUS NTAPI dispatch_device_control(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;

    UNREFERENCED_PARAMETER(device);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_KESTRUNE_INITIATE:
    case IOCTL_KESTRUNE_UNINITIATE:
        return complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_KESTRUNE_GET_SCSI_INFO:
        return get_scsi_info(irp, out_length);
    case IOCTL_KESTRUNE_SCSI_PASS_THROUGH:
        return scsi_pass_through(irp, in_length, out_length);
    default:
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static void release_table(void)
{
    if (table_block != NULL)
        ExFreePoolWithTag(table_block, KST_POOL_TAG);
    table_block = NULL;
    table = NULL;
    table_count = 0;
    reported_count = 0;
    pass_through_fails = 0;
}

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver)
{
    kst_delete_control_device(driver, link_name);
    release_table();
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    PDEVICE_OBJECT device;
    NTSTATUS status;

    status = kst_create_control_device(driver, device_name, link_name, &device);
    if (!NT_SUCCESS(status))
        return status;
    load_table(registry_path);
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_create_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_device_control;
    driver->DriverUnload = driver_unload;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
