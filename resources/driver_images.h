/*
 * The driver images KstIns.exe carries, each a resource of type "DRIVER",
 * and the file version they all have. This is the one list of them: the
 * build embeds each image under its id and takes or builds the file of its
 * name (cmake/KstDriverImages.cmake reads the lines below), and the
 * installer writes each to its folder below the system directory
 * (install/drivers.h).
 *
 * One image a line, in exactly this form, which CMake reads:
 *   IMAGE(<name in C++>, <resource id>, "<folder>", "<file name>")
 */
#ifndef KST_DRIVER_IMAGES_H
#define KST_DRIVER_IMAGES_H

#define KST_DRIVER_IMAGES(IMAGE) \
  IMAGE(KestruneSys, 104, "Drivers", "Kestrune.sys") \
  IMAGE(MorvellinSys, 105, "Drivers", "Morvellin.sys") \
  IMAGE(KestruneVxd, 106, "Iosubsys", "Kestrune.vxd")

/* The fixed file version of every carried image, which the installer's
 * version check compares, and its text "1.4.2.11". */
#define KST_IMAGE_VERSION 1,4,2,11
#define KST_VERSION_TEXT_OF_NUMBERS(a, b, c, d) #a "." #b "." #c "." #d
#define KST_VERSION_TEXT_OF(numbers) KST_VERSION_TEXT_OF_NUMBERS(numbers)
#define KST_IMAGE_VERSION_TEXT KST_VERSION_TEXT_OF(KST_IMAGE_VERSION)

#endif
