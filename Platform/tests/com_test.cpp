#include <comdef.h>
#include <objbase.h>
#include <taskschd.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <thread>

#include "pal_testing.h"

namespace {

TEST(BstrTest, CarriesItsLengthAndEmbeddedNuls) {
  const wchar_t text[] = L"ab\0cd";
  BSTR s = SysAllocStringLen(text, 5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 5u);
  EXPECT_EQ(SysStringByteLen(s), 5u * sizeof(OLECHAR));
  EXPECT_EQ(std::wmemcmp(s, text, 5), 0);
  EXPECT_EQ(s[5], L'\0');
  SysFreeString(s);

  BSTR zeroed = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(SysStringLen(zeroed), 3u);
  EXPECT_EQ(zeroed[0], L'\0');
  EXPECT_EQ(SysReAllocString(&zeroed, L"xyz!"), TRUE);
  EXPECT_EQ(SysStringLen(zeroed), 4u);
  EXPECT_STREQ(zeroed, L"xyz!");
  SysFreeString(zeroed);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(BstrWrapperTest, CopiesShareOneStringAndDetachLeavesOthersIntact) {
  _bstr_t a(L"alpha");
  _bstr_t b = a;
  EXPECT_EQ(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(b));
  BSTR own = b.Detach();
  EXPECT_NE(own, static_cast<const wchar_t*>(a));
  EXPECT_STREQ(own, L"alpha");
  EXPECT_STREQ(static_cast<const wchar_t*>(a), L"alpha");
  EXPECT_TRUE(!b);
  SysFreeString(own);

  a += _bstr_t(L"-beta");
  EXPECT_EQ(a.length(), 10u);
  EXPECT_TRUE(a == _bstr_t(L"alpha-beta"));
  EXPECT_TRUE(a != _bstr_t(L"alpha"));
  BSTR copy = a.copy();
  EXPECT_NE(copy, static_cast<const wchar_t*>(a));
  EXPECT_EQ(SysStringLen(copy), 10u);
  SysFreeString(copy);
}

TEST(BstrWrapperTest, NarrowFormUsesTheAnsiCodePage) {
  _bstr_t s(L"caf\u00e9 \u20ac \u4e2d");
  const char* narrow = s;
  EXPECT_STREQ(narrow, "caf\xe9 \x80 ?");
  _bstr_t back("na\xefve");
  EXPECT_STREQ(static_cast<const wchar_t*>(back), L"na\u00efve");
}

TEST(VariantTest, CopyIsDeepAndClearReleasesWhatItOwns) {
  _variant_t text(L"server");
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
  EXPECT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, text.bstrVal);
  EXPECT_STREQ(copy.bstrVal, L"server");
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(copy.vt, VT_EMPTY);

  struct Counted : IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  } object;
  VARIANT holder;
  VariantInit(&holder);
  holder.vt = VT_UNKNOWN;
  holder.punkVal = &object;
  VARIANT second;
  VariantInit(&second);
  ASSERT_EQ(VariantCopy(&second, &holder), S_OK);
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&second);
  EXPECT_EQ(object.refs, 1u);

  VARIANT odd;
  VariantInit(&odd);
  odd.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&odd), DISP_E_BADVARTYPE);
  EXPECT_EQ(odd.vt, 0x0FFF);
}

// The N-th allocation fails in the child (PAL_COM_FAIL_ALLOC is set by the parent).
PAL_CHILD(com_alloc_failure) {
  const std::string which = args.at(0);
  try {
    if (which == "bstr") {
      _bstr_t s(L"text");
    } else if (which == "variant_copy") {
      _variant_t first(L"x");       // allocation 1
      _variant_t second(first);     // allocation 2 fails
    }
  } catch (const _com_error& e) {
    return e.Error() == E_OUTOFMEMORY ? 0 : 2;
  }
  return 1;
}

TEST(ComWrapperTest, AllocationFailureRaisesComError) {
  for (const char* which : {"bstr", "variant_copy"}) {
    SCOPED_TRACE(which);
    setenv("PAL_COM_FAIL_ALLOC", std::strcmp(which, "bstr") == 0 ? "1" : "2", 1);
    pal_testing::Child child("com_alloc_failure", {which});
    EXPECT_EQ(child.Wait(), 0);
    unsetenv("PAL_COM_FAIL_ALLOC");
  }
}

TEST(ApartmentTest, NestingModelsAndObjectCreation) {
  ITaskService* service = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                             reinterpret_cast<void**>(&service)),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(service, nullptr);

  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();

  std::thread([] {
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, &p),
              CO_E_NOTINITIALIZED);
  }).join();

  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(IID_IUnknown, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, &p),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_LOCAL_SERVER, IID_ITaskService, &p),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskFolder, &p),
            E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                             reinterpret_cast<void**>(&service)),
            S_OK);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(service->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown->Release(), 1u);
  EXPECT_EQ(service->Release(), 0u);
  CoUninitialize();
  EXPECT_EQ(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, &p),
            CO_E_NOTINITIALIZED);
}

PAL_CHILD(com_security_once) {
  if (CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr) != CO_E_NOTINITIALIZED) {
    return 1;
  }
  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) return 2;
  if (CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 7, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                           EOAC_NONE, nullptr) != E_INVALIDARG) {
    return 3;
  }
  if (CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr) != S_OK) {
    return 4;
  }
  if (CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr) != RPC_E_TOO_LATE) {
    return 5;
  }
  CoUninitialize();
  return 0;
}

TEST(ApartmentTest, SecurityIsSetOncePerProcess) {
  pal_testing::Child child("com_security_once");
  EXPECT_EQ(child.Wait(), 0);
}

}  // namespace
