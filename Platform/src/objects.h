// Inside of the named kernel objects: name rules (OS-free, objects_names.cpp), the Win32 face
// (objects.cpp) and the backend that keeps the objects (posix/objects_posix.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "handle.h"
#include "pal/objects.h"
#include "result.h"

namespace pal {

enum class ObjectKind : uint32_t { kMutex = 1, kEvent = 2, kSection = 3 };

enum class ObjectScope { kMachine, kSession };

// Who may use an object, from its security descriptor.
enum class Exposure { kOwnerOnly, kEveryone };

struct ObjectName {
  ObjectScope scope;
  std::wstring base;  // without the "Global\" or "Local\" prefix
};

// Splits a non-empty object name into scope and base. Fails with ERROR_PATH_NOT_FOUND when
// the base holds a backslash, ERROR_INVALID_NAME when it is empty, and
// ERROR_FILENAME_EXCED_RANGE when the name is longer than MAX_PATH.
Result<ObjectName> ParseObjectName(std::wstring_view name);

// A host file name that stands for `base` alone: letters, digits, '-' and '_' are kept,
// every other UTF-8 byte becomes %XX; names that would not fit a host file name keep a
// readable head and end in a hash of the whole.
std::string ObjectFileName(std::wstring_view base);

// The exposure a Create call asks for: a present NULL DACL opens the object to everyone;
// no descriptor, no DACL or a real DACL keep it to its creator.
Exposure ExposureForCreate(const SECURITY_ATTRIBUTES* attributes);
// The exposure SetKernelObjectSecurity applies: a NULL or absent DACL means everyone.
Exposure ExposureForUpdate(const SECURITY_DESCRIPTOR* descriptor);

struct CreateRequest {
  ObjectKind kind = ObjectKind::kEvent;
  std::wstring_view name;  // empty: an unnamed object
  Exposure exposure = Exposure::kOwnerOnly;
  bool manual_reset = false;   // events
  bool initial_state = false;  // event signalled, or mutex owned by the calling thread
  bool read_only = false;      // sections made with PAGE_READONLY
  uint64_t section_size = 0;
};

struct Created {
  HANDLE handle;
  bool already_existed;
};

// Creates the object or opens the existing one of the same kind.
[[nodiscard]] Result<Created> CreateKernelObject(const CreateRequest& request);
// Opens an existing object; ERROR_FILE_NOT_FOUND when none holds the name.
[[nodiscard]] Result<HANDLE> OpenKernelObject(ObjectKind kind, DWORD access, std::wstring_view name);

[[nodiscard]] std::error_code SetEventState(HANDLE event, bool signaled);
[[nodiscard]] std::error_code ReleaseMutexOwnership(HANDLE mutex);
[[nodiscard]] Result<void*> MapSectionView(HANDLE section, DWORD access, uint64_t offset, uint64_t length);
[[nodiscard]] std::error_code UnmapSectionView(const void* address);
[[nodiscard]] std::error_code ApplyExposure(HANDLE object, Exposure exposure);

}  // namespace pal
