/* (being written) */
#ifndef VANTLOW_CARBON_TEXTENCODING_H
#define VANTLOW_CARBON_TEXTENCODING_H
#include <Carbon/MacTypes.h>
#endif
