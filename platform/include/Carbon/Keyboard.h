/* (being written) */
#ifndef VANTLOW_CARBON_KEYBOARD_H
#define VANTLOW_CARBON_KEYBOARD_H
#include <Carbon/MacTypes.h>
#endif
