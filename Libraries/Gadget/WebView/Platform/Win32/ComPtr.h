#pragma once

// One owned reference to a COM interface, and the reference counting that
// every handler object the engine hands to the runtime shares.

#include <utility>

#include "WebView/WebView2Abi.h"

namespace velto::webview {

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(const ComPtr& other) noexcept : p_(other.p_) {
    if (p_ != nullptr) {
      p_->AddRef();
    }
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  // Takes over a reference the caller owns (a freshly created object).
  [[nodiscard]] static ComPtr adopt(T* p) noexcept {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  // Adds a reference of its own (a borrowed argument).
  [[nodiscard]] static ComPtr retain(T* p) noexcept {
    ComPtr result;
    result.p_ = p;
    if (p != nullptr) {
      p->AddRef();
    }
    return result;
  }

  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) {
      p->Release();
    }
  }
  // For out parameters: drops the current reference first.
  [[nodiscard]] T** put() noexcept {
    reset();
    return &p_;
  }
  [[nodiscard]] T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A handler object implementing exactly one interface. It answers
// QueryInterface for IUnknown and that interface only, and deletes itself
// when the last reference goes.
template <class Interface>
class ComHandler : public Interface {
 public:
  ComHandler(const ComHandler&) = delete;
  ComHandler& operator=(const ComHandler&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID requested, void** object) override {
    if (object == nullptr) {
      return E_POINTER;
    }
    if (IsEqualGUID(requested, abi::kIidUnknown) || IsEqualGUID(requested, Interface::iid)) {
      *object = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      delete this;
    }
    return static_cast<ULONG>(left);
  }

 protected:
  ComHandler() = default;
  virtual ~ComHandler() = default;

 private:
  LONG references_ = 1;
};

// A new handler, owned by the returned pointer.
template <class Handler, class... Args>
[[nodiscard]] ComPtr<Handler> make_handler(Args&&... args) {
  return ComPtr<Handler>::adopt(new Handler(std::forward<Args>(args)...));
}

}  // namespace velto::webview
