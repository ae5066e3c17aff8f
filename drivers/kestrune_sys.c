/*
 * Kestrune.sys stand-in: the adapter-level filter's control device.
 *
 * It exposes \Device\KESTRUNE, reachable from user mode as \\.\Kestrune, and
 * answers the four control requests from a device table configured in the
 * driver's service key (REG_BINARY value "Parameters", 52-byte records, see
 * kst_table.h). It filters nothing: it sees no real devices and sends no SCSI
 * commands; every answer comes from that table, read once at load time.
 */
#include <ntddk.h>

#include "kst_control_device.h"

#include "kst_table.h"

#define KST_POOL_TAG 0x2074734Bu /* "Kst " */

#define IOCTL_KESTRUNE_SCSI_PASS_THROUGH CTL_CODE(FILE_DEVICE_UNKNOWN, 8, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_KESTRUNE_INITIATE CTL_CODE(FILE_DEVICE_UNKNOWN, 11, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_KESTRUNE_UNINITIATE CTL_CODE(FILE_DEVICE_UNKNOWN, 13, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_KESTRUNE_GET_SCSI_INFO CTL_CODE(FILE_DEVICE_UNKNOWN, 14, METHOD_BUFFERED, FILE_ANY_ACCESS)

/* The table is written only in DriverEntry and freed only in DriverUnload,
 * so request handlers read it without locking. `table_block` is the pool
 * block holding it (null when nothing was configured). */
static PKEY_VALUE_PARTIAL_INFORMATION table_block;
static const kst_u8 *table;
static kst_u32 table_count;

static const WCHAR device_name[] = L"\\Device\\KESTRUNE";
static const WCHAR link_name[] = L"\\DosDevices\\Kestrune";

/* Reads the value "Parameters" of the service key into pool memory. Returns
 * the block (caller frees) or null when the value is missing, not binary or
 * cannot be read. */
static PKEY_VALUE_PARTIAL_INFORMATION read_parameters(PUNICODE_STRING registry_path)
{
    OBJECT_ATTRIBUTES attributes;
    UNICODE_STRING value_name;
    KEY_VALUE_PARTIAL_INFORMATION probe;
    PKEY_VALUE_PARTIAL_INFORMATION block = NULL;
    HANDLE key;
    ULONG size = 0;
    NTSTATUS status;

    InitializeObjectAttributes(&attributes, registry_path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes)))
        return NULL;
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
    ZwClose(key);
    return block;
}

static void load_table(PUNICODE_STRING registry_path)
{
    table_block = read_parameters(registry_path);
    if (table_block == NULL)
        return;
    table = table_block->Data;
    table_count = kst_table_count(table_block->DataLength);
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
 * bytes asks for the entries themselves. */
static NTSTATUS get_scsi_info(PIRP irp, ULONG out_length)
{
    kst_u8 *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG entries_length = table_count * KST_SCSI_INFO_SIZE;

    if (out_length == sizeof(LONG)) {
        *(LONG UNALIGNED *)buffer = (LONG)table_count;
        return complete(irp, STATUS_SUCCESS, sizeof(LONG));
    }
    if (out_length == entries_length) {
        kst_table_write_entries(table, table_count, buffer);
        return complete(irp, STATUS_SUCCESS, entries_length);
    }
    return complete(irp, out_length < entries_length ? STATUS_BUFFER_TOO_SMALL : STATUS_INVALID_PARAMETER, 0);
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
