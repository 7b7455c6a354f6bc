/* (being written) */
#ifndef VANTLOW_CARBON_WINDOWS_H
#define VANTLOW_CARBON_WINDOWS_H
#include <Carbon/MacTypes.h>
#endif
