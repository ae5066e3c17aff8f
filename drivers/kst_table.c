#include "kst_table.h"

static kst_u32 read_u32(const kst_u8 *p)
{
    return (kst_u32)p[0] | ((kst_u32)p[1] << 8) | ((kst_u32)p[2] << 16) | ((kst_u32)p[3] << 24);
}

/* Byte loops rather than memcpy/memcmp: the kernel image links no runtime. */
static void copy_bytes(kst_u8 *dst, const kst_u8 *src, kst_u32 n)
{
    kst_u32 i;
    for (i = 0; i < n; ++i)
        dst[i] = src[i];
}

static int same_bytes(const kst_u8 *a, const kst_u8 *b, kst_u32 n)
{
    kst_u32 i;
    for (i = 0; i < n; ++i)
        if (a[i] != b[i])
            return 0;
    return 1;
}

kst_u32 kst_table_count(kst_u32 length)
{
    kst_u32 count;
    if (length % KST_RECORD_SIZE != 0)
        return 0;
    count = length / KST_RECORD_SIZE;
    return count > KST_MAX_RECORDS ? KST_MAX_RECORDS : count;
}

int kst_entries_answer(kst_u32 table_count, int reported, kst_u32 out_length, kst_u32 *written)
{
    /* Compared by division: reported * 32 does not fit 32 bits for large counts. */
    kst_u32 wanted = reported > 0 ? (kst_u32)reported : 0;
    *written = 0;
    if (out_length % KST_SCSI_INFO_SIZE == 0 && out_length / KST_SCSI_INFO_SIZE == wanted) {
        *written = wanted < table_count ? wanted : table_count;
        return KST_ENTRIES_OK;
    }
    return out_length / KST_SCSI_INFO_SIZE < wanted ? KST_ENTRIES_TOO_SMALL : KST_ENTRIES_INVALID;
}

void kst_table_write_entries(const kst_u8 *table, kst_u32 count, kst_u8 *out)
{
    kst_u32 i;
    for (i = 0; i < count; ++i)
        copy_bytes(out + i * KST_SCSI_INFO_SIZE, table + i * KST_RECORD_SIZE, KST_SCSI_INFO_SIZE);
}

static int record_matches(const kst_u8 *record, const kst_u8 *request)
{
    return read_u32(record + KST_SCSI_INFO_HBA) == read_u32(request + KST_PT_HBA)
        && same_bytes(record + KST_SCSI_INFO_ADAPTER_NAME, request + KST_PT_ADAPTER_NAME,
                      KST_ADAPTER_NAME_SIZE)
        && record[KST_SCSI_INFO_PATH_ID] == request[KST_PT_PATH_ID]
        && record[KST_SCSI_INFO_TARGET_ID] == request[KST_PT_TARGET_ID]
        && record[KST_SCSI_INFO_LUN] == request[KST_PT_LUN];
}

int kst_table_find(const kst_u8 *table, kst_u32 count, const kst_u8 *request)
{
    kst_u32 i;
    for (i = 0; i < count; ++i)
        if (record_matches(table + i * KST_RECORD_SIZE, request))
            return (int)i;
    return -1;
}

void kst_table_answer(const kst_u8 *record, kst_u8 *request)
{
    request[KST_PT_STATUS] = record[KST_RECORD_STATUS];
    request[KST_PT_SENSE_LENGTH] = record[KST_RECORD_SENSE_LENGTH];
    copy_bytes(request + KST_PT_SENSE, record + KST_RECORD_SENSE, KST_SENSE_SIZE);
}
