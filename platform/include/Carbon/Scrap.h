/* (being written) */
#ifndef VANTLOW_CARBON_SCRAP_H
#define VANTLOW_CARBON_SCRAP_H
#include <Carbon/MacTypes.h>
#endif
