/* (being written) */
#ifndef VANTLOW_CARBON_TOOLBOX_H
#define VANTLOW_CARBON_TOOLBOX_H
#include <Carbon/MacTypes.h>
#endif
