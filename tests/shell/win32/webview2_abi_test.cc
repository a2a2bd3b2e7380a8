// The runtime finds a method by its vtable slot alone. Each method the
// program calls is sent through a vtable that records the slot it arrived
// in, and compared with the slot number the runtime uses.

#include <gtest/gtest.h>

#include <array>
#include <type_traits>
#include <utility>

#include "shell/win32/webview2.h"

namespace varnholt_app {
namespace {

using RawSlot = void (*)();

// Laid out as a COM object: a pointer to the vtable comes first.
struct SlotRecorder {
  const RawSlot* vtable;
  int slot;
};

template <int N>
HRESULT STDMETHODCALLTYPE recordSlot(SlotRecorder* self) {
  self->slot = N;
  return S_OK;
}

template <int... N>
std::array<RawSlot, sizeof...(N)> makeRecordingTable(std::integer_sequence<int, N...>) {
  return {reinterpret_cast<RawSlot>(&recordSlot<N>)...};
}

const std::array<RawSlot, 64> kRecordingTable =
    makeRecordingTable(std::make_integer_sequence<int, 64>());

// The slot a call of `method` goes through, made with zeroed arguments. The
// recording functions take only `this`: safe where the caller removes the
// arguments (x64), not with __stdcall on x86.
template <class Interface, class Result, class... Args>
int slotOf(Result (STDMETHODCALLTYPE Interface::*method)(Args...)) {
  SlotRecorder recorder{kRecordingTable.data(), -1};
  auto* object = reinterpret_cast<Interface*>(&recorder);
  (object->*method)(std::decay_t<Args>{}...);
  return recorder.slot;
}

TEST(WebView2Slots, EveryMethodWeCallSitsInTheRuntimesSlot) {
#if !defined(_WIN64)
  GTEST_SKIP() << "the recording vtable relies on the x64 calling convention";
#endif
  const std::pair<int, int> slots[] = {
      {slotOf(&IUnknown::AddRef), 1},
      {slotOf(&IUnknown::Release), 2},
      {slotOf(&ICoreWebView2Environment::CreateCoreWebView2Controller), 3},
      {slotOf(&ICoreWebView2Controller::put_IsVisible), 4},
      {slotOf(&ICoreWebView2Controller::put_Bounds), 6},
      {slotOf(&ICoreWebView2Controller::MoveFocus), 12},
      {slotOf(&ICoreWebView2Controller::NotifyParentWindowPositionChanged), 23},
      {slotOf(&ICoreWebView2Controller::Close), 24},
      {slotOf(&ICoreWebView2Controller::get_CoreWebView2), 25},
      {slotOf(&ICoreWebView2::get_Settings), 3},
      {slotOf(&ICoreWebView2::NavigateToString), 6},
      {slotOf(&ICoreWebView2::add_NavigationStarting), 7},
      {slotOf(&ICoreWebView2::add_NavigationCompleted), 15},
      {slotOf(&ICoreWebView2::add_ProcessFailed), 25},
      {slotOf(&ICoreWebView2::remove_ProcessFailed), 26},
      {slotOf(&ICoreWebView2::add_NewWindowRequested), 44},
      {slotOf(&ICoreWebView2::remove_NewWindowRequested), 45},
      {slotOf(&ICoreWebView2::PostWebMessageAsJson), 32},
      {slotOf(&ICoreWebView2::add_WebMessageReceived), 34},
      {slotOf(&ICoreWebView2Settings::put_AreDevToolsEnabled), 12},
      {slotOf(&ICoreWebView2Settings::put_AreDefaultContextMenusEnabled), 14},
      {slotOf(&ICoreWebView2Settings::put_IsZoomControlEnabled), 18},
      {slotOf(&ICoreWebView2Settings3::put_AreBrowserAcceleratorKeysEnabled), 24},
      {slotOf(&ICoreWebView2ProcessFailedEventArgs::get_ProcessFailedKind), 3},
      {slotOf(&ICoreWebView2NewWindowRequestedEventArgs::put_NewWindow), 4},
      {slotOf(&ICoreWebView2NewWindowRequestedEventArgs::put_Handled), 6},
      {slotOf(&ICoreWebView2NavigationCompletedEventArgs::get_NavigationId), 5},
      {slotOf(&ICoreWebView2NavigationStartingEventArgs::get_NavigationId), 9},
      {slotOf(&ICoreWebView2WebMessageReceivedEventArgs::get_WebMessageAsJson), 4},
      {slotOf(&ICoreWebView2NavigationStartingEventArgs::get_Uri), 3},
      {slotOf(&ICoreWebView2NavigationStartingEventArgs::put_Cancel), 8},
      {slotOf(&ICoreWebView2NavigationStartingEventHandler::Invoke), 3},
      {slotOf(&ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler::Invoke), 3},
      {slotOf(&ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::Invoke), 3},
      {slotOf(&ICoreWebView2NavigationCompletedEventHandler::Invoke), 3},
      {slotOf(&ICoreWebView2WebMessageReceivedEventHandler::Invoke), 3},
      {slotOf(&ICoreWebView2ProcessFailedEventHandler::Invoke), 3},
      {slotOf(&ICoreWebView2NewWindowRequestedEventHandler::Invoke), 3},
  };
  for (size_t i = 0; i < std::size(slots); ++i) {
    EXPECT_EQ(slots[i].first, slots[i].second) << "entry " << i;
  }
}

}  // namespace
}  // namespace varnholt_app
