// CFData: a block of bytes, copied in at creation; mutable data grows by
// appending. The bytes of FSRef data, property lists and the like.
//
// Immutable data keeps its bytes in the same allocation as the object,
// right after it: a folder walk makes one FSRef data per entry, and one
// allocation (and one copy) per data is half the cost of an object plus a
// separate block. Mutable data keeps a growable vector of its own.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cf_collection_internal.h"

namespace {

// The tag of the allocation form that reserves room for the bytes after
// the object.
struct TrailingBytes {
  std::size_t count;
};

} // namespace

struct __CFData final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDData;

  // Immutable data of length bytes, copied into the room that the
  // TrailingBytes form of new reserved after the object.
  __CFData(const UInt8 *source, std::size_t length) noexcept : mutable_(false), count_(length) {
    if (length) std::memcpy(Trailing(), source, length);
  }
  // Empty mutable data; capacity 0 means unbounded. Its block is attached
  // by CFDataCreateMutable.
  explicit __CFData(CFIndex capacity) noexcept
      : mutable_(true), count_(static_cast<std::size_t>(capacity)) {}
  ~__CFData() override { vp::Delete(growable_); }

  // Room for `extra.count` bytes after the object, in one allocation
  // through the seam. The object is kept small (40 bytes on x86-64) so that
  // the 80 bytes of an FSRef make a block the allocator recycles cheaply.
  static void *operator new(std::size_t size, TrailingBytes extra) {
    (void)size;
    if (extra.count > static_cast<std::size_t>(-1) - sizeof(__CFData)) throw std::bad_alloc();
    return vp::Object::operator new(sizeof(__CFData) + extra.count);
  }
  // Only called when the constructor throws (it does not); ordinary deletes
  // use Object's operator delete.
  static void operator delete(void *p, TrailingBytes) noexcept { vp::Object::operator delete(p); }
  using vp::Object::operator new;
  using vp::Object::operator delete;

  bool IsMutable() const noexcept { return mutable_; }
  // Mutable data: the most bytes it may hold, 0 for no bound.
  std::size_t Capacity() const noexcept { return mutable_ ? count_ : 0; }
  const UInt8 *Data() const noexcept { return mutable_ ? growable_->data() : Trailing(); }
  std::size_t Size() const noexcept { return mutable_ ? growable_->size() : count_; }
  vp::Vector<UInt8> &Growable() noexcept { return *growable_; }
  void AttachGrowable(vp::Vector<UInt8> *block) noexcept { growable_ = block; }

  CFTypeID TypeID() const noexcept override { return kTypeID; }
  bool Equal(const vp::Object &other) const noexcept override {
    const auto &o = static_cast<const __CFData &>(other);
    return o.Size() == Size() && (Size() == 0 || std::memcmp(Data(), o.Data(), Size()) == 0);
  }
  CFHashCode Hash() const noexcept override {
    std::uint64_t h = 0xcbf29ce484222325ULL; // FNV-1a
    const UInt8 *p = Data();
    for (std::size_t i = 0, n = Size(); i < n; ++i)
      h = (h ^ p[i]) * 0x100000001b3ULL;
    return static_cast<CFHashCode>(h);
  }
  // "<data 3 bytes: 01 02 03>"; long blocks show their first bytes only.
  vp::String16 Describe() const override {
    constexpr std::size_t kShown = 64;
    const UInt8 *p = Data();
    const std::size_t n = Size();
    char buf[64];
    std::snprintf(buf, sizeof buf, "<data %zu byte%s", n, n == 1 ? "" : "s");
    vp::String16 out;
    vp::AppendASCII(out, buf);
    for (std::size_t i = 0; i < n && i < kShown; ++i) {
      std::snprintf(buf, sizeof buf, "%s%02x", i ? " " : ": ", p[i]);
      vp::AppendASCII(out, buf);
    }
    if (n > kShown) vp::AppendASCII(out, " ...");
    out.push_back(u'>');
    return out;
  }

private:
  UInt8 *Trailing() const noexcept {
    return reinterpret_cast<UInt8 *>(const_cast<__CFData *>(this)) + sizeof(__CFData);
  }

  bool mutable_;
  std::size_t count_;                     // immutable: the trailing bytes; mutable: the capacity
  vp::Vector<UInt8> *growable_ = nullptr; // mutable data only
};

// With the 80 bytes of an FSRef the block stays within the allocator's
// smallest, cheapest size classes.
static_assert(sizeof(void *) != 8 || sizeof(__CFData) <= 40);

extern "C" {

CFTypeID CFDataGetTypeID(void) noexcept {
  return vp::kTypeIDData;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *bytes, CFIndex length) noexcept {
  if (length < 0 || (length > 0 && !bytes)) return nullptr;
  return vp::Edge<CFDataRef>(nullptr, [&]() -> CFDataRef {
    const auto n = static_cast<std::size_t>(length);
    return new (TrailingBytes{n}) __CFData(bytes, n);
  });
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex capacity) noexcept {
  if (capacity < 0) return nullptr;
  return vp::Edge<CFMutableDataRef>(nullptr, [&] {
    vp::Ref<__CFData> made(new __CFData(capacity));
    const_cast<__CFData *>(made.get())->AttachGrowable(vp::New<vp::Vector<UInt8>>());
    return const_cast<__CFData *>(made.release());
  });
}

CFIndex CFDataGetLength(CFDataRef theData) noexcept {
  const __CFData *d = vp::Cast<__CFData>(theData);
  return d ? static_cast<CFIndex>(d->Size()) : 0;
}

const UInt8 *CFDataGetBytePtr(CFDataRef theData) noexcept {
  static const UInt8 kNoBytes[1] = {0};
  const __CFData *d = vp::Cast<__CFData>(theData);
  if (!d) return nullptr;
  // Empty data still answers a valid pointer, so memcmp(p, q, 0) and the
  // like stay well defined for the caller.
  return d->Size() == 0 ? kNoBytes : d->Data();
}

void CFDataAppendBytes(CFMutableDataRef theData, const UInt8 *bytes, CFIndex length) noexcept {
  __CFData *d = vp::CastMutable<__CFData>(theData);
  if (!d || !d->IsMutable() || length <= 0 || !bytes) return;
  std::size_t n = static_cast<std::size_t>(length);
  vp::Vector<UInt8> &block = d->Growable();
  std::size_t old = block.size();
  if (d->Capacity() > 0 && n > d->Capacity() - old) return;
  vp::EdgeVoid([&] {
    if (block.capacity() - old < n) {
      // The source may lie inside this very block: copy into a new one
      // before the old one goes away.
      vp::Vector<UInt8> grown;
      std::size_t want = old * 2 > old + n ? old * 2 : old + n;
      grown.reserve(want);
      grown.assign(block.begin(), block.end());
      grown.insert(grown.end(), bytes, bytes + n);
      block.swap(grown);
      return;
    }
    block.resize(old + n); // fits: no allocation, the old bytes stay put
    std::memmove(block.data() + old, bytes, n);
  });
}

} // extern "C"
