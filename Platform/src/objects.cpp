// The Win32 face of the kernel objects: argument checks, last-error and return conventions.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "objects.h"
#include "pal/errors.h"

namespace {

constexpr DWORD kMappedAlignment = 1132;  // ERROR_MAPPED_ALIGNMENT
constexpr uint64_t kAllocationGranularity = 65536;

HANDLE Finish(pal::Result<pal::Created> created) {
  if (!created.ok()) return pal::Fail(created.error(), static_cast<HANDLE>(nullptr));
  SetLastError(created->already_existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return created->handle;
}

HANDLE FinishOpen(pal::Result<HANDLE> opened) {
  if (!opened.ok()) return pal::Fail(opened.error(), static_cast<HANDLE>(nullptr));
  return *opened;
}

BOOL FinishBool(std::error_code ec) {
  if (ec) return pal::Fail(ec, FALSE);
  return TRUE;
}

}  // namespace

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  if (pSecurityDescriptor == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION) return pal::Fail(pal::Win32Error(ERROR_UNKNOWN_REVISION), FALSE);
  *static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor) = SECURITY_DESCRIPTOR{};
  static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                                      BOOL bDaclDefaulted) {
  auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
  if (descriptor == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) {
    return pal::Fail(pal::Win32Error(ERROR_UNKNOWN_REVISION), FALSE);
  }
  descriptor->Control &= static_cast<WORD>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
  descriptor->Dacl = nullptr;
  if (bDaclPresent) {
    descriptor->Control |= SE_DACL_PRESENT;
    descriptor->Dacl = pDacl;
    if (bDaclDefaulted) descriptor->Control |= SE_DACL_DEFAULTED;
  }
  return TRUE;
}

BOOL WINAPI SetKernelObjectSecurity(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                    PSECURITY_DESCRIPTOR SecurityDescriptor) {
  const auto* descriptor = static_cast<const SECURITY_DESCRIPTOR*>(SecurityDescriptor);
  if (descriptor == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) {
    return pal::Fail(pal::Win32Error(ERROR_INVALID_SECURITY_DESCR), FALSE);
  }
  if ((SecurityInformation & DACL_SECURITY_INFORMATION) == 0) {
    if (pal::LookupHandle(Handle) == nullptr) return FALSE;
    return TRUE;
  }
  return FinishBool(pal::ApplyExposure(Handle, pal::ExposureForUpdate(descriptor)));
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
  pal::CreateRequest request;
  request.kind = pal::ObjectKind::kMutex;
  request.name = lpName != nullptr ? lpName : L"";
  request.exposure = pal::ExposureForCreate(lpMutexAttributes);
  request.initial_state = bInitialOwner != FALSE;
  return Finish(pal::CreateKernelObject(request));
}

HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
  if (lpName == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), static_cast<HANDLE>(nullptr));
  return FinishOpen(pal::OpenKernelObject(pal::ObjectKind::kMutex, dwDesiredAccess, lpName));
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) { return FinishBool(pal::ReleaseMutexOwnership(hMutex)); }

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCWSTR lpName) {
  pal::CreateRequest request;
  request.kind = pal::ObjectKind::kEvent;
  request.name = lpName != nullptr ? lpName : L"";
  request.exposure = pal::ExposureForCreate(lpEventAttributes);
  request.manual_reset = bManualReset != FALSE;
  request.initial_state = bInitialState != FALSE;
  return Finish(pal::CreateKernelObject(request));
}

HANDLE WINAPI OpenEventW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
  if (lpName == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), static_cast<HANDLE>(nullptr));
  return FinishOpen(pal::OpenKernelObject(pal::ObjectKind::kEvent, dwDesiredAccess, lpName));
}

BOOL WINAPI SetEvent(HANDLE hEvent) { return FinishBool(pal::SetEventState(hEvent, true)); }
BOOL WINAPI ResetEvent(HANDLE hEvent) { return FinishBool(pal::SetEventState(hEvent, false)); }

HANDLE WINAPI CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                                 DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName) {
  if (hFile != INVALID_HANDLE_VALUE) {
    return pal::Fail(pal::Win32Error(ERROR_NOT_SUPPORTED), static_cast<HANDLE>(nullptr));
  }
  const DWORD protection = flProtect & 0xFF;
  const uint64_t size = (static_cast<uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
  if ((protection != PAGE_READWRITE && protection != PAGE_READONLY) || size == 0) {
    return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), static_cast<HANDLE>(nullptr));
  }
  pal::CreateRequest request;
  request.kind = pal::ObjectKind::kSection;
  request.name = lpName != nullptr ? lpName : L"";
  request.exposure = pal::ExposureForCreate(lpFileMappingAttributes);
  request.read_only = protection == PAGE_READONLY;
  request.section_size = size;
  return Finish(pal::CreateKernelObject(request));
}

HANDLE WINAPI OpenFileMappingW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
  if (lpName == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), static_cast<HANDLE>(nullptr));
  return FinishOpen(pal::OpenKernelObject(pal::ObjectKind::kSection, dwDesiredAccess, lpName));
}

LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  const uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
  if (offset % kAllocationGranularity != 0) {
    return pal::Fail(pal::Win32Error(kMappedAlignment), static_cast<LPVOID>(nullptr));
  }
  pal::Result<void*> view = pal::MapSectionView(hFileMappingObject, dwDesiredAccess, offset, dwNumberOfBytesToMap);
  if (!view.ok()) return pal::Fail(view.error(), static_cast<LPVOID>(nullptr));
  return *view;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) { return FinishBool(pal::UnmapSectionView(lpBaseAddress)); }

namespace {

DWORD WaitCode(pal::WaitResult result, DWORD index) {
  switch (result) {
    case pal::WaitResult::kSignaled: return WAIT_OBJECT_0 + index;
    case pal::WaitResult::kAbandoned: return WAIT_ABANDONED_0 + index;
    case pal::WaitResult::kTimeout: return WAIT_TIMEOUT;
    case pal::WaitResult::kFailed: break;
  }
  return WAIT_FAILED;
}

}  // namespace

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  std::shared_ptr<pal::HandleObject> object = pal::LookupHandle(hHandle);
  if (object == nullptr) return WAIT_FAILED;
  return WaitCode(object->Wait(dwMilliseconds), 0);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
    return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), WAIT_FAILED);
  }
  if (bWaitAll && nCount > 1) return pal::Fail(pal::Win32Error(ERROR_NOT_SUPPORTED), WAIT_FAILED);
  std::vector<std::shared_ptr<pal::HandleObject>> objects;
  for (DWORD i = 0; i < nCount; ++i) {
    objects.push_back(pal::LookupHandle(lpHandles[i]));
    if (objects.back() == nullptr) return WAIT_FAILED;
  }
  if (nCount == 1) return WaitCode(objects[0]->Wait(dwMilliseconds), 0);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
  std::chrono::microseconds pause(50);
  for (;;) {
    for (DWORD i = 0; i < nCount; ++i) {
      pal::WaitResult result = objects[i]->Wait(0);
      if (result != pal::WaitResult::kTimeout) return WaitCode(result, i);
    }
    if (dwMilliseconds != INFINITE && Clock::now() >= deadline) return WAIT_TIMEOUT;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(2000));
  }
}
