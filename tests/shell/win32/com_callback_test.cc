#include "shell/win32/com_callback.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "shell/win32/com_ref.h"

namespace varnholt_app {
namespace {

TEST(MakeGuid, MatchesTheSystemsOwnIids) {
  EXPECT_TRUE(IsEqualIID(makeGuid("00000000-0000-0000-C000-000000000046"), IID_IUnknown));
  EXPECT_TRUE(IsEqualIID(makeGuid("00020400-0000-0000-c000-000000000046"), IID_IDispatch));
  EXPECT_TRUE(IsEqualIID(makeGuid("0000000C-0000-0000-C000-000000000046"), IID_IStream));
}

// Lives as long as the closure that holds it, so its expiry shows that the
// callback object was destroyed.
struct Sentinel {};

template <class T>
class ComCallbackTest : public ::testing::Test {};

using CallbackTypes = ::testing::Types<EnvironmentCompletedCallback, ControllerCompletedCallback,
                                       NavigationCompletedCallback, WebMessageReceivedCallback>;
TYPED_TEST_SUITE(ComCallbackTest, CallbackTypes);

// Only the four handler IIDs and IUnknown matter to the runtime; each object
// must answer exactly its own.
const GUID* const kHandlerIids[] = {
    &ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler::iid,
    &ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::iid,
    &ICoreWebView2NavigationCompletedEventHandler::iid,
    &ICoreWebView2WebMessageReceivedEventHandler::iid,
};

template <class Interface>
const GUID& ownIid(Interface*) {
  return Interface::iid;
}

TYPED_TEST(ComCallbackTest, CountsReferencesFromOneAndFreesItselfAtZero) {
  auto sentinel = std::make_shared<Sentinel>();
  std::weak_ptr<Sentinel> watch = sentinel;
  auto* watched = TypeParam::create([sentinel](auto, auto) { return S_OK; });
  ASSERT_NE(watched, nullptr);
  sentinel.reset();
  ASSERT_FALSE(watch.expired());

  EXPECT_EQ(watched->AddRef(), 2u);
  EXPECT_EQ(watched->Release(), 1u);
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(watched->Release(), 0u);
  EXPECT_TRUE(watch.expired());  // closure destroyed with the object
}

TYPED_TEST(ComCallbackTest, AnswersIUnknownAndItsOwnInterfaceOnly) {
  auto* callback = TypeParam::create([](auto, auto) { return S_OK; });
  ASSERT_NE(callback, nullptr);
  const GUID& own = ownIid(callback);

  void* object = nullptr;
  ASSERT_EQ(callback->QueryInterface(IID_IUnknown, &object), S_OK);
  EXPECT_EQ(object, static_cast<void*>(callback));
  ASSERT_EQ(callback->QueryInterface(own, &object), S_OK);
  EXPECT_EQ(object, static_cast<void*>(callback));
  EXPECT_EQ(callback->Release(), 2u);  // both successful queries added one
  EXPECT_EQ(callback->Release(), 1u);

  int otherIids = 0;
  for (const GUID* iid : kHandlerIids) {
    if (IsEqualIID(*iid, own)) continue;
    ++otherIids;
    object = callback;
    EXPECT_EQ(callback->QueryInterface(*iid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(otherIids, 3);
  object = callback;
  EXPECT_EQ(callback->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(callback->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

  EXPECT_EQ(callback->Release(), 0u);  // nothing leaked by the failed queries
}

TEST(ComCallback, InvokeForwardsArgumentsAndResult) {
  HRESULT seenCode = S_OK;
  ICoreWebView2Environment* seenEnvironment = nullptr;
  auto* callback = EnvironmentCompletedCallback::create(
      [&](HRESULT code, ICoreWebView2Environment* environment) {
        seenCode = code;
        seenEnvironment = environment;
        return E_ABORT;
      });
  auto* fakeEnvironment = reinterpret_cast<ICoreWebView2Environment*>(0x1234);
  EXPECT_EQ(callback->Invoke(E_ACCESSDENIED, fakeEnvironment), E_ABORT);
  EXPECT_EQ(seenCode, E_ACCESSDENIED);
  EXPECT_EQ(seenEnvironment, fakeEnvironment);
  callback->Release();
}

TEST(ComCallback, AnExceptionDoesNotLeaveInvoke) {
  auto* callback = WebMessageReceivedCallback::create(
      [](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs*) -> HRESULT {
        throw std::runtime_error("handler failed");
      });
  EXPECT_EQ(callback->Invoke(nullptr, nullptr), E_UNEXPECTED);
  callback->Release();
}

// A COM object whose count the test can read; never freed by Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"  // IUnknown has none, like every COM object
struct CountedObject : public IUnknown {
  ULONG count = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
  ULONG STDMETHODCALLTYPE Release() override { return --count; }
};
#pragma GCC diagnostic pop

TEST(ComRef, HoldsOneReferencePerStoredPointer) {
  CountedObject first;
  CountedObject second;
  {
    ComRef<IUnknown> ref;
    ref.assign(&first);
    EXPECT_EQ(first.count, 2u);
    ref.assign(&first);  // the same object again: still one of ours
    EXPECT_EQ(first.count, 2u);
    ref.assign(&second);
    EXPECT_EQ(first.count, 1u);
    EXPECT_EQ(second.count, 2u);
    ref.assign(nullptr);
    EXPECT_EQ(second.count, 1u);
    EXPECT_FALSE(ref);
    ref.assign(&second);
  }
  EXPECT_EQ(second.count, 1u);  // released on destruction
}

TEST(ComRef, PutReleasesTheOldObjectAndTakesAnOutReference) {
  CountedObject old;
  CountedObject handed;
  ComRef<IUnknown> ref;
  ref.assign(&old);
  IUnknown** slot = ref.put();
  EXPECT_EQ(old.count, 1u);
  EXPECT_EQ(*slot, nullptr);
  handed.AddRef();  // what a getter does before handing it out
  *slot = &handed;
  EXPECT_EQ(ref.get(), &handed);
  ref.reset();
  EXPECT_EQ(handed.count, 1u);
}

}  // namespace
}  // namespace varnholt_app
