/*
 * Device table of the Kestrune stand-in filter: the layout of its records and
 * the pure lookups over them. Nothing here calls the kernel, so the
 * same code can be compiled and exercised in user mode.
 */
#ifndef KST_TABLE_H
#define KST_TABLE_H

/* Plain C types only: this header is compiled into a kernel image without a
 * C runtime, and in user mode alike. */
typedef unsigned char kst_u8;
typedef unsigned int kst_u32;

/* The entry and pass-through request layouts (KST_SCSI_INFO_*, KST_PT_*). */
#include "device/control_protocol.h"

/* One record of the configured table: the ScsiInfo entry followed by the
 * canned answer to a pass-through request aimed at that device. */
#define KST_RECORD_STATUS KST_SCSI_INFO_SIZE
#define KST_RECORD_SENSE_LENGTH (KST_RECORD_STATUS + 1u)
#define KST_RECORD_SENSE (KST_RECORD_SENSE_LENGTH + 1u)
#define KST_RECORD_SIZE (KST_RECORD_SENSE + KST_SENSE_SIZE)
#define KST_MAX_RECORDS 4096u

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
