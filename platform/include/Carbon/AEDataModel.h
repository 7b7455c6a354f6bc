/* (being written) */
#ifndef VANTLOW_CARBON_AEDATAMODEL_H
#define VANTLOW_CARBON_AEDATAMODEL_H
#include <Carbon/MacTypes.h>
#endif
