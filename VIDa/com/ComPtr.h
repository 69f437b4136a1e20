#pragma once
// Owning reference to a COM interface: AddRef on copy, Release on destruction.
#include <unknwn.h>

#include <utility>

template <class T>
class TComPtr {
public:
  TComPtr() noexcept = default;
  TComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference to p.
  explicit TComPtr(T* p) noexcept : ptr_(p) { AddRefIf(); }
  TComPtr(const TComPtr& other) noexcept : ptr_(other.ptr_) { AddRefIf(); }
  TComPtr(TComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ~TComPtr() { Reset(); }

  TComPtr& operator=(const TComPtr& other) noexcept {
    TComPtr(other).Swap(*this);
    return *this;
  }
  TComPtr& operator=(TComPtr&& other) noexcept {
    TComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  TComPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }

  // Adopts a reference the caller already owns (no AddRef).
  static TComPtr Attach(T* p) noexcept {
    TComPtr result;
    result.ptr_ = p;
    return result;
  }
  // Gives the reference away to the caller (no Release).
  [[nodiscard]] T* Detach() noexcept { return std::exchange(ptr_, nullptr); }

  void Reset() noexcept {
    if (T* p = std::exchange(ptr_, nullptr)) p->Release();
  }
  void Swap(TComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

  T* Get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  T& operator*() const noexcept { return *ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  // Out-parameter for creation calls; releases what was held first.
  T** Put() noexcept {
    Reset();
    return &ptr_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

  // QueryInterface into another smart pointer; returns the HRESULT.
  template <class U>
  HRESULT As(TComPtr<U>& out, REFIID riid) const noexcept {
    if (!ptr_) return E_POINTER;
    return ptr_->QueryInterface(riid, out.PutVoid());
  }

  // Hands a new reference out through a consumer's out-parameter.
  void CopyTo(T** out) const noexcept {
    AddRefIf();
    *out = ptr_;
  }

  friend bool operator==(const TComPtr& a, const TComPtr& b) noexcept { return a.ptr_ == b.ptr_; }
  friend bool operator==(const TComPtr& a, std::nullptr_t) noexcept { return a.ptr_ == nullptr; }

private:
  void AddRefIf() const noexcept {
    if (ptr_) ptr_->AddRef();
  }
  T* ptr_ = nullptr;
};
