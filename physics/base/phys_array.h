// A growable array whose storage comes from the physics allocation hooks.
// Only for trivially copyable elements: growth moves them with memcpy.
#pragma once
#include <cstring>
#include <type_traits>
#include "physics/base/phys_memory.h"

template <typename T, int MemClass = PHYS_MEM_GENERAL>
class PhysArray {
  static_assert(std::is_trivially_copyable_v<T>, "PhysArray holds plain records");

public:
  PhysArray() = default;
  PhysArray(const PhysArray&) = delete;
  PhysArray& operator=(const PhysArray&) = delete;
  ~PhysArray() { Release(); }

  int Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  T* Data() { return data_; }
  const T* Data() const { return data_; }
  T& operator[](int i) { return data_[i]; }
  const T& operator[](int i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + count_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + count_; }

  // Makes room for n elements; 0 when the hooks are exhausted (contents kept).
  int Reserve(int n) {
    if (n <= capacity_) return 1;
    int cap = capacity_ ? capacity_ : 8;
    while (cap < n) cap *= 2;
    T* block = static_cast<T*>(Physics_Allocate(sizeof(T) * size_t(cap), MemClass));
    if (!block) return 0;
    if (count_) std::memcpy(static_cast<void*>(block), data_, sizeof(T) * size_t(count_));
    Physics_FreeSized(data_, sizeof(T) * size_t(capacity_), MemClass);
    data_ = block;
    capacity_ = cap;
    return 1;
  }
  // Appends; 0 (array unchanged) when memory is exhausted.
  int Push(const T& v) {
    if (count_ == capacity_ && !Reserve(count_ + 1)) return 0;
    data_[count_++] = v;
    return 1;
  }
  // Resizes; new elements are value-initialised. 0 when memory is exhausted.
  int Resize(int n) {
    if (!Reserve(n)) return 0;
    for (int i = count_; i < n; ++i) data_[i] = T{};
    count_ = n;
    return 1;
  }
  // The slot after the last element, to be filled in place and kept with
  // CommitSlot (null on exhaustion). Its contents are whatever it held.
  T* NextSlot() {
    if (count_ == capacity_ && !Reserve(count_ + 1)) return nullptr;
    return data_ + count_;
  }
  void CommitSlot() { if (count_ < capacity_) ++count_; }
  void Pop() { if (count_) --count_; }
  T& Back() { return data_[count_ - 1]; }
  void Clear() { count_ = 0; }
  // Removes element i, keeping order.
  void RemoveAt(int i) {
    if (i < 0 || i >= count_) return;
    std::memmove(static_cast<void*>(data_ + i), data_ + i + 1, sizeof(T) * size_t(count_ - i - 1));
    --count_;
  }
  // Removes every element for which drop(element) holds, keeping the order of
  // the rest, in one pass (RemoveAt in a loop moves the tail once per removal).
  template <typename Drop>
  void RemoveIf(Drop&& drop) {
    int kept = 0;
    for (int i = 0; i < count_; ++i) {
      if (drop(data_[i])) continue;
      if (kept != i) data_[kept] = data_[i];
      ++kept;
    }
    count_ = kept;
  }
  // Removes element i by moving the last one into its place.
  void RemoveSwap(int i) {
    if (i < 0 || i >= count_) return;
    data_[i] = data_[count_ - 1];
    --count_;
  }
  int Find(const T& v) const {
    for (int i = 0; i < count_; ++i)
      if (std::memcmp(&data_[i], &v, sizeof(T)) == 0) return i;
    return -1;
  }
  // Exchanges contents with another array of the same kind (no copying).
  void Swap(PhysArray& other) {
    T* d = data_;
    int n = count_, c = capacity_;
    data_ = other.data_;
    count_ = other.count_;
    capacity_ = other.capacity_;
    other.data_ = d;
    other.count_ = n;
    other.capacity_ = c;
  }
  void Release() {
    Physics_FreeSized(data_, sizeof(T) * size_t(capacity_), MemClass);
    data_ = nullptr;
    count_ = capacity_ = 0;
  }

private:
  T* data_ = nullptr;
  int count_ = 0;
  int capacity_ = 0;
};
