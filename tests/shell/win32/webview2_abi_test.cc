// The runtime finds a method by its vtable slot alone, and the stand-in
// loader of the end-to-end test is built from the same declarations, so a
// shifted slot would pass every other test. Here each method the program
// calls is sent through a vtable that records the slot it arrived in, and
// compared with the slot number the runtime uses.

#include <gtest/gtest.h>

#include <array>
#include <type_traits>
#include <utility>

#include "shell/win32/com_callback.h"
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

// The slot a call of `method` goes through, made with zeroed arguments.
// The recording functions take only `this`: that is safe where the caller
// removes the arguments (x64), not with __stdcall on x86.
template <class Interface, class Result, class... Args>
int slotOf(Result (STDMETHODCALLTYPE Interface::*method)(Args...)) {
  SlotRecorder recorder{kRecordingTable.data(), -1};
  auto* object = reinterpret_cast<Interface*>(&recorder);
  (object->*method)(std::decay_t<Args>{}...);
  return recorder.slot;
}

class WebView2Slots : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(_WIN64)
    GTEST_SKIP() << "the recording vtable relies on the x64 calling convention";
#endif
  }
};

TEST_F(WebView2Slots, RecorderSeesTheIUnknownSlots) {
  EXPECT_EQ((slotOf<IUnknown, HRESULT, REFIID, void**>(&IUnknown::QueryInterface)), 0);
  EXPECT_EQ(slotOf(&IUnknown::AddRef), 1);
  EXPECT_EQ(slotOf(&IUnknown::Release), 2);
}

TEST_F(WebView2Slots, EnvironmentAndController) {
  EXPECT_EQ(slotOf(&ICoreWebView2Environment::CreateCoreWebView2Controller), 3);

  EXPECT_EQ(slotOf(&ICoreWebView2Controller::put_IsVisible), 4);
  EXPECT_EQ(slotOf(&ICoreWebView2Controller::put_Bounds), 6);
  EXPECT_EQ(slotOf(&ICoreWebView2Controller::NotifyParentWindowPositionChanged), 23);
  EXPECT_EQ(slotOf(&ICoreWebView2Controller::get_CoreWebView2), 25);
}

TEST_F(WebView2Slots, ViewSettingsAndMessageArguments) {
  EXPECT_EQ(slotOf(&ICoreWebView2::get_Settings), 3);
  EXPECT_EQ(slotOf(&ICoreWebView2::NavigateToString), 6);
  EXPECT_EQ(slotOf(&ICoreWebView2::add_NavigationCompleted), 15);
  EXPECT_EQ(slotOf(&ICoreWebView2::PostWebMessageAsJson), 32);
  EXPECT_EQ(slotOf(&ICoreWebView2::add_WebMessageReceived), 34);

  // The three setters are spread out: a missing pair in between shifts them.
  EXPECT_EQ(slotOf(&ICoreWebView2Settings::put_AreDevToolsEnabled), 12);
  EXPECT_EQ(slotOf(&ICoreWebView2Settings::put_AreDefaultContextMenusEnabled), 14);
  EXPECT_EQ(slotOf(&ICoreWebView2Settings::put_IsZoomControlEnabled), 18);

  EXPECT_EQ(slotOf(&ICoreWebView2WebMessageReceivedEventArgs::get_WebMessageAsJson), 4);
}

TEST_F(WebView2Slots, HandlersInvokeAtSlotThree) {
  EXPECT_EQ(slotOf(&ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler::Invoke), 3);
  EXPECT_EQ(slotOf(&ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::Invoke), 3);
  EXPECT_EQ(slotOf(&ICoreWebView2NavigationCompletedEventHandler::Invoke), 3);
  EXPECT_EQ(slotOf(&ICoreWebView2WebMessageReceivedEventHandler::Invoke), 3);
}

// The other direction: the runtime calls our handler objects through raw
// slots with `this` first, the way a C caller would.
TEST_F(WebView2Slots, ACallbackObjectAnswersThroughItsRawSlots) {
  HRESULT seenCode = S_OK;
  ICoreWebView2Controller* seenController = nullptr;
  auto* callback = ControllerCompletedCallback::create(
      [&](HRESULT code, ICoreWebView2Controller* controller) {
        seenCode = code;
        seenController = controller;
        return S_FALSE;
      });
  ASSERT_NE(callback, nullptr);
  const RawSlot* vtable = *reinterpret_cast<const RawSlot* const*>(callback);

  using QueryInterfaceSlot = HRESULT(STDMETHODCALLTYPE*)(void*, REFIID, void**);
  using CountSlot = ULONG(STDMETHODCALLTYPE*)(void*);
  using InvokeSlot = HRESULT(STDMETHODCALLTYPE*)(void*, HRESULT, ICoreWebView2Controller*);

  void* own = nullptr;
  EXPECT_EQ(reinterpret_cast<QueryInterfaceSlot>(vtable[0])(
                callback, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::iid, &own),
            S_OK);
  EXPECT_EQ(own, static_cast<void*>(callback));
  EXPECT_EQ(reinterpret_cast<CountSlot>(vtable[1])(callback), 3u);

  auto* controller = reinterpret_cast<ICoreWebView2Controller*>(0x5678);
  EXPECT_EQ(reinterpret_cast<InvokeSlot>(vtable[3])(callback, E_ABORT, controller), S_FALSE);
  EXPECT_EQ(seenCode, E_ABORT);
  EXPECT_EQ(seenController, controller);

  const auto release = reinterpret_cast<CountSlot>(vtable[2]);
  EXPECT_EQ(release(callback), 2u);
  EXPECT_EQ(release(callback), 1u);
  EXPECT_EQ(release(callback), 0u);
}

}  // namespace
}  // namespace varnholt_app
