// CFArray: an ordered list of elements kept through the array's callbacks.
// Every mutation either completes or leaves the array as it was: room is
// made before anything is retained, so a failed allocation retains nothing
// and loses nothing. Sorting never allocates, so it cannot fail.
#include <algorithm>

#include "cf_collection_internal.h"

struct __CFArray final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDArray;

  __CFArray(const vp::ElementCallbacks &cb, bool isMutable, CFIndex cap) noexcept
      : callbacks(cb), mutable_(isMutable), capacity(cap) {}
  ~__CFArray() override {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i + 1 < values.size()) vp::PrefetchObject(values[i + 1]);
      callbacks.Release(values[i]);
    }
  }

  CFTypeID TypeID() const noexcept override { return kTypeID; }
  bool Equal(const vp::Object &other) const noexcept override {
    const auto &o = static_cast<const __CFArray &>(other);
    if (o.values.size() != values.size()) return false;
    for (std::size_t i = 0; i < values.size(); ++i)
      if (!callbacks.Equal(values[i], o.values[i])) return false;
    return true;
  }
  // Equal arrays have equal counts; elements may hash by identity, so the
  // count is all that is certain to agree.
  CFHashCode Hash() const noexcept override { return values.size(); }
  vp::String16 Describe() const override {
    vp::String16 out(1, u'(');
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i) vp::AppendASCII(out, ", ");
      callbacks.Describe(out, values[i]);
    }
    out.push_back(u')');
    return out;
  }

  bool HasRoomFor(std::size_t extra) const noexcept {
    return capacity == 0 || values.size() + extra <= static_cast<std::size_t>(capacity);
  }

  // Inserts value before position idx (idx == count appends). False when
  // the index is out of range, the value is refused or a bounded array is
  // full. Throws std::bad_alloc with the array unchanged.
  bool Insert(CFIndex idx, const void *value) {
    if (idx < 0 || static_cast<std::size_t>(idx) > values.size()) return false;
    if (callbacks.Refuses(value) || !HasRoomFor(1)) return false;
    vp::MakeRoom(values, 1);
    values.insert(values.begin() + idx, callbacks.Retain(value)); // fits: no allocation
    return true;
  }

  vp::ElementCallbacks callbacks;
  vp::Vector<const void *> values;
  bool mutable_;
  CFIndex capacity; // mutable arrays: 0 means unbounded
};

namespace {

// The array when the handle is a mutable array, else null.
__CFArray *Mutable(CFMutableArrayRef array) noexcept {
  __CFArray *a = vp::CastMutable<__CFArray>(array);
  return a && a->mutable_ ? a : nullptr;
}

bool RangeInside(CFRange range, std::size_t count) noexcept {
  return range.location >= 0 && range.length >= 0 &&
         static_cast<std::size_t>(range.location) <= count &&
         static_cast<std::size_t>(range.length) <= count - static_cast<std::size_t>(range.location);
}

// A new array holding values, each retained once. Throws std::bad_alloc
// (nothing is then retained or leaked).
__CFArray *NewArray(const vp::ElementCallbacks &cb, bool isMutable, CFIndex capacity,
                    const void *const *values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (cb.Refuses(values[i])) return nullptr;
  vp::Ref<__CFArray> made(new __CFArray(cb, isMutable, capacity));
  __CFArray *a = const_cast<__CFArray *>(made.get());
  a->values.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    a->values.push_back(cb.Retain(values[i]));
  return const_cast<__CFArray *>(made.release());
}

// A stable sort that needs no memory: insertion sort of short blocks, then
// merging neighbouring runs in place by rotation (the symmetric merge), so
// sorting a range cannot fail halfway.
class StableSorter {
public:
  StableSorter(const void **v, CFComparatorFunction cmp, void *context) noexcept
      : v_(v), cmp_(cmp), context_(context) {}

  void Sort(std::size_t n) noexcept {
    constexpr std::size_t kBlock = 20;
    std::size_t a = 0;
    for (; a + kBlock <= n; a += kBlock)
      InsertionSort(a, a + kBlock);
    InsertionSort(a, n);
    for (std::size_t block = kBlock; block < n; block *= 2) {
      std::size_t lo = 0;
      for (; lo + 2 * block <= n; lo += 2 * block)
        Merge(lo, lo + block, lo + 2 * block);
      if (lo + block < n) Merge(lo, lo + block, n);
    }
  }

private:
  // v[i] sorts strictly before v[j].
  bool Less(std::size_t i, std::size_t j) const noexcept {
    return cmp_(v_[i], v_[j], context_) < 0;
  }

  void InsertionSort(std::size_t a, std::size_t b) noexcept {
    for (std::size_t i = a + 1; i < b; ++i)
      for (std::size_t j = i; j > a && Less(j, j - 1); --j)
        std::swap(v_[j], v_[j - 1]);
  }

  void Rotate(std::size_t a, std::size_t m, std::size_t b) noexcept {
    std::rotate(v_ + a, v_ + m, v_ + b);
  }

  // Merges the sorted runs [a, m) and [m, b); equal elements keep their order
  // (those of the left run first).
  void Merge(std::size_t a, std::size_t m, std::size_t b) noexcept {
    if (a >= m || m >= b) return;
    if (m - a == 1) {
      // Move v[a] after every element of the right run that sorts before it.
      std::size_t lo = m, hi = b;
      while (lo < hi) {
        std::size_t h = lo + (hi - lo) / 2;
        if (Less(h, a))
          lo = h + 1;
        else
          hi = h;
      }
      Rotate(a, a + 1, lo);
      return;
    }
    if (b - m == 1) {
      // Move v[m] before the first element of the left run that sorts after it.
      std::size_t lo = a, hi = m;
      while (lo < hi) {
        std::size_t h = lo + (hi - lo) / 2;
        if (!Less(m, h))
          lo = h + 1;
        else
          hi = h;
      }
      Rotate(lo, m, m + 1);
      return;
    }
    // Split both runs around the middle so that the left run's tail and the
    // right run's head swap places by one rotation, then merge each half.
    std::size_t mid = a + (b - a) / 2;
    std::size_t n = mid + m;
    std::size_t start, r;
    if (m > mid) {
      start = n - b;
      r = mid;
    } else {
      start = a;
      r = m;
    }
    std::size_t p = n - 1;
    while (start < r) {
      std::size_t c = start + (r - start) / 2;
      if (!Less(p - c, c))
        start = c + 1;
      else
        r = c;
    }
    std::size_t end = n - start;
    if (start < m && m < end) Rotate(start, m, end);
    if (a < start && start < mid) Merge(a, start, mid);
    if (mid < end && end < b) Merge(mid, end, b);
  }

  const void **v_;
  CFComparatorFunction cmp_;
  void *context_;
};

} // namespace

extern "C" {

CFTypeID CFArrayGetTypeID(void) noexcept {
  return vp::kTypeIDArray;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void **values, CFIndex numValues,
                         const CFArrayCallBacks *callBacks) noexcept {
  if (numValues < 0 || (numValues > 0 && !values)) return nullptr;
  return vp::Edge<CFArrayRef>(nullptr, [&] {
    return NewArray(vp::ElementCallbacks::From(callBacks), false, 0, values,
                    static_cast<std::size_t>(numValues));
  });
}

CFArrayRef CFArrayCreateCopy(CFAllocatorRef, CFArrayRef theArray) noexcept {
  const __CFArray *a = vp::Cast<__CFArray>(theArray);
  if (!a) return nullptr;
  return vp::Edge<CFArrayRef>(nullptr, [&] {
    return NewArray(a->callbacks, false, 0, a->values.data(), a->values.size());
  });
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity,
                                       const CFArrayCallBacks *callBacks) noexcept {
  if (capacity < 0) return nullptr;
  return vp::Edge<CFMutableArrayRef>(nullptr, [&] {
    return NewArray(vp::ElementCallbacks::From(callBacks), true, capacity, nullptr, 0);
  });
}

CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef, CFIndex capacity,
                                           CFArrayRef theArray) noexcept {
  const __CFArray *a = vp::Cast<__CFArray>(theArray);
  if (!a || capacity < 0) return nullptr;
  // A bound smaller than the elements to copy cannot be honoured.
  if (capacity > 0 && a->values.size() > static_cast<std::size_t>(capacity)) return nullptr;
  return vp::Edge<CFMutableArrayRef>(nullptr, [&] {
    return NewArray(a->callbacks, true, capacity, a->values.data(), a->values.size());
  });
}

CFIndex CFArrayGetCount(CFArrayRef theArray) noexcept {
  const __CFArray *a = vp::Cast<__CFArray>(theArray);
  return a ? static_cast<CFIndex>(a->values.size()) : 0;
}

const void *CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) noexcept {
  const __CFArray *a = vp::Cast<__CFArray>(theArray);
  if (!a || idx < 0 || static_cast<std::size_t>(idx) >= a->values.size()) return nullptr;
  const auto i = static_cast<std::size_t>(idx);
  // Arrays are mostly read in order, and the caller is about to look into
  // the value it gets: start bringing the next value's first bytes in now.
  // A prefetch never faults, so a value that is no pointer does no harm.
  if (i + 1 < a->values.size()) vp::PrefetchObject(a->values[i + 1]);
  return a->values[i];
}

Boolean VPArrayAppendValue(CFMutableArrayRef theArray, const void *value) noexcept {
  __CFArray *a = Mutable(theArray);
  if (!a) return false;
  return vp::Edge<Boolean>(false, [&] { return a->Insert(CFIndex(a->values.size()), value); });
}

void CFArrayAppendValue(CFMutableArrayRef theArray, const void *value) noexcept {
  VPArrayAppendValue(theArray, value);
}

void CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx,
                               const void *value) noexcept {
  __CFArray *a = Mutable(theArray);
  if (!a) return;
  vp::EdgeVoid([&] { a->Insert(idx, value); });
}

void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void *value) noexcept {
  __CFArray *a = Mutable(theArray);
  if (!a || idx < 0) return;
  std::size_t i = static_cast<std::size_t>(idx);
  if (i == a->values.size()) {
    vp::EdgeVoid([&] { a->Insert(idx, value); });
    return;
  }
  if (i > a->values.size() || a->callbacks.Refuses(value)) return;
  // Retain the new value before letting the old one go: they may be the same.
  const void *old = a->values[i];
  a->values[i] = a->callbacks.Retain(value);
  a->callbacks.Release(old);
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx) noexcept {
  __CFArray *a = Mutable(theArray);
  if (!a || idx < 0 || static_cast<std::size_t>(idx) >= a->values.size()) return;
  const void *old = a->values[static_cast<std::size_t>(idx)];
  a->values.erase(a->values.begin() + idx);
  a->callbacks.Release(old); // after the array is consistent again
}

void CFArrayRemoveAllValues(CFMutableArrayRef theArray) noexcept {
  __CFArray *a = Mutable(theArray);
  if (!a) return;
  // Empty the array first, so a release callback that looks at it sees it
  // empty rather than holding released elements.
  vp::Vector<const void *> old;
  old.swap(a->values);
  for (const void *v : old)
    a->callbacks.Release(v);
}

void CFArraySortValues(CFMutableArrayRef theArray, CFRange range, CFComparatorFunction comparator,
                       void *context) noexcept {
  __CFArray *a = Mutable(theArray);
  if (!a || !comparator || !RangeInside(range, a->values.size())) return;
  StableSorter(a->values.data() + range.location, comparator, context)
      .Sort(static_cast<std::size_t>(range.length));
}

Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void *value) noexcept {
  const __CFArray *a = vp::Cast<__CFArray>(theArray);
  if (!a || !RangeInside(range, a->values.size()) || a->callbacks.Refuses(value)) return false;
  for (CFIndex i = range.location; i < range.location + range.length; ++i)
    if (a->callbacks.Equal(a->values[static_cast<std::size_t>(i)], value)) return true;
  return false;
}

} // extern "C"
