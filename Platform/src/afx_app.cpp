// Application state of the class library for a console program.
#include <afxwin.h>

#include <atomic>

namespace {

std::atomic<HINSTANCE> g_instance{NULL};

}  // namespace

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow) {
  UNREFERENCED_PARAMETER(hPrevInstance);
  UNREFERENCED_PARAMETER(lpCmdLine);
  UNREFERENCED_PARAMETER(nCmdShow);
  if (hInstance == NULL) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  g_instance.store(hInstance);
  return TRUE;
}

HINSTANCE AfxGetInstanceHandle() { return g_instance.load(); }

HINSTANCE AfxGetResourceHandle() { return g_instance.load(); }
