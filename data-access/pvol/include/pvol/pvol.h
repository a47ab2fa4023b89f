/* Umbrella header of libpvol: includes every public header of the library. */
#ifndef PVOL_H
#define PVOL_H

#include "pvol_export.h"

#endif /* PVOL_H */
