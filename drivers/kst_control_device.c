#include "kst_control_device.h"

NTSTATUS kst_create_control_device(PDRIVER_OBJECT driver, PCWSTR device_name, PCWSTR link_name,
                                   PDEVICE_OBJECT *device)
{
    UNICODE_STRING device_path;
    UNICODE_STRING link;
    NTSTATUS status;

    RtlInitUnicodeString(&device_path, device_name);
    status = IoCreateDevice(driver, 0, &device_path, FILE_DEVICE_UNKNOWN, 0, FALSE, device);
    if (!NT_SUCCESS(status))
        return status;
    RtlInitUnicodeString(&link, link_name);
    status = IoCreateSymbolicLink(&link, &device_path);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*device);
        *device = NULL;
    }
    return status;
}

void kst_delete_control_device(PDRIVER_OBJECT driver, PCWSTR link_name)
{
    UNICODE_STRING link;

    RtlInitUnicodeString(&link, link_name);
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject != NULL)
        IoDeleteDevice(driver->DeviceObject);
}
