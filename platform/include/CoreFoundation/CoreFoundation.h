/* Our stand-in for CoreFoundation: everything the plug-in and the host use. */
#ifndef VANTLOW_COREFOUNDATION_H
#define VANTLOW_COREFOUNDATION_H

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFString.h>
#include <CoreFoundation/CFCollections.h>
#include <CoreFoundation/CFScalars.h>
#include <CoreFoundation/CFURL.h>
#include <CoreFoundation/CFPropertyList.h>
#include <CoreFoundation/CFBundle.h>
#include <CoreFoundation/CFPreferences.h>

#endif
