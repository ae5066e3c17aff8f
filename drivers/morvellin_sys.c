/*
 * Morvellin.sys stand-in: the CD/DVD-ROM class filter. It only creates its
 * own device \Device\MORVELLIN (linked as \DosDevices\Morvellin), completes
 * opens and closes, fails every other request and unloads cleanly. It
 * attaches to no device and filters nothing.
 */
#include <ntddk.h>

#include "kst_control_device.h"

static const WCHAR device_name[] = L"\\Device\\MORVELLIN";
static const WCHAR link_name[] = L"\\DosDevices\\Morvellin";

static NTSTATUS complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI dispatch_create_close(PDEVICE_OBJECT device, PIRP irp)
{
    UNREFERENCED_PARAMETER(device);
    return complete(irp, STATUS_SUCCESS);
}

static NTSTATUS NTAPI dispatch_unsupported(PDEVICE_OBJECT device, PIRP irp)
{
    UNREFERENCED_PARAMETER(device);
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
}

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver)
{
    kst_delete_control_device(driver, link_name);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    PDEVICE_OBJECT device;
    NTSTATUS status;
    ULONG i;

    UNREFERENCED_PARAMETER(registry_path);
    status = kst_create_control_device(driver, device_name, link_name, &device);
    if (!NT_SUCCESS(status))
        return status;
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i)
        driver->MajorFunction[i] = dispatch_unsupported;
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_create_close;
    driver->DriverUnload = driver_unload;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
