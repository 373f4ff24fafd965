// Every HANDLE the layer hands out points at a HandleObject. CloseHandle deletes it; the
// waits dispatch to Wait(). A registry of live handles lets the face answer
// ERROR_INVALID_HANDLE for a handle that was never issued or is already closed.
#pragma once

#include <memory>

#include "pal/base.h"

namespace pal {

enum class HandleKind { kMutex, kEvent, kSection, kFile, kProcess, kThread, kPrinter, kFind, kOther };

enum class WaitResult { kSignaled, kAbandoned, kTimeout, kFailed };

class HandleObject {
 public:
  explicit HandleObject(HandleKind kind) : kind_(kind) {}
  virtual ~HandleObject() = default;
  HandleObject(const HandleObject&) = delete;
  HandleObject& operator=(const HandleObject&) = delete;

  HandleKind kind() const { return kind_; }

  // Waits until the object is signalled or `timeout_ms` passes (INFINITE: no limit).
  // Objects that cannot be waited on fail with ERROR_INVALID_HANDLE.
  virtual WaitResult Wait(DWORD timeout_ms);

 private:
  HandleKind kind_;
};

// Registers the object and returns the handle that stands for it.
HANDLE IssueHandle(std::unique_ptr<HandleObject> object);

// The live object behind `h`, or nullptr (last error ERROR_INVALID_HANDLE) when `h` is not
// a live handle of the expected kind. The reference keeps the object alive while in use,
// so another thread closing the handle meanwhile (as Windows allows) is harmless.
std::shared_ptr<HandleObject> LookupHandle(HANDLE h);
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE h, HandleKind kind) {
  std::shared_ptr<HandleObject> object = LookupHandle(h);
  if (object == nullptr || object->kind() != kind) {
    SetLastError(6 /* ERROR_INVALID_HANDLE */);
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}

// Removes the handle from the registry; the object dies with its last reference.
bool RetireHandle(HANDLE h);

}  // namespace pal
