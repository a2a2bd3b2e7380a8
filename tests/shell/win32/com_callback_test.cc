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
}

template <class T>
class ComCallbackTest : public ::testing::Test {};
using CallbackTypes = ::testing::Types<EnvironmentCompletedCallback, ControllerCompletedCallback,
                                       NavigationCompletedCallback, WebMessageReceivedCallback>;
TYPED_TEST_SUITE(ComCallbackTest, CallbackTypes);

template <class Interface>
const GUID& ownIid(Interface*) {
  return Interface::iid;
}

// The closure's captured pointer expires exactly when the last reference goes.
TYPED_TEST(ComCallbackTest, AnswersItsOwnInterfaceAndFreesItselfAtZero) {
  auto sentinel = std::make_shared<int>();
  std::weak_ptr<int> watch = sentinel;
  auto* callback = TypeParam::create([sentinel](auto, auto) { return S_OK; });
  ASSERT_NE(callback, nullptr);
  sentinel.reset();

  void* object = nullptr;
  ASSERT_EQ(callback->QueryInterface(IID_IUnknown, &object), S_OK);
  ASSERT_EQ(callback->QueryInterface(ownIid(callback), &object), S_OK);
  EXPECT_EQ(object, static_cast<void*>(callback));
  object = callback;
  EXPECT_EQ(callback->QueryInterface(ICoreWebView2Environment::iid, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(callback->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

  EXPECT_EQ(callback->Release(), 2u);
  EXPECT_EQ(callback->Release(), 1u);
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(callback->Release(), 0u);
  EXPECT_TRUE(watch.expired());
}

TEST(ComCallback, ForwardsArgumentsAndResultAndKeepsExceptionsInside) {
  HRESULT seen = S_OK;
  auto* callback = EnvironmentCompletedCallback::create([&](HRESULT code, auto*) -> HRESULT {
    if (code == E_FAIL) throw std::runtime_error("handler failed");
    seen = code;
    return E_ABORT;
  });
  EXPECT_EQ(callback->Invoke(E_ACCESSDENIED, nullptr), E_ABORT);
  EXPECT_EQ(seen, E_ACCESSDENIED);
  EXPECT_EQ(callback->Invoke(E_FAIL, nullptr), E_UNEXPECTED);
  callback->Release();
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"  // IUnknown has none, like every COM object
struct CountedObject : public IUnknown {
  ULONG count = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
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
    ref.assign(&first);  // the same object again must not free it on the way
    EXPECT_EQ(first.count, 2u);
    ref.assign(&second);
    EXPECT_EQ(first.count, 1u);
    IUnknown** slot = ref.put();  // an out parameter: the old object goes first
    EXPECT_EQ(second.count, 1u);
    *slot = &first;
  }
  EXPECT_EQ(first.count, 0u);  // the handed-over reference went with the ComRef
}

}  // namespace
}  // namespace varnholt_app
