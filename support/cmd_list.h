// The command list builder: hides the record format of the host's
// contextual-menu command list. Its caller adds plain items, separators and
// submenus by name, command ID and menu item attributes; the builder makes
// one record per item ('pnam' the text, 'cmcd' the command ID, 'cmsb' a
// submenu's item records, 'cmat' the attributes when not 0), chooses the text
// type the running system reads ('utxt' from 10.2 on, else 'itxt'), and, in
// deferred mode, plants the identifier item through which the frame's
// menu-populate handler recognises a submenu when it opens, and registers
// the submenu's populate data with the instance.
//
// A MyCMCmdList either wraps the host's list (items go straight into it) or
// owns a list of its own (the item list of a submenu). All of a submenu's
// items must be in place before the submenu is added to its parent: the
// item list is copied into the parent's record at that moment.
//
// Deferred mode is the instance's flag (MyCMXTypeAllowInstallHandler), read
// at each use. Results: paramErr for null arguments, memFullErr when memory
// runs out, kMyNilPointerErr when a CFNumber key or a submenu's identifier
// or dictionary is missing; the Apple Event Manager's errors unchanged. A
// failed add leaves the list as it was (but see MyCMCmdListAddSubmenuItem).
#pragma once

#include <Carbon/Carbon.h>

typedef struct MyCMXType MyCMXType;
typedef struct MyCMCmdList MyCMCmdList;

// Makes a builder over hostList (lent: it must outlive the builder, which
// never disposes it), or over a new list of its own when hostList is null.
// Draws one menu identifier from the instance (wrapping or not, deferred or
// not) and makes the populate-data dictionary; a missing identifier or
// dictionary is no error here. paramErr for a null outList (nothing stored)
// or a null instance; memFullErr or the error of making the list. *outList
// receives the builder (dispose it with MyCMCmdListDispose), or null after
// any failure, with nothing left allocated.
OSStatus MyCMCmdListCreate(AEDescList *hostList, MyCMCmdList **outList /* OUT: or null */,
                           MyCMXType *instance);

// Gives up the builder's own references (identifier, dictionary, own list)
// and frees it; the host's list and what was appended to it stay, and so
// does a dictionary registered with the instance. Returns the result of
// disposing the own list; noErr for null.
OSStatus MyCMCmdListDispose(MyCMCmdList *list);

// Appends a plain item. attributes 0 puts no 'cmat'; a failure to put the
// attributes is ignored (the item is appended without them). In deferred
// mode, populateData (retained) is filed under the new item's position
// (from 1) once the item is in place; a position keeps its first data, and
// a failure to file it is not reported.
OSStatus MyCMCmdListAddItem(MyCMCmdList *list, CFStringRef name, SInt32 commandID,
                            UInt32 attributes, CFTypeRef populateData /* may be null */);

// Appends a submenu item: name, a copy of submenu's items under 'cmsb', the
// attributes when not 0, no command ID. In deferred mode, when this list has
// an identifier, the submenu's identifier item (text = the submenu's
// identifier, command 0, no attributes) is first appended to the submenu as
// its last item, and after the append the submenu's dictionary is
// registered with the instance under that identifier; the result is then
// the registration's (kMyNilPointerErr when the submenu has no identifier or
// no dictionary). The identifier item stays in the submenu when a later
// step fails; paramErr, and nothing appended, when the submenu has no
// identifier to plant.
OSStatus MyCMCmdListAddSubmenuItem(MyCMCmdList *list, CFStringRef name, MyCMCmdList *submenu,
                                   UInt32 attributes, CFTypeRef populateData /* may be null */);

// Appends the separator { 'pnam': "-", 'cmcd': 0, 'cmat': kMenuItemAttrSeparator }.
OSStatus MyCMCmdListAddSeparatorItem(MyCMCmdList *list);

// The number of items in the list; 0 for null or when it cannot be counted.
SInt32 MyCMCmdListCountItems(MyCMCmdList *list);

// The list items go into (the host's list when wrapping), lent; null for null.
AEDescList *MyCMCmdListGetCommandList(MyCMCmdList *list);

// This list's menu identifier, lent; null for null or when it has none.
CFStringRef MyCMCmdListGetMenuIdentifier(MyCMCmdList *list);

// The populate-data dictionary (key: the item's position as a
// kCFNumberSInt32Type number; value: the caller's object), lent; null for
// null or when there is none (this never makes one).
CFMutableDictionaryRef MyCMCmdListGetPopulateDataDic(MyCMCmdList *list);

// Whether the attributes parameter may be put into an item record: always
// true on this system.
Boolean MyCMCmdListHasAttributeAndModifierKeys(void);
