/* (being written) */
#ifndef VANTLOW_CARBON_CONTEXTUALMENUPLUGIN_H
#define VANTLOW_CARBON_CONTEXTUALMENUPLUGIN_H
#include <Carbon/MacTypes.h>
#endif
