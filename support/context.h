// The context reader: wraps the descriptor through which the host hands the
// plug-in its selection (as a rule a list of alias descriptors, but possibly
// a single descriptor or nothing at all). It reads any context as a list or
// as a null descriptor, counts the items, extracts the n-th item as an
// alias and resolves it to a file reference, tells whether any item
// resolves, and makes, once, a directory iterator over the FSRef data of all
// the items that resolve. That iterator's list is the selection the menu
// hands to the size calculation. A reader lives within one host call.
//
// Every operation accepts a null reader and then answers null, false, 0 or
// noErr (MyFSDirIterCreateWithContext: paramErr). Items that cannot be
// extracted or resolved are no errors: they answer null or false, and the
// iterator leaves them out.
#pragma once

#include <Carbon/Carbon.h>

#include "dir_iter.h"

typedef struct MyCMContext MyCMContext;

// Makes a reader over context (null allowed: a reader without items).
// A null context or a typeNull descriptor gives a null reader; a typeAEList
// is read in place unless duplicate is true (then it is copied): the
// caller's list must outlive the reader; any other descriptor is coerced to
// a list (a single item becomes a list of one). paramErr for a null
// outReader (nothing is stored); memFullErr when the record cannot be had;
// the error of the copy or the coercion. *outReader receives the reader
// (dispose it with MyCMContextDispose), or null after any failure.
OSStatus MyCMContextCreateWithContext(const AEDesc *context, Boolean duplicate,
                                      MyCMContext **outReader /* OUT: or null */);

// Disposes the iterator and the reader's own descriptor and frees the
// record; the caller's lent list is left alone. Returns the result of
// disposing the reader's own descriptor; noErr for null.
OSStatus MyCMContextDispose(MyCMContext *reader);

// True for a null reader and for a reader over a typeNull descriptor.
Boolean MyCMContextIsNull(MyCMContext *reader);

// The number of items, resolvable or not; 0 for a null reader.
long MyCMContextGetItemCount(MyCMContext *reader);

// The item at index (from 1) as a new alias handle, which the caller
// disposes with DisposeHandle; null for an index outside 1..count, an item
// that cannot be made an alias, or when memory runs out.
AliasHandle MyCMContextExtractAliasAt(MyCMContext *reader, long index);

// Whether the item at index (from 1) resolves to an existing item; on true
// *outRef names it (on false it is unspecified). False for a null outRef.
Boolean MyCMContextExtractFSRefAt(MyCMContext *reader, long index, FSRef *outRef /* OUT */);

// Whether at least one item resolves.
Boolean MyCMContextContainsAlias(MyCMContext *reader);

// The reader's iterator over the items that resolve, in the context's order,
// made on the first call and rewound to before its first item on every
// call. Lent: it belongs to the reader and goes with it (its list may be
// retained). Null for a null reader, or when it cannot be made; the next
// call then tries again.
MyFSDirIter *MyCMContextGetIterater(MyCMContext *reader);

// Makes an iterator over the FSRef data of the reader's items that resolve
// (items that do not resolve are skipped without error). paramErr for a
// null reader or outIter; memFullErr when the record, the array or one of
// its data objects cannot be had, or when an item could not be read for lack
// of memory (it is never left out silently). *outIter receives the iterator (dispose it
// with MyFSDirIterDispose), or null after any failure.
OSStatus MyFSDirIterCreateWithContext(MyCMContext *reader, MyFSDirIter **outIter /* OUT */);
