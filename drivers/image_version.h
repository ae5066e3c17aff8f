/* Version resource values of the stand-in images: the carried file version
 * (KST_IMAGE_VERSION, KST_IMAGE_VERSION_TEXT) from the one list of images,
 * and the names that mark them as stand-ins. */
#ifndef KST_IMAGE_VERSION_H
#define KST_IMAGE_VERSION_H

#include "resources/driver_images.h"

#define KST_IMAGE_COMPANY "Kestrune Project"
#define KST_IMAGE_COPYRIGHT "Stand-in image for testing"

#endif
