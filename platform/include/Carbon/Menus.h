/* (being written) */
#ifndef VANTLOW_CARBON_MENUS_H
#define VANTLOW_CARBON_MENUS_H
#include <Carbon/MacTypes.h>
#endif
