/* Our stand-in for the Carbon managers the plug-in and the host use. */
#ifndef VANTLOW_CARBON_H
#define VANTLOW_CARBON_H

#include <CoreFoundation/CoreFoundation.h>
#include <Carbon/MacTypes.h>
#include <Carbon/AEDataModel.h>
#include <Carbon/CarbonEvents.h>
#include <Carbon/Menus.h>
#include <Carbon/Toolbox.h>
#include <Carbon/Files.h>
#include <Carbon/LaunchServices.h>
#include <Carbon/Aliases.h>
#include <Carbon/Scrap.h>
#include <Carbon/Keyboard.h>
#include <Carbon/TextEncoding.h>
#include <Carbon/Windows.h>
#include <Carbon/ContextualMenuPlugin.h>

#endif
