/* File version carried by all three filter images; the installer's version
 * check compares the fixed numbers, so keep both forms in step. */
#ifndef KST_IMAGE_VERSION_H
#define KST_IMAGE_VERSION_H

#define KST_IMAGE_VERSION 1,4,2,11
#define KST_IMAGE_VERSION_TEXT "1.4.2.11"
#define KST_IMAGE_COMPANY "Kestrune Project"
#define KST_IMAGE_COPYRIGHT "Stand-in image for testing"

#endif
