/*
 * The named control device each stand-in driver exposes to user mode: the
 * device object and its \DosDevices link, made and removed together.
 */
#ifndef KST_CONTROL_DEVICE_H
#define KST_CONTROL_DEVICE_H

#include <ntddk.h>

/* Creates the device `device_name` of `driver` and the link `link_name` to
 * it. On failure nothing is left behind. */
NTSTATUS kst_create_control_device(PDRIVER_OBJECT driver, PCWSTR device_name, PCWSTR link_name,
                                   PDEVICE_OBJECT *device);

/* Removes the link and the driver's device, for its unload routine. */
void kst_delete_control_device(PDRIVER_OBJECT driver, PCWSTR link_name);

#endif
