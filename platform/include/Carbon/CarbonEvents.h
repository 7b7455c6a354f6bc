/* (being written) */
#ifndef VANTLOW_CARBON_CARBONEVENTS_H
#define VANTLOW_CARBON_CARBONEVENTS_H
#include <Carbon/MacTypes.h>
#endif
