/*
 * Device table of the Kestrune stand-in filter: the byte layouts it answers
 * with and the pure lookups over them. Nothing here calls the kernel, so the
 * same code can be compiled and exercised in user mode.
 */
#ifndef KST_TABLE_H
#define KST_TABLE_H

/* Plain C types only: this header is compiled into a kernel image without a
 * C runtime, and in user mode alike. */
typedef unsigned char kst_u8;
typedef unsigned int kst_u32;

/* One ScsiInfo entry as the control device reports it. */
#define KST_SCSI_INFO_SIZE 32u
#define KST_SCSI_INFO_HBA 0u
#define KST_SCSI_INFO_PATH_ID 4u
#define KST_SCSI_INFO_TARGET_ID 8u
#define KST_SCSI_INFO_LUN 12u
#define KST_SCSI_INFO_DRIVE_LETTER 16u
#define KST_SCSI_INFO_ADAPTER_NAME 20u
#define KST_SCSI_INFO_CONTEXT 28u
#define KST_ADAPTER_NAME_SIZE 8u

/* One record of the configured table: the ScsiInfo entry followed by the
 * canned answer to a pass-through request aimed at that device. */
#define KST_RECORD_SIZE 52u
#define KST_RECORD_STATUS 32u
#define KST_RECORD_SENSE_LENGTH 33u
#define KST_RECORD_SENSE 34u
#define KST_SENSE_SIZE 18u
#define KST_MAX_RECORDS 4096u

/* The 96-byte pass-through request, received and answered in place. */
#define KST_PT_REQUEST_SIZE 96u
#define KST_PT_HBA 0u
#define KST_PT_ADAPTER_NAME 4u
#define KST_PT_CONTEXT 12u
#define KST_PT_STATUS 18u
#define KST_PT_PATH_ID 19u
#define KST_PT_TARGET_ID 20u
#define KST_PT_LUN 21u
#define KST_PT_SENSE_LENGTH 23u
#define KST_PT_DATA_BUFFER 36u
#define KST_PT_SENSE 64u

/* Number of records in a configured table of `length` bytes: 0 when the
 * length is not a whole number of records, at most KST_MAX_RECORDS (records
 * past the cap are ignored). */
kst_u32 kst_table_count(kst_u32 length);

/* How an entries request with an output buffer of `out_length` bytes is
 * answered, when the count request answers `reported` and the table holds
 * `table_count` records. The request is taken when its length is exactly
 * `reported` entries (none for a count of 0 or less); then *written receives
 * the number of entries to write, at most the table's, so a count above the
 * table gives a short answer. Returns KST_ENTRIES_OK, KST_ENTRIES_TOO_SMALL
 * for a shorter buffer, else KST_ENTRIES_INVALID. */
#define KST_ENTRIES_OK 0
#define KST_ENTRIES_TOO_SMALL 1
#define KST_ENTRIES_INVALID 2
int kst_entries_answer(kst_u32 table_count, int reported, kst_u32 out_length, kst_u32 *written);

/* Writes the ScsiInfo entries of the first `count` records of `table` back
 * to back into `out`, which holds count * KST_SCSI_INFO_SIZE bytes. */
void kst_table_write_entries(const kst_u8 *table, kst_u32 count, kst_u8 *out);

/* Index of the first record whose device the 96-byte `request` addresses
 * (HBA number, all 8 adapter name bytes, and the low bytes of path id,
 * target id and LUN), or -1 when none does. */
int kst_table_find(const kst_u8 *table, kst_u32 count, const kst_u8 *request);

/* Writes the record's canned status, sense length and sense bytes into the
 * 96-byte `request`; no other byte of the request changes. */
void kst_table_answer(const kst_u8 *record, kst_u8 *request);

#endif
