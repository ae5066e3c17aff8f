/* Version and names in the version resources of the shipping programs:
 * Windows shows them beside the signer of a signed program. The installer's
 * own values are fixed; the other programs carry the same. */
#ifndef KST_VERSION_H
#define KST_VERSION_H

#define KST_PROGRAM_VERSION 1,4,5,12
#define KST_PROGRAM_VERSION_TEXT "1.4.5.12"
#define KST_COMPANY_NAME "Kestrune Project"
#define KST_PRODUCT_NAME "Kestrune"

#endif
