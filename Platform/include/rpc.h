// RPC run-time UUID calls, backed by libuuid.
#pragma once

#include <windows.h>

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} GUID;
#endif
#ifndef UUID_DEFINED
#define UUID_DEFINED
typedef GUID UUID;
#endif

typedef LONG RPC_STATUS;
typedef wchar_t* RPC_WSTR;
typedef unsigned char* RPC_CSTR;

#define RPC_S_OK 0L
#define RPC_S_OUT_OF_MEMORY 14L
#define RPC_S_UUID_LOCAL_ONLY 1824L
#define RPC_S_INVALID_ARG 87L

#ifndef RPC_C_AUTHN_LEVEL_DEFAULT
#define RPC_C_AUTHN_LEVEL_DEFAULT 0
#define RPC_C_AUTHN_LEVEL_NONE 1
#define RPC_C_AUTHN_LEVEL_CONNECT 2
#define RPC_C_AUTHN_LEVEL_CALL 3
#define RPC_C_AUTHN_LEVEL_PKT 4
#define RPC_C_AUTHN_LEVEL_PKT_INTEGRITY 5
#define RPC_C_AUTHN_LEVEL_PKT_PRIVACY 6
#endif
#ifndef RPC_C_IMP_LEVEL_DEFAULT
#define RPC_C_IMP_LEVEL_DEFAULT 0
#define RPC_C_IMP_LEVEL_ANONYMOUS 1
#define RPC_C_IMP_LEVEL_IDENTIFY 2
#define RPC_C_IMP_LEVEL_IMPERSONATE 3
#define RPC_C_IMP_LEVEL_DELEGATE 4
#endif

// A new random (version 4) UUID; RPC_S_OK.
RPC_STATUS WINAPI UuidCreate(UUID* Uuid);
// The 36-character text form in lower case ("xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"), as
// Windows writes it, in a new string freed with RpcStringFree.
RPC_STATUS WINAPI UuidToStringW(const UUID* Uuid, RPC_WSTR* StringUuid);
RPC_STATUS WINAPI UuidToStringA(const UUID* Uuid, RPC_CSTR* StringUuid);
// Parses that form (either case); RPC_S_INVALID_STRING_UUID for anything else.
#define RPC_S_INVALID_STRING_UUID 1705L
RPC_STATUS WINAPI UuidFromStringW(RPC_WSTR StringUuid, UUID* Uuid);
// Frees the string and sets *String to NULL.
RPC_STATUS WINAPI RpcStringFreeW(RPC_WSTR* String);
RPC_STATUS WINAPI RpcStringFreeA(RPC_CSTR* String);
