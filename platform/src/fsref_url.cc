// File references and file URLs: CFURLCreateFromFSRef and CFURLGetFSRef.
// Paths go between them as bytes, never through text, so names that are not
// UTF-8 survive the trip.
#include <cerrno>
#include <fcntl.h>

#include <CoreFoundation/CFURL.h>

#include "cf_url_internal.h"
#include "fsref.h"
#include "syscalls.h"

using namespace vp::files;

extern "C" {

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef, const FSRef *fsRef) noexcept {
  if (!fsRef) return nullptr;
  return vp::Edge<CFURLRef>(nullptr, [&]() -> CFURLRef {
    vp::String8 path;
    bool folder = false;
    {
      std::lock_guard<FilesMutex> lock(FilesLock());
      RefView view;
      if (DecodeRef(fsRef, &view) != noErr) return nullptr;
      folder = view.isRoot || HintKind(view.hint) == kKindFolder;
      if (!view.isRoot && HintKind(view.hint) == kKindUnknown) {
        // Only a reference from a listing that gave no type lands here.
        int dirfd = -1;
        NameBuffer name;
        struct stat st;
        if (name.Set(view.name) && FolderDescriptor(view.node, &dirfd) == noErr &&
            vp::sys::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0)
          folder = S_ISDIR(st.st_mode);
      }
    }
    if (RefMakePath(fsRef, &path) != noErr) return nullptr;
    return vp::NewURLWithPath(std::string_view(path.data(), path.size()), folder);
  });
}

Boolean CFURLGetFSRef(CFURLRef url, FSRef *fsRef) noexcept {
  if (!fsRef) return false;
  const vp::String8 *path = vp::URLPath(url);
  if (!path) return false;
  bool folder = false;
  return PathMakeRef(std::string_view(path->data(), path->size()), fsRef, &folder) == noErr;
}

} // extern "C"
