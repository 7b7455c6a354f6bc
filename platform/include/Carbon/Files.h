/* (being written) */
#ifndef VANTLOW_CARBON_FILES_H
#define VANTLOW_CARBON_FILES_H
#include <Carbon/MacTypes.h>
#endif
