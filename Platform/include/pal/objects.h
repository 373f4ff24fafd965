// Named kernel objects (mutexes, events, page-file sections), waits and the security calls
// that open an object to every account.
//
// Names. "Global\name" is machine-wide; "Local\name" and a name without prefix live in the
// caller's logon session. A logon session here is the set of processes that run with one
// real user id on one machine root. Names are case-sensitive; a further backslash in a name
// fails with ERROR_PATH_NOT_FOUND; a NULL or empty name makes an unnamed object, private to
// the process. Every machine root ($PAL_ROOT) has objects of its own: two roots never see
// each other's objects. The objects' state lives in files below $PAL_ROOT/kernel_objects,
// whose contents are not an interface.
//
// Lifetime, as on Windows: an object lives while any handle or mapped view of it is open in
// any process, and vanishes with the last one, also when the processes holding it are
// killed (kill -9). A later Create makes a fresh object; a later Open fails with
// ERROR_FILE_NOT_FOUND. Create of an existing object returns a handle to it and sets
// ERROR_ALREADY_EXISTS (a new object sets 0); Create or Open of a name that another kind of
// object holds fails with ERROR_INVALID_HANDLE. Every call is safe from any thread.
#pragma once

#include "pal/base.h"

// ---- Access rights and constants ---------------------------------------------------------------

#ifndef SYNCHRONIZE
#define SYNCHRONIZE 0x00100000L
#endif
#ifndef DELETE
#define DELETE 0x00010000L
#endif
#ifndef READ_CONTROL
#define READ_CONTROL 0x00020000L
#endif
#ifndef WRITE_DAC
#define WRITE_DAC 0x00040000L
#endif
#ifndef WRITE_OWNER
#define WRITE_OWNER 0x00080000L
#endif
#ifndef STANDARD_RIGHTS_REQUIRED
#define STANDARD_RIGHTS_REQUIRED 0x000F0000L
#endif

#define MUTEX_MODIFY_STATE 0x0001
#define MUTEX_ALL_ACCESS 0x1F0001
#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS 0x1F0003

#define SECTION_QUERY 0x0001
#define SECTION_MAP_WRITE 0x0002
#define SECTION_MAP_READ 0x0004
#define SECTION_MAP_EXECUTE 0x0008
#define SECTION_EXTEND_SIZE 0x0010
#define SECTION_ALL_ACCESS 0xF001F
#define FILE_MAP_COPY 0x0001
#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define FILE_MAP_ALL_ACCESS SECTION_ALL_ACCESS

#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define SEC_COMMIT 0x08000000

#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_ABANDONED_0 0x00000080L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define MAXIMUM_WAIT_OBJECTS 64

#ifndef ERROR_INVALID_ADDRESS
#define ERROR_INVALID_ADDRESS 487L
#endif
#ifndef ERROR_UNKNOWN_REVISION
#define ERROR_UNKNOWN_REVISION 1305L
#endif
#ifndef ERROR_INVALID_SECURITY_DESCR
#define ERROR_INVALID_SECURITY_DESCR 1338L
#endif

// ---- Security descriptors --------------------------------------------------------------------

#define SECURITY_DESCRIPTOR_REVISION 1
#define SECURITY_DESCRIPTOR_REVISION1 1
#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
#define OWNER_SECURITY_INFORMATION 0x00000001L
#define GROUP_SECURITY_INFORMATION 0x00000002L
#define DACL_SECURITY_INFORMATION 0x00000004L
#define SACL_SECURITY_INFORMATION 0x00000008L

typedef WORD SECURITY_DESCRIPTOR_CONTROL;
typedef PVOID PSID;

typedef struct _ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
} ACL, *PACL;

typedef struct _SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
} SECURITY_DESCRIPTOR, *PISECURITY_DESCRIPTOR;
typedef PVOID PSECURITY_DESCRIPTOR;
typedef SECURITY_DESCRIPTOR_CONTROL* PSECURITY_DESCRIPTOR_CONTROL;

// Fills an empty descriptor (no DACL). Fails with ERROR_UNKNOWN_REVISION for a revision
// other than 1.
BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);
// Records the DACL in the descriptor. A present NULL DACL grants every account full access.
BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                                      PACL pDacl, BOOL bDaclDefaulted);
// Applies the descriptor's DACL to a mutex, event or section (DACL_SECURITY_INFORMATION;
// other bits are accepted and ignored). Differs from Windows: ACL entries are not
// interpreted. A NULL (or absent) DACL opens the object to every account of the host; any
// other DACL narrows it to the account that created it, which is also the default for an
// object created without a descriptor.
BOOL WINAPI SetKernelObjectSecurity(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                    PSECURITY_DESCRIPTOR SecurityDescriptor);

// ---- Mutexes -----------------------------------------------------------------------------------

// A mutex is owned by a thread, recursively: each successful wait by the owner must be
// matched by a ReleaseMutex. With bInitialOwner, a newly created mutex is owned by the
// caller (an existing one is not). When the owning thread or its process ends while it
// owns the mutex, the mutex is abandoned: the next wait returns WAIT_ABANDONED and owns it.
// Differs from Windows: a mutex abandoned by a thread whose process goes on running stays in
// existence until that process ends or closes its handles.
HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
// Fails with ERROR_NOT_OWNER unless the calling thread owns the mutex.
BOOL WINAPI ReleaseMutex(HANDLE hMutex);

// ---- Events ------------------------------------------------------------------------------------

// An auto-reset event releases exactly one waiter per SetEvent and resets itself; if nobody
// waits it stays signalled until one wait consumes it. A manual-reset event releases every
// waiter and stays signalled until ResetEvent. SetEvent and ResetEvent need
// EVENT_MODIFY_STATE, waits SYNCHRONIZE (ERROR_ACCESS_DENIED otherwise).
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCWSTR lpName);
HANDLE WINAPI OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
BOOL WINAPI SetEvent(HANDLE hEvent);
BOOL WINAPI ResetEvent(HANDLE hEvent);

// ---- Sections ----------------------------------------------------------------------------------

// Page-file sections only: hFile must be INVALID_HANDLE_VALUE (a file handle fails with
// ERROR_NOT_SUPPORTED). flProtect is PAGE_READWRITE or PAGE_READONLY; the size must not be
// 0 (ERROR_INVALID_PARAMETER). A new section is zero-filled. An existing section keeps its
// size.
HANDLE WINAPI CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                                 DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName);
HANDLE WINAPI OpenFileMappingW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
// Maps the section from the offset (a multiple of 65536) for the given length (0: to its
// end). FILE_MAP_WRITE needs a handle with write access and a PAGE_READWRITE section, any
// view needs read or write access (ERROR_ACCESS_DENIED); a range beyond the section fails
// with ERROR_ACCESS_DENIED. The view keeps the section alive until UnmapViewOfFile, also
// after its handle is closed. Differs from Windows: all views of one section in one process
// share one address (each MapViewOfFile still needs its own UnmapViewOfFile), and a view
// asked for reading only is writable.
LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
// Fails with ERROR_INVALID_ADDRESS for an address MapViewOfFile did not return.
BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress);

// ---- Waits -------------------------------------------------------------------------------------

// Waits for any waitable handle (mutex, event, process, thread) up to dwMilliseconds
// (INFINITE: no limit). Returns WAIT_OBJECT_0, WAIT_ABANDONED (an abandoned mutex, now owned),
// WAIT_TIMEOUT, or WAIT_FAILED with the last error (ERROR_INVALID_HANDLE for a closed or
// unwaitable handle).
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// Waits until one of the handles is signalled and returns WAIT_OBJECT_0 + its index (or
// WAIT_ABANDONED_0 + index), the lowest index when several are. Differs from Windows:
// bWaitAll is supported only for a single handle (ERROR_NOT_SUPPORTED otherwise), and the
// wait polls with a period of at most a few milliseconds.
DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds);

#define CreateMutex CreateMutexW
#define OpenMutex OpenMutexW
#define CreateEvent CreateEventW
#define OpenEvent OpenEventW
#define CreateFileMapping CreateFileMappingW
#define OpenFileMapping OpenFileMappingW
