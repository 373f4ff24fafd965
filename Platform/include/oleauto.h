// COM strings and variants: BSTR allocation and VARIANT life cycle.
//
// A BSTR carries its length in front of its characters, so it may hold NULs; a NULL BSTR
// counts as the empty string. Allocation failure returns NULL, as on Windows when memory
// runs out. Differs from Windows: the variable PAL_COM_FAIL_ALLOC=N makes the N-th BSTR
// allocation of the process fail (1 is the first), so that the out-of-memory paths of the
// callers can be exercised.
#pragma once

#include "wtypes.h"

struct IUnknown;
struct IDispatch;

typedef struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    ULONGLONG ullVal;
    LONG lVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    SHORT iVal;
    USHORT uiVal;
    CHAR cVal;
    BYTE bVal;
    FLOAT fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
  };
} VARIANT, *LPVARIANT, VARIANTARG, *LPVARIANTARG;

// A new BSTR with a copy of the NUL-terminated text; NULL for a NULL text or when memory
// runs out.
BSTR WINAPI SysAllocString(const OLECHAR* psz);
// A new BSTR of `ui` characters copied from `strIn` (zero-filled when `strIn` is NULL),
// terminated; NULL when memory runs out.
BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
// Replaces *pbstr by a copy of psz. FALSE (and *pbstr unchanged) when memory runs out.
INT WINAPI SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
void WINAPI SysFreeString(BSTR bstrString);
// Characters in the string (NULs inside included); 0 for NULL.
UINT WINAPI SysStringLen(BSTR pbstr);
UINT WINAPI SysStringByteLen(BSTR bstr);

void WINAPI VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (a BSTR, a reference on an interface) and leaves it
// VT_EMPTY. DISP_E_BADVARTYPE for a type the layer does not know, the variant untouched.
HRESULT WINAPI VariantClear(VARIANTARG* pvarg);
// Clears the destination, then copies the source deeply (a new BSTR, another reference).
// E_OUTOFMEMORY when the string cannot be copied: the destination is then VT_EMPTY.
HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
