/* The program's identity: product name, version and copyright. Plain macros,
   so that C++ code and resource scripts (.rc, through windres) share them. */
#ifndef QUENLAT_RESOURCES_VERSION_H
#define QUENLAT_RESOURCES_VERSION_H

#define QUENLAT_PRODUCT_NAME "Quenlat"
#define QUENLAT_PRODUCT_VERSION "1.1"
/* The four numbers of the fixed version record, and the same as text. */
#define QUENLAT_FILE_VERSION 1, 0, 0, 1
#define QUENLAT_FILE_VERSION_TEXT "1, 0, 0, 1"
#define QUENLAT_COPYRIGHT "Copyright (C) 2026 Quenlat"
#define QUENLAT_COMPANY "Quenlat"

#endif
