/* (being written) */
#ifndef VANTLOW_CARBON_LAUNCHSERVICES_H
#define VANTLOW_CARBON_LAUNCHSERVICES_H
#include <Carbon/MacTypes.h>
#endif
