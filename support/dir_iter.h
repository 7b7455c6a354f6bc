// The directory iterator: hands out, one at a time, the file-system items of
// a list fixed when the iterator is made (every entry of one folder, or the
// caller's own list of file references), and answers questions about the item
// it stands on: folder or not, invisible or not, the current user's rights,
// its path and its name. The size accumulation walks a tree with one iterator
// per folder.
//
// FSRef data: wherever the plug-in keeps a file reference in a collection, it
// keeps an immutable CFData of exactly 80 bytes holding the FSRef. A list of
// references is a CFArray of FSRef data made with kCFTypeArrayCallBacks.
//
// Results: paramErr (-50) for a null argument, memFullErr (-108) when memory
// runs out, afpAccessDenied (-5000) for a folder the user may not read and
// search; the File Manager's errors are passed on. The question functions
// never fail: they answer false, 0 or null.
#pragma once

#include <Carbon/Carbon.h>

typedef struct MyFSDirIter MyFSDirIter;

// Makes an iterator over the entries of the folder (invisible ones included,
// in the catalog's order), read whole before this returns. On a volume's
// root the names listed in its ".hidden" file count as invisible. paramErr
// for a null argument or an item that is not a folder, afpAccessDenied
// without read and search rights, or the listing's error. *outIter receives
// the new iterator (dispose it with MyFSDirIterDispose), or null after any
// failure; nothing stays allocated then.
OSStatus MyFSDirIterCreate(const FSRef *folder, MyFSDirIter **outIter /* OUT: or null */);

// The same as MyFSDirIterCreate on the current item of parent, but what
// parent already fetched about that item (its Launch Services flags, its
// access byte) is used instead of being asked again: a walk that has just
// asked whether a folder is invisible and may be entered enters it with one
// catalog question less of each kind. Without a current item, paramErr.
OSStatus MyFSDirIterCreateForCurrentItem(MyFSDirIter *parent,
                                         MyFSDirIter **outIter /* OUT: or null */);

// Makes an iterator over a mutable copy of refs, an array of FSRef data: the
// elements are shared, the array is not, so changes to the iterator's list
// never reach the caller's array. paramErr for a null argument or an element
// that is not FSRef data. *outIter as above.
OSStatus MyFSDirIterCreateWithFSRefArray(CFArrayRef refs, MyFSDirIter **outIter /* OUT */);

// Releases the iterator's list and hidden names and frees it. Null allowed;
// always noErr.
OSStatus MyFSDirIterDispose(MyFSDirIter *iter);

// Goes back to before the first item; the list stays as it is.
void MyFSDirIterReset(MyFSDirIter *iter);

// The iterator's list of FSRef data, lent while the iterator lives and its
// list is not replaced. Null for a null iterator.
CFArrayRef MyFSDirIterGetContentRefs(MyFSDirIter *iter);

// Moves to the next item and returns its reference, lent while the iterator
// lives and its list is not replaced; null at the end (and from then on) and
// for a null iterator. Reads only the item's node flags.
const FSRef *MyFSDirIterNext(MyFSDirIter *iter);

// The questions below describe the item that the last MyFSDirIterNext
// returned; without one (before the first item, after the last) they answer
// false, 0 or null.

// Whether the current item is a folder; an item whose node flags cannot be
// read counts as a file.
Boolean MyFSDirIterIsContainer(MyFSDirIter *iter);

// Whether the current item is invisible: by Launch Services, or because a
// volume root's ".hidden" file names it.
Boolean MyFSDirIterIsInvisible(MyFSDirIter *iter);

// The current user's rights to the current item (read 4, write 2, search 1);
// 0 when they cannot be read.
UInt8 MyFSDirIterGetUserAccessPerm(MyFSDirIter *iter);

// The current item's POSIX path. Copy rule: the caller releases it.
CFStringRef MyFSDirIterCopyPath(MyFSDirIter *iter);

// The current item's name as the catalog holds it, asked afresh at every
// call. Copy rule: the caller releases it.
CFStringRef MyFSDirIterCopyName(MyFSDirIter *iter);

// Removes from the iterator's list every item that lies inside another item
// of the list (its path begins with that item's path followed by "/"), puts
// the others in sorted path order as FSRef data made afresh from their paths,
// and goes back to before the first item. The same path given twice stays
// twice. paramErr for a null iterator or one of whose items no path can be
// made; kMyNilPointerErr when the reduced list cannot be made, which includes
// an item that no longer exists at its path. After a failure the iterator is
// unchanged: same list, same position.
OSStatus MyFSDirIterExcludeContainedItems(MyFSDirIter *iter);
