#pragma once
// The host's WebView2 handler objects: each wraps a closure behind one of
// the single-method handler interfaces of webview2.h.

#include <windows.h>

#include <atomic>
#include <functional>
#include <new>
#include <utility>

#include "shell/win32/webview2.h"

namespace varnholt_app {

// Starts with one reference, held by whoever called create(); it answers
// QueryInterface for IUnknown and Interface only and deletes itself when the
// last reference goes.
template <class Interface, class A, class B>
class ComCallback final : public Interface {
 public:
  using Function = std::function<HRESULT(A, B)>;

  // Null when out of memory.
  static Interface* create(Function function) {
    return new (std::nothrow) ComCallback(std::move(function));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, Interface::iid)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }

  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // Nothing may unwind into the runtime's frames.
  HRESULT STDMETHODCALLTYPE Invoke(A a, B b) override {
    try {
      return function_(a, b);
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

 private:
  explicit ComCallback(Function function) : function_(std::move(function)) {}
  ~ComCallback() = default;

  std::atomic<ULONG> references_{1};
  Function function_;
};

using EnvironmentCompletedCallback =
    ComCallback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, HRESULT,
                ICoreWebView2Environment*>;
using ControllerCompletedCallback =
    ComCallback<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, HRESULT,
                ICoreWebView2Controller*>;
using NavigationCompletedCallback =
    ComCallback<ICoreWebView2NavigationCompletedEventHandler, ICoreWebView2*,
                ICoreWebView2NavigationCompletedEventArgs*>;
using NavigationStartingCallback =
    ComCallback<ICoreWebView2NavigationStartingEventHandler, ICoreWebView2*,
                ICoreWebView2NavigationStartingEventArgs*>;
using WebMessageReceivedCallback =
    ComCallback<ICoreWebView2WebMessageReceivedEventHandler, ICoreWebView2*,
                ICoreWebView2WebMessageReceivedEventArgs*>;

using ProcessFailedCallback =
    ComCallback<ICoreWebView2ProcessFailedEventHandler, ICoreWebView2*,
                ICoreWebView2ProcessFailedEventArgs*>;
using NewWindowRequestedCallback =
    ComCallback<ICoreWebView2NewWindowRequestedEventHandler, ICoreWebView2*,
                ICoreWebView2NewWindowRequestedEventArgs*>;

}  // namespace varnholt_app
