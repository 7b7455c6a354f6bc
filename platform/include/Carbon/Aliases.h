/* (being written) */
#ifndef VANTLOW_CARBON_ALIASES_H
#define VANTLOW_CARBON_ALIASES_H
#include <Carbon/MacTypes.h>
#endif
