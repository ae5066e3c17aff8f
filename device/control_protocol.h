/*
 * The protocol of the filter's control device, for every side of it: the
 * installer's status display and check (device/), the stand-in filter
 * (drivers/) and the test client of the end-to-end tests. Plain C macros, so
 * that a kernel image without a runtime, user-mode C and C++ read the same
 * numbers. Every multi-byte field is little-endian.
 */
#ifndef KST_CONTROL_PROTOCOL_H
#define KST_CONTROL_PROTOCOL_H

/* The control device as user mode opens it, and the names the adapter-level
 * filter gives it so that this path reaches it. */
#define KST_CONTROL_DEVICE_PATH "\\\\.\\Kestrune"
#define KST_CONTROL_DEVICE_NAME L"\\Device\\KESTRUNE"
#define KST_CONTROL_DEVICE_LINK L"\\DosDevices\\Kestrune"

/* The four requests: CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED,
 * FILE_ANY_ACCESS) with the function number in the comment. */
#define IOCTL_KESTRUNE_SCSI_PASS_THROUGH 0x220020u /* 8 */
#define IOCTL_KESTRUNE_INITIATE 0x22002Cu          /* 11 */
#define IOCTL_KESTRUNE_UNINITIATE 0x220034u        /* 13 */
#define IOCTL_KESTRUNE_GET_SCSI_INFO 0x220038u     /* 14 */

/* IOCTL_KESTRUNE_GET_SCSI_INFO answers an output buffer of exactly this size
 * with the signed entry count, and one of count * KST_SCSI_INFO_SIZE bytes
 * with the entries back to back. */
#define KST_SCSI_INFO_COUNT_SIZE 4u

/* One ScsiInfo entry: a device the filter sees. */
#define KST_SCSI_INFO_SIZE 32u
#define KST_SCSI_INFO_HBA 0u
#define KST_SCSI_INFO_PATH_ID 4u
#define KST_SCSI_INFO_TARGET_ID 8u
#define KST_SCSI_INFO_LUN 12u
#define KST_SCSI_INFO_DRIVE_LETTER 16u /* n other than 0 and 255: drive 'A' + n */
#define KST_SCSI_INFO_ADAPTER_NAME 20u /* zero-padded, not terminated at 8 */
#define KST_SCSI_INFO_CONTEXT 28u      /* only the filter interprets it */
#define KST_ADAPTER_NAME_SIZE 8u

/* The pass-through request, sent and answered in place: the entry's adapter
 * identification, then the pass-through block laid out as the 32-bit
 * SCSI_PASS_THROUGH_DIRECT, then the sense data. */
#define KST_PT_REQUEST_SIZE 96u
#define KST_PT_HBA 0u
#define KST_PT_ADAPTER_NAME 4u
#define KST_PT_CONTEXT 12u
#define KST_PT_BLOCK 16u /* its first field is its length */
#define KST_PT_BLOCK_SIZE 44u
#define KST_PT_STATUS 18u /* answered */
#define KST_PT_PATH_ID 19u
#define KST_PT_TARGET_ID 20u
#define KST_PT_LUN 21u
#define KST_PT_CDB_LENGTH 22u
#define KST_PT_SENSE_LENGTH 23u /* answered: the number of sense bytes */
#define KST_PT_DATA_IN 24u
#define KST_PT_TRANSFER_LENGTH 28u
#define KST_PT_TIME_OUT 32u
#define KST_PT_DATA_BUFFER 36u /* 32-bit address of the caller's data buffer */
#define KST_PT_SENSE_OFFSET 40u /* counted from the block */
#define KST_PT_CDB 44u
#define KST_PT_SENSE 64u /* answered: fixed-format sense data */
#define KST_SENSE_SIZE 18u

/* What one INQUIRY sends: a 6-byte CDB asking for 254 bytes into a data
 * buffer of 255, of which the first 36 are the standard inquiry data. */
#define KST_INQUIRY_OPERATION 0x12u
#define KST_INQUIRY_CDB_LENGTH 6u
#define KST_INQUIRY_DATA_IN 1u /* from the device to the host */
#define KST_INQUIRY_TRANSFER_LENGTH 254u
#define KST_INQUIRY_TIME_OUT_SECONDS 300u
#define KST_INQUIRY_BUFFER_SIZE 255u
#define KST_INQUIRY_DATA_SIZE 36u

#ifdef __cplusplus
#define KST_PROTOCOL_ASSERT(condition, why) static_assert(condition, why)
#else
#define KST_PROTOCOL_ASSERT(condition, why) _Static_assert(condition, why)
#endif

KST_PROTOCOL_ASSERT(KST_SCSI_INFO_ADAPTER_NAME + KST_ADAPTER_NAME_SIZE == KST_SCSI_INFO_CONTEXT &&
                        KST_SCSI_INFO_CONTEXT + 4 == KST_SCSI_INFO_SIZE,
                    "the entry's fields fill its 32 bytes");
KST_PROTOCOL_ASSERT(KST_PT_ADAPTER_NAME + KST_ADAPTER_NAME_SIZE == KST_PT_CONTEXT &&
                        KST_PT_CONTEXT + 4 == KST_PT_BLOCK,
                    "the adapter identification stands right before the block");
KST_PROTOCOL_ASSERT(KST_PT_CDB + 16 == KST_PT_BLOCK + KST_PT_BLOCK_SIZE,
                    "the block ends with its 16 CDB bytes");
KST_PROTOCOL_ASSERT(KST_PT_BLOCK + KST_PT_BLOCK_SIZE <= KST_PT_SENSE &&
                        KST_PT_SENSE + KST_SENSE_SIZE <= KST_PT_REQUEST_SIZE,
                    "the sense data lie after the block, inside the request");
KST_PROTOCOL_ASSERT(KST_INQUIRY_DATA_SIZE <= KST_INQUIRY_TRANSFER_LENGTH &&
                        KST_INQUIRY_TRANSFER_LENGTH < KST_INQUIRY_BUFFER_SIZE &&
                        KST_INQUIRY_TRANSFER_LENGTH <= 0xFF,
                    "the allocation length fits the CDB's byte and the data buffer");

#endif
