#include "handle.h"

#include <mutex>
#include <unordered_map>

#include "pal/errors.h"

namespace pal {
namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<HANDLE, std::shared_ptr<HandleObject>> live;
};

Registry& GetRegistry() {
  // Leaked on purpose: handles may be closed from static destructors of the programs.
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

WaitResult HandleObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WaitResult::kFailed;
}

HANDLE IssueHandle(std::unique_ptr<HandleObject> object) {
  Registry& registry = GetRegistry();
  HANDLE h = object.get();
  std::shared_ptr<HandleObject> shared(std::move(object));
  std::lock_guard lock(registry.mutex);
  registry.live.emplace(h, std::move(shared));
  return h;
}

std::shared_ptr<HandleObject> LookupHandle(HANDLE h) {
  Registry& registry = GetRegistry();
  {
    std::lock_guard lock(registry.mutex);
    auto it = registry.live.find(h);
    if (it != registry.live.end()) return it->second;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

bool RetireHandle(HANDLE h) {
  Registry& registry = GetRegistry();
  std::shared_ptr<HandleObject> object;
  {
    std::lock_guard lock(registry.mutex);
    auto it = registry.live.find(h);
    if (it == registry.live.end()) return false;
    object = std::move(it->second);
    registry.live.erase(it);
  }
  return true;  // `object` is released outside the lock: its destructor may do I/O.
}

}  // namespace pal

BOOL WINAPI CloseHandle(HANDLE h) {
  if (!pal::RetireHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
