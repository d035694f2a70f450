// Owners of Windows handles and COM interfaces: each closes or releases what
// it holds when it goes, so no path leaks one.
#pragma once

#include <windows.h>

#include <utility>

namespace zorsck::win {

// Owns one handle of a kind that `Traits::close` frees and `Traits::invalid()` marks as none.
template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;
  UniqueHandle() = default;
  explicit UniqueHandle(Type h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, Traits::invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, Traits::invalid()));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Type get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::invalid(); }
  // Frees the handle held, if any, and holds `h`; owner's thread.
  void reset(Type h = Traits::invalid()) {
    if (h_ != Traits::invalid()) Traits::close(h_);
    h_ = h;
  }

 private:
  Type h_ = Traits::invalid();
};

struct MemoryDcTraits {
  using Type = HDC;
  static Type invalid() { return nullptr; }
  static void close(Type h) { ::DeleteDC(h); }
};
struct GdiObjectTraits {
  using Type = HGDIOBJ;
  static Type invalid() { return nullptr; }
  static void close(Type h) { ::DeleteObject(h); }
};
using MemoryDc = UniqueHandle<MemoryDcTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits>;

// The screen's device context, released to the window manager when it goes.
class ScreenDc {
 public:
  ScreenDc() : dc_(::GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc_ != nullptr) ::ReleaseDC(nullptr, dc_);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// Holds one reference to a COM interface, like WRL's ComPtr but without WRL.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Releases the reference held; for filling through an out parameter; owner's thread.
  T** put() {
    reset();
    return &p_;
  }
  void reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  // Asks the object for another of its interfaces; null when it has none; owner's thread.
  template <typename U>
  ComPtr<U> as() const {
    ComPtr<U> other;
    if (p_ != nullptr) p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(other.put()));
    return other;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace zorsck::win
