#pragma once
// An owning reference to a COM object: one reference per stored pointer.

#include <unknwn.h>

namespace varnholt_app {

template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  // Keeps `object` with a reference of our own; the previous object is
  // released only after the new one was added, so storing the same pointer
  // again cannot free it on the way.
  void assign(T* object) {
    if (object == ptr_) return;
    if (object != nullptr) object->AddRef();
    T* old = ptr_;
    ptr_ = object;
    if (old != nullptr) old->Release();
  }

  void reset() {
    T* old = ptr_;
    ptr_ = nullptr;
    if (old != nullptr) old->Release();
  }

  // For out parameters that hand over a reference (already AddRef'd).
  T** put() {
    reset();
    return &ptr_;
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

 private:
  T* ptr_ = nullptr;
};

}  // namespace varnholt_app
