#pragma once
// Our own declarations of the WebView2 COM interfaces the program uses.
// Only the vtable matters: every interface derives from IUnknown, its own
// methods start at slot 3 and are declared here in slot order, all
// __stdcall, returning HRESULT. Interfaces we never call stay incomplete.

#include <windows.h>
#include <objidl.h>
#include <unknwn.h>

#include <cstdint>

namespace varnholt_app {

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" at compile time, so that an
// IID is written once, in the form the documentation shows.
consteval GUID makeGuid(const char (&text)[37]) {
  auto hex = [&](int from, int digits) {
    uint64_t value = 0;
    for (int i = from; i < from + digits; ++i) {
      const char c = text[i];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) throw "not a hexadecimal digit";  // fails the constant evaluation
      value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
  };
  if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
    throw "misplaced dash";
  }
  GUID guid{};
  guid.Data1 = static_cast<unsigned long>(hex(0, 8));
  guid.Data2 = static_cast<unsigned short>(hex(9, 4));
  guid.Data3 = static_cast<unsigned short>(hex(14, 4));
  guid.Data4[0] = static_cast<unsigned char>(hex(19, 2));
  guid.Data4[1] = static_cast<unsigned char>(hex(21, 2));
  for (int i = 0; i < 6; ++i) {
    guid.Data4[2 + i] = static_cast<unsigned char>(hex(24 + 2 * i, 2));
  }
  return guid;
}

// One 64-bit value; add_* fill it, remove_* take it by value.
struct EventRegistrationToken {
  int64_t value;
};

// Never called by us: only their pointers appear in the slots we declare.
struct ICoreWebView2EnvironmentOptions;
struct ICoreWebView2WebResourceResponse;
struct ICoreWebView2NewBrowserVersionAvailableEventHandler;
struct ICoreWebView2ZoomFactorChangedEventHandler;
struct ICoreWebView2MoveFocusRequestedEventHandler;
struct ICoreWebView2FocusChangedEventHandler;
struct ICoreWebView2AcceleratorKeyPressedEventHandler;
struct ICoreWebView2ContentLoadingEventHandler;
struct ICoreWebView2SourceChangedEventHandler;
struct ICoreWebView2HistoryChangedEventHandler;
struct ICoreWebView2ScriptDialogOpeningEventHandler;
struct ICoreWebView2PermissionRequestedEventHandler;
struct ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler;
struct ICoreWebView2ExecuteScriptCompletedHandler;
struct ICoreWebView2CapturePreviewCompletedHandler;

struct ICoreWebView2;
struct ICoreWebView2Controller;
struct ICoreWebView2Environment;
struct ICoreWebView2Settings;
struct ICoreWebView2NavigationCompletedEventArgs;
struct ICoreWebView2NavigationStartingEventArgs;
struct ICoreWebView2WebMessageReceivedEventArgs;
struct ICoreWebView2ProcessFailedEventArgs;
struct ICoreWebView2NewWindowRequestedEventArgs;
struct ICoreWebView2Deferral;
struct ICoreWebView2WindowFeatures;

// 32-bit enums ([v1_enum] in the interface definitions).
using COREWEBVIEW2_MOVE_FOCUS_REASON = int32_t;
using COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT = int32_t;
using COREWEBVIEW2_WEB_ERROR_STATUS = int32_t;
using COREWEBVIEW2_PROCESS_FAILED_KIND = int32_t;

inline constexpr COREWEBVIEW2_MOVE_FOCUS_REASON kMoveFocusProgrammatic = 0;
// The browser process is gone with every view of the environment; a new
// environment would be needed.
inline constexpr COREWEBVIEW2_PROCESS_FAILED_KIND kBrowserProcessExited = 0;
// The page's renderer is gone; the runtime starts a new one on an error page.
inline constexpr COREWEBVIEW2_PROCESS_FAILED_KIND kRenderProcessExited = 1;

// The interfaces are COM vtables: objects are never deleted through them,
// so their destructors are protected and not virtual (a virtual one would
// add a slot). IUnknown itself has none, hence the warning is off here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// --- Handlers the host implements: IUnknown plus Invoke at slot 3. ---

struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler : public IUnknown {
  static constexpr GUID iid = makeGuid("4E8A3389-C9D8-4BD2-B6B5-124FEE6CC14D");

 protected:
  ~ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode,
                                           ICoreWebView2Environment* createdEnvironment) = 0;
};

struct ICoreWebView2CreateCoreWebView2ControllerCompletedHandler : public IUnknown {
  static constexpr GUID iid = makeGuid("6C4819F3-C9B7-4260-8127-C9F5BDE7F68C");

 protected:
  ~ICoreWebView2CreateCoreWebView2ControllerCompletedHandler() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode,
                                           ICoreWebView2Controller* createdController) = 0;
};

struct ICoreWebView2NavigationCompletedEventHandler : public IUnknown {
  static constexpr GUID iid = makeGuid("D33A35BF-1C49-4F98-93AB-006E0533FE1C");

 protected:
  ~ICoreWebView2NavigationCompletedEventHandler() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                           ICoreWebView2NavigationCompletedEventArgs* args) = 0;
};

struct ICoreWebView2NavigationStartingEventHandler : public IUnknown {
  static constexpr GUID iid = makeGuid("9ADBE429-F36D-432B-9DDC-F8881FBD76E3");

 protected:
  ~ICoreWebView2NavigationStartingEventHandler() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                           ICoreWebView2NavigationStartingEventArgs* args) = 0;
};

struct ICoreWebView2WebMessageReceivedEventHandler : public IUnknown {
  static constexpr GUID iid = makeGuid("57213F19-00E6-49FA-8E07-898EA01ECBD2");

 protected:
  ~ICoreWebView2WebMessageReceivedEventHandler() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                           ICoreWebView2WebMessageReceivedEventArgs* args) = 0;
};

struct ICoreWebView2ProcessFailedEventHandler : public IUnknown {
  static constexpr GUID iid = makeGuid("79E0AEA4-990B-42D9-AA1D-0FCC2E5BC7F1");

 protected:
  ~ICoreWebView2ProcessFailedEventHandler() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                           ICoreWebView2ProcessFailedEventArgs* args) = 0;
};

struct ICoreWebView2NewWindowRequestedEventHandler : public IUnknown {
  static constexpr GUID iid = makeGuid("D4C185FE-C81C-4989-97AF-2D3FA7AB5651");

 protected:
  ~ICoreWebView2NewWindowRequestedEventHandler() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                           ICoreWebView2NewWindowRequestedEventArgs* args) = 0;
};

// --- Objects the runtime implements. ---

struct ICoreWebView2Environment : public IUnknown {
  static constexpr GUID iid = makeGuid("B96D755E-0319-4E92-A296-23436F46A1FC");

 protected:
  ~ICoreWebView2Environment() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(                 // 3
      HWND parentWindow, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateWebResourceResponse(                    // 4
      IStream* content, int statusCode, LPCWSTR reasonPhrase, LPCWSTR headers,
      ICoreWebView2WebResourceResponse** response) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* versionInfo) = 0;  // 5
  virtual HRESULT STDMETHODCALLTYPE add_NewBrowserVersionAvailable(               // 6
      ICoreWebView2NewBrowserVersionAvailableEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_NewBrowserVersionAvailable(            // 7
      EventRegistrationToken token) = 0;
};

struct ICoreWebView2Controller : public IUnknown {
  static constexpr GUID iid = makeGuid("4D00C0D1-9434-4EB6-8078-8697A560334F");

 protected:
  ~ICoreWebView2Controller() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* isVisible) = 0;           // 3
  virtual HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL isVisible) = 0;            // 4
  virtual HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) = 0;                 // 5
  virtual HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) = 0;                  // 6, by value
  virtual HRESULT STDMETHODCALLTYPE get_ZoomFactor(double* zoomFactor) = 0;       // 7
  virtual HRESULT STDMETHODCALLTYPE put_ZoomFactor(double zoomFactor) = 0;        // 8
  virtual HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(                        // 9
      ICoreWebView2ZoomFactorChangedEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(                     // 10
      EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT bounds,          // 11
                                                           double zoomFactor) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON reason) = 0;  // 12
  virtual HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(                       // 13
      ICoreWebView2MoveFocusRequestedEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(                    // 14
      EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_GotFocus(                                 // 15
      ICoreWebView2FocusChangedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken token) = 0;  // 16
  virtual HRESULT STDMETHODCALLTYPE add_LostFocus(                                // 17
      ICoreWebView2FocusChangedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken token) = 0;  // 18
  virtual HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(                    // 19
      ICoreWebView2AcceleratorKeyPressedEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(                 // 20
      EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parentWindow) = 0;     // 21
  virtual HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND parentWindow) = 0;      // 22
  virtual HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() = 0;      // 23
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                  // 24
  virtual HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** coreWebView2) = 0;  // 25
};

struct ICoreWebView2Settings : public IUnknown {
  static constexpr GUID iid = makeGuid("E562E4F0-D7FA-43AC-8D71-C05150499F00");

 protected:
  ~ICoreWebView2Settings() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL* value) = 0;                 // 3
  virtual HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL value) = 0;                  // 4
  virtual HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL* value) = 0;             // 5
  virtual HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL value) = 0;              // 6
  virtual HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL* value) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL value) = 0;   // 8
  virtual HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL* value) = 0;              // 9
  virtual HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL value) = 0;               // 10
  virtual HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL* value) = 0;              // 11
  virtual HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL value) = 0;               // 12
  virtual HRESULT STDMETHODCALLTYPE get_AreDefaultContextMenusEnabled(BOOL* value) = 0;   // 13
  virtual HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL value) = 0;    // 14
  virtual HRESULT STDMETHODCALLTYPE get_AreHostObjectsAllowed(BOOL* value) = 0;           // 15
  virtual HRESULT STDMETHODCALLTYPE put_AreHostObjectsAllowed(BOOL value) = 0;            // 16
  virtual HRESULT STDMETHODCALLTYPE get_IsZoomControlEnabled(BOOL* value) = 0;            // 17
  virtual HRESULT STDMETHODCALLTYPE put_IsZoomControlEnabled(BOOL value) = 0;             // 18
  virtual HRESULT STDMETHODCALLTYPE get_IsBuiltInErrorPageEnabled(BOOL* value) = 0;       // 19
  virtual HRESULT STDMETHODCALLTYPE put_IsBuiltInErrorPageEnabled(BOOL value) = 0;        // 20
};

// Asked for with QueryInterface: runtimes before 1.0.864 lack it. Slots 21
// and 22 are ICoreWebView2Settings2's.
struct ICoreWebView2Settings3 : public ICoreWebView2Settings {
  static constexpr GUID iid = makeGuid("FDB5AB74-AF33-4854-84F0-0A631DEB5EBA");

 protected:
  ~ICoreWebView2Settings3() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE get_UserAgent(LPWSTR* userAgent) = 0;               // 21
  virtual HRESULT STDMETHODCALLTYPE put_UserAgent(LPCWSTR userAgent) = 0;               // 22
  virtual HRESULT STDMETHODCALLTYPE get_AreBrowserAcceleratorKeysEnabled(BOOL* value) = 0;  // 23
  virtual HRESULT STDMETHODCALLTYPE put_AreBrowserAcceleratorKeysEnabled(BOOL value) = 0;   // 24
};

struct ICoreWebView2 : public IUnknown {
  static constexpr GUID iid = makeGuid("76ECEACB-0462-4D94-AC83-423A6793775E");

 protected:
  ~ICoreWebView2() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) = 0;  // 3
  virtual HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) = 0;                         // 4
  virtual HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) = 0;                           // 5
  virtual HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR htmlContent) = 0;           // 6
  virtual HRESULT STDMETHODCALLTYPE add_NavigationStarting(                              // 7
      ICoreWebView2NavigationStartingEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken token) = 0;  // 8
  virtual HRESULT STDMETHODCALLTYPE add_ContentLoading(                                  // 9
      ICoreWebView2ContentLoadingEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken token) = 0;  // 10
  virtual HRESULT STDMETHODCALLTYPE add_SourceChanged(                                   // 11
      ICoreWebView2SourceChangedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken token) = 0;  // 12
  virtual HRESULT STDMETHODCALLTYPE add_HistoryChanged(                                  // 13
      ICoreWebView2HistoryChangedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken token) = 0;  // 14
  virtual HRESULT STDMETHODCALLTYPE add_NavigationCompleted(                             // 15
      ICoreWebView2NavigationCompletedEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(                          // 16
      EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(                         // 17
      ICoreWebView2NavigationStartingEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(                      // 18
      EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(                        // 19
      ICoreWebView2NavigationCompletedEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(                     // 20
      EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(                             // 21
      ICoreWebView2ScriptDialogOpeningEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(                          // 22
      EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_PermissionRequested(                             // 23
      ICoreWebView2PermissionRequestedEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_PermissionRequested(                          // 24
      EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_ProcessFailed(                                   // 25
      ICoreWebView2ProcessFailedEventHandler* eventHandler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken token) = 0;  // 26
  virtual HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(                 // 27
      LPCWSTR javaScript, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) = 0;  // 28
  virtual HRESULT STDMETHODCALLTYPE ExecuteScript(                                       // 29
      LPCWSTR javaScript, ICoreWebView2ExecuteScriptCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE CapturePreview(                                      // 30
      COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT imageFormat, IStream* imageStream,
      ICoreWebView2CapturePreviewCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reload() = 0;                                        // 31
  virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR webMessageAsJson) = 0;      // 32
  virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR webMessageAsString) = 0;  // 33
  virtual HRESULT STDMETHODCALLTYPE add_WebMessageReceived(                              // 34
      ICoreWebView2WebMessageReceivedEventHandler* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken token) = 0;  // 35
  virtual HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(                          // 36
      LPCWSTR methodName, LPCWSTR parametersAsJson, IUnknown* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32* value) = 0;             // 37
  virtual HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL* canGoBack) = 0;                  // 38
  virtual HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL* canGoForward) = 0;            // 39
  virtual HRESULT STDMETHODCALLTYPE GoBack() = 0;                                        // 40
  virtual HRESULT STDMETHODCALLTYPE GoForward() = 0;                                     // 41
  virtual HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(                    // 42
      LPCWSTR eventName, IUnknown** receiver) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;                                          // 43
  virtual HRESULT STDMETHODCALLTYPE add_NewWindowRequested(                              // 44
      ICoreWebView2NewWindowRequestedEventHandler* eventHandler,
      EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(                           // 45
      EventRegistrationToken token) = 0;
  // The interface goes on (slots 46..60); we never call those.
};

struct ICoreWebView2WebMessageReceivedEventArgs : public IUnknown {
  static constexpr GUID iid = makeGuid("0F99A40C-E962-4207-9E92-E3D542EFF849");

 protected:
  ~ICoreWebView2WebMessageReceivedEventArgs() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* source) = 0;                          // 3
  virtual HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* webMessageAsJson) = 0;      // 4
  virtual HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* webMessageAsString) = 0;  // 5
};

struct ICoreWebView2NavigationCompletedEventArgs : public IUnknown {
  static constexpr GUID iid = makeGuid("30D68B7D-20D9-4752-A9CA-EC8448FBB5C1");

 protected:
  ~ICoreWebView2NavigationCompletedEventArgs() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* isSuccess) = 0;                         // 3
  virtual HRESULT STDMETHODCALLTYPE get_WebErrorStatus(COREWEBVIEW2_WEB_ERROR_STATUS* status) = 0;  // 4
  virtual HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* navigationId) = 0;                 // 5
};

struct ICoreWebView2NavigationStartingEventArgs : public IUnknown {
  static constexpr GUID iid = makeGuid("5B495469-E119-438A-9B18-7604F25F2E49");

 protected:
  ~ICoreWebView2NavigationStartingEventArgs() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;                        // 3
  virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* isUserInitiated) = 0;  // 4
  virtual HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* isRedirected) = 0;        // 5
  virtual HRESULT STDMETHODCALLTYPE get_RequestHeaders(IUnknown** requestHeaders) = 0;  // 6
  virtual HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) = 0;                    // 7
  virtual HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) = 0;                     // 8
  virtual HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* navigationId) = 0;      // 9
};

struct ICoreWebView2ProcessFailedEventArgs : public IUnknown {
  static constexpr GUID iid = makeGuid("8155A9A4-1474-4A86-8CAE-151B0FA6B8CA");

 protected:
  ~ICoreWebView2ProcessFailedEventArgs() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(                           // 3
      COREWEBVIEW2_PROCESS_FAILED_KIND* kind) = 0;
};

struct ICoreWebView2NewWindowRequestedEventArgs : public IUnknown {
  static constexpr GUID iid = makeGuid("34ACB11C-FC37-4418-9132-F9C21D1EAFB9");

 protected:
  ~ICoreWebView2NewWindowRequestedEventArgs() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;                        // 3
  virtual HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2* newWindow) = 0;     // 4
  virtual HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2** newWindow) = 0;    // 5
  virtual HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) = 0;                   // 6
  virtual HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) = 0;                  // 7
  virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* isUserInitiated) = 0;  // 8
  virtual HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** deferral) = 0;  // 9
  virtual HRESULT STDMETHODCALLTYPE get_WindowFeatures(                              // 10
      ICoreWebView2WindowFeatures** value) = 0;
};

#pragma GCC diagnostic pop

// The one export of WebView2Loader.dll we use, looked up by this exact name.
inline constexpr char kCreateEnvironmentExport[] = "CreateCoreWebView2EnvironmentWithOptions";
using CreateCoreWebView2EnvironmentWithOptionsFn = HRESULT(STDAPICALLTYPE*)(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder,
    ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler);

// The installed runtime's client DLL (EmbeddedBrowserWebView.dll) creates the
// environment through this export; WebView2Loader.dll calls the same one.
inline constexpr char kCreateEnvironmentInternalExport[] =
    "CreateWebViewEnvironmentWithOptionsInternal";
inline constexpr int kInstalledRuntime = 0;  // the runtime-type argument for Evergreen
using CreateWebViewEnvironmentWithOptionsInternalFn = HRESULT(STDAPICALLTYPE*)(
    bool checkRunningInstance, int runtimeType, PCWSTR userDataFolder,
    IUnknown* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler);

}  // namespace varnholt_app
