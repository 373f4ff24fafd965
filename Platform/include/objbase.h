// The COM subset: HRESULT values, IUnknown and IDispatch, apartment initialisation,
// process security and in-process object creation.
//
// Apartments are bookkeeping only: every object of the layer is free-threaded, so the
// model a thread chose matters only for the answers Windows gives (S_FALSE on a nested
// initialisation, RPC_E_CHANGED_MODE on a different model). The only classes known to
// CoCreateInstance are the ones the layer itself implements (CLSID_TaskScheduler).
#pragma once

#include <windows.h>

#include "wtypes.h"

#ifndef S_OK
#define S_OK ((HRESULT)0L)
#endif
#ifndef S_FALSE
#define S_FALSE ((HRESULT)1L)
#endif
#ifndef E_NOTIMPL
#define E_NOTIMPL ((HRESULT)0x80004001L)
#endif
#ifndef E_NOINTERFACE
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#endif
#ifndef E_POINTER
#define E_POINTER ((HRESULT)0x80004003L)
#endif
#ifndef E_ABORT
#define E_ABORT ((HRESULT)0x80004004L)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005L)
#endif
#ifndef E_UNEXPECTED
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#endif
#ifndef E_ACCESSDENIED
#define E_ACCESSDENIED ((HRESULT)0x80070005L)
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG ((HRESULT)0x80070057L)
#endif
#ifndef CO_E_NOTINITIALIZED
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)
#endif
#ifndef REGDB_E_CLASSNOTREG
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#endif
#ifndef CLASS_E_NOAGGREGATION
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#endif
#ifndef RPC_E_CHANGED_MODE
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)
#endif
#ifndef RPC_E_TOO_LATE
#define RPC_E_TOO_LATE ((HRESULT)0x80010119L)
#endif
#ifndef DISP_E_TYPEMISMATCH
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005L)
#endif
#ifndef DISP_E_BADVARTYPE
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008L)
#endif
#ifndef DISP_E_BADINDEX
#define DISP_E_BADINDEX ((HRESULT)0x8002000BL)
#endif
#ifndef SUCCEEDED
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#endif
#ifndef FACILITY_WIN32
#define FACILITY_WIN32 7
#endif
#ifndef HRESULT_FROM_WIN32
#define HRESULT_FROM_WIN32(x)                                                        \
  ((HRESULT)(x) <= 0 ? (HRESULT)(x)                                                  \
                     : (HRESULT)((((DWORD)(x)) & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | \
                                 0x80000000u))
#endif
#ifndef HRESULT_CODE
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#endif
#ifndef HRESULT_FACILITY
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1fff)
#endif

#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0

typedef void* PSECURITY_DESCRIPTOR;

extern const IID IID_IUnknown;
extern const IID IID_IDispatch;

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

struct ITypeInfo;
typedef LONG DISPID;
struct tagDISPPARAMS;
struct tagEXCEPINFO;
struct tagVARIANT;

// Late binding is not offered: the type-information and invocation members answer
// E_NOTIMPL; the objects are used through their own interfaces.
struct IDispatch : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                  LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                           WORD wFlags, tagDISPPARAMS* pDispParams,
                                           tagVARIANT* pVarResult, tagEXCEPINFO* pExcepInfo,
                                           UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};

typedef enum tagCOINIT {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8,
} COINIT;

typedef enum tagCLSCTX {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_ALL = 0x17,
} CLSCTX;

#define RPC_C_AUTHN_LEVEL_DEFAULT 0
#define RPC_C_AUTHN_LEVEL_NONE 1
#define RPC_C_AUTHN_LEVEL_CONNECT 2
#define RPC_C_AUTHN_LEVEL_CALL 3
#define RPC_C_AUTHN_LEVEL_PKT 4
#define RPC_C_AUTHN_LEVEL_PKT_INTEGRITY 5
#define RPC_C_AUTHN_LEVEL_PKT_PRIVACY 6
#define RPC_C_IMP_LEVEL_DEFAULT 0
#define RPC_C_IMP_LEVEL_ANONYMOUS 1
#define RPC_C_IMP_LEVEL_IDENTIFY 2
#define RPC_C_IMP_LEVEL_IMPERSONATE 3
#define RPC_C_IMP_LEVEL_DELEGATE 4

typedef enum tagEOLE_AUTHENTICATION_CAPABILITIES {
  EOAC_NONE = 0x0,
} EOLE_AUTHENTICATION_CAPABILITIES;

typedef struct tagSOLE_AUTHENTICATION_SERVICE {
  DWORD dwAuthnSvc;
  DWORD dwAuthzSvc;
  OLECHAR* pPrincipalName;
  HRESULT hr;
} SOLE_AUTHENTICATION_SERVICE;

// Enters the calling thread into COM. S_OK on the first call of the thread, S_FALSE on a
// nested one with the same model (each needs its own CoUninitialize), RPC_E_CHANGED_MODE
// when the thread already chose the other model, E_INVALIDARG for a reserved pointer or
// unknown flags.
HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
HRESULT WINAPI CoInitialize(LPVOID pvReserved);
// Undoes one successful CoInitializeEx of the calling thread; ignored when there is none.
void WINAPI CoUninitialize();

// Sets the process's default security once. CO_E_NOTINITIALIZED when the calling thread
// has not entered COM, RPC_E_TOO_LATE on any later call in the process. The values are
// checked for their documented ranges (E_INVALIDARG) and otherwise only recorded: every
// object here is in-process, so there is nothing to authenticate.
HRESULT WINAPI CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc,
                                    SOLE_AUTHENTICATION_SERVICE* asAuthSvc, void* pReserved1,
                                    DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList,
                                    DWORD dwCapabilities, void* pReserved3);

// Creates an object of a class the layer implements and returns the requested interface.
// CO_E_NOTINITIALIZED when the thread has not entered COM, REGDB_E_CLASSNOTREG for an
// unknown class or a context without CLSCTX_INPROC_SERVER, CLASS_E_NOAGGREGATION with an
// outer object, E_NOINTERFACE when the class lacks the interface, E_POINTER for a NULL
// output (which is otherwise set to NULL on every failure).
HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv);

#include "oleauto.h"
