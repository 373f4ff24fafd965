// Building blocks of the layer's COM objects: reference counting, QueryInterface along a
// single-inheritance interface chain, and the late-binding members that are not offered.
#pragma once

#include <atomic>

#include "objbase.h"

namespace pal {

// Implements IUnknown and IDispatch for `Interface` and the interfaces it derives from,
// which `Iids` lists (IUnknown and IDispatch are always answered). Objects are created
// with one reference and deleted by their last Release.
template <class Interface, const IID*... Iids>
class ComObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
        !(IsEqualIID(riid, *Iids) || ...)) {
      return E_NOINTERFACE;
    }
    *ppv = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo != nullptr) *pctinfo = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** pp) override {
    if (pp != nullptr) *pp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, tagDISPPARAMS*, tagVARIANT*,
                                   tagEXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

// The class factory entry of the task scheduler (CLSID_TaskScheduler).
HRESULT CreateTaskService(REFIID riid, void** ppv);

}  // namespace pal
