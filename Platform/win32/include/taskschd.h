// Windows build: the compiler's Task Scheduler 2.0 declarations, completed with the boot
// trigger interface that older mingw-w64 headers leave out (declared as the Windows SDK
// declares it; its IID is defined in taskschd_iids.cpp).
#pragma once

#include_next <taskschd.h>

#ifndef __IBootTrigger_INTERFACE_DEFINED__
#define __IBootTrigger_INTERFACE_DEFINED__

EXTERN_C const IID IID_IBootTrigger;

MIDL_INTERFACE("2a9c35da-d357-41f4-bbc1-207ac1b1f3cb")
IBootTrigger : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* pDelay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IBootTrigger, 0x2a9c35da, 0xd357, 0x41f4, 0xbb, 0xc1, 0x20, 0x7a, 0xc1, 0xb1, 0xf3, 0xcb)
#endif

#define TQ_DEFINE_IID_IBOOTTRIGGER 1
#endif
