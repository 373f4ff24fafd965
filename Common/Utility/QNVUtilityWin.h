// The common utility library: error codes, the diagnostic trace and its check conventions,
// the install-path table, and the language and identifier helpers.
#pragma once

#include <windows.h>

// Results of the library operations: 0 is success, failures are negative.
#define QNVERROR_NO_ERROR 0
#define QNVERROR_INVALID_PARAM (-1004)  // bad or missing argument, invalid path index
#define QNVERROR_COM_FAILED (-1005)     // COM or the Task Scheduler could not be initialised
#define QNVERROR_EXEC_FAILED (-1017)    // archiver engine missing or child process not started
#define QNVERROR_FAILED (-1999)         // any other failure, also a caught exception

// ---------------------------------------------------------------------------------------
// Diagnostic trace

// Every trace line begins with this tag; the logger drops lines without it.
#define QNV_TRACE_TAG L"[QNV]"
// Level of every trace line of the library (the logger's "ERR").
#define QNV_TRACE_LEVEL 1
// Capacity, in wide characters with the terminator, of every trace line.
#define QNV_TRACE_CAPACITY 512

// Formats a wide printf-style line into `capacity` characters and posts it with `level` (low
// byte) through the process's log channel writer. Returns the characters formatted without
// the terminator; -1 when the line was cut to fit (it is still sent, without whatever was
// cut, its line feed included) or could not be formatted; 0, sending nothing, when `format`
// is null, `capacity` is not positive or the buffer cannot be allocated.
int QNVUtilTrace(int level, int capacity, const wchar_t* format, ...);

// Formats a wide printf-style message into a new buffer of 512 wide characters, cut to fit.
// The caller frees it with free(). Null when `format` is null or allocation fails.
wchar_t* QNVUtilFormatAlloc(const wchar_t* format, ...);

// The part of a source path after its last folder separator (backslash, or slash where
// the compiler writes paths with slashes); the whole path when it has none.
const wchar_t* QNVUtilSourceFileName(const wchar_t* in_pszSourcePath);

#define QNV_WIDEN_(x) L##x
#define QNV_WIDEN(x) QNV_WIDEN_(x)

// The three trace line forms. Callers use the checks below; the message form is written by
// operations that report a rejected argument in their own words.
#define QNV_TRACE_BAIL_LINE(conditionText)                                                     \
  QNVUtilTrace(QNV_TRACE_LEVEL, QNV_TRACE_CAPACITY, L"%s%s(%d)\t%s\t%s\n", QNV_TRACE_TAG,       \
               QNVUtilSourceFileName(QNV_WIDEN(__FILE__)), __LINE__, conditionText, L"bail")
#define QNV_TRACE_CODE_LINE(conditionText, code)                                               \
  QNVUtilTrace(QNV_TRACE_LEVEL, QNV_TRACE_CAPACITY, L"%s%s(%d)\t%s\t%d\n", QNV_TRACE_TAG,       \
               QNVUtilSourceFileName(QNV_WIDEN(__FILE__)), __LINE__, conditionText, (int)(code))
#define QNV_TRACE_MESSAGE_LINE(operationName, messageText)                                     \
  QNVUtilTrace(QNV_TRACE_LEVEL, QNV_TRACE_CAPACITY, L"%s%s(%d)\t%s\t%s\n", QNV_TRACE_TAG,       \
               QNVUtilSourceFileName(QNV_WIDEN(__FILE__)), __LINE__, operationName, messageText)

// Bail convention: when `condition` is false, traces the condition's source text with
// "bail" and jumps to the label QNV_BAIL_EXIT, the operation's common exit, which returns
// the error code current at that point. Declare the operation's locals before the first
// check (the jump may not cross an initialisation).
#define QNV_CHECK_BAIL(condition)                       \
  do {                                                  \
    if (!(condition)) {                                 \
      QNV_TRACE_BAIL_LINE(QNV_WIDEN(#condition));       \
      goto QNV_BAIL_EXIT;                               \
    }                                                   \
  } while (0)

// Throw convention: when `condition` is false, traces the condition's source text with
// `code` and throws `code` as an int, which the operation containing the check catches and
// returns as its result.
#define QNV_CHECK_THROW(condition, code)                  \
  do {                                                    \
    if (!(condition)) {                                   \
      const int nQnvThrowCode_ = (code);                  \
      QNV_TRACE_CODE_LINE(QNV_WIDEN(#condition), nQnvThrowCode_); \
      throw nQnvThrowCode_;                               \
    }                                                     \
  } while (0)

// ---------------------------------------------------------------------------------------
// Install-path table

// Folder types of the table.
#define QNV_FOLDER_INSTALL 1  // below the 32-bit program-files folder
#define QNV_FOLDER_DATA 2     // below the common application-data folder
// Platform selector value for the x86 build (every other value selects x64).
#define QNV_PLATFORM_X86 2
// Capacity, in wide characters, that callers provide for a path from the table.
#define QNV_MODULE_PATH_CAPACITY 1024

// Writes the path of `in_nPathId` (1 to 17, 2 unassigned) into `out_pszPath`, which holds
// 1024 wide characters. Returns QNVERROR_NO_ERROR; QNVERROR_INVALID_PARAM for an index not
// in the table (with one trace line) or a null output; QNVERROR_FAILED when a base folder
// cannot be looked up, or `in_nFolderType` is not the index's folder type, or `in_bRequest`
// is false. The output is untouched on failure. Nothing is created or cached.
int QNVUtilGetModulePathForSDK(int in_nPathId, int in_nPlatform, int in_nFolderType, bool in_bRequest,
                               wchar_t* out_pszPath);

// Writes the install base folder (the program-files folder of 32-bit programs) into
// `out_pszPath`, which holds at least 260 wide characters. QNVERROR_NO_ERROR, or
// QNVERROR_FAILED when the folder cannot be looked up.
int QNVUtilGetProgramFilesFolder(wchar_t* out_pszPath);

// ---------------------------------------------------------------------------------------
// Language and identifier helpers

// Language id of a code of the table ("en" 9, "zh-TW" 1028...; exact, case-sensitive match).
// `*out_pnLangId` is set to 0 first. QNVERROR_INVALID_PARAM (with a bail trace) for a null
// code, or (without trace) a null output; QNVERROR_FAILED for an unknown code.
int QNVUtilLangCodeToLangId(const wchar_t* in_strLangCode, int* out_pnLangId);

// Capacity of the culture-name buffer.
#define QNV_CULTURE_NAME_CAPACITY 16
// Copies the culture name of a language id ("ja-JP", "en-US", "en"...) into `out_pszName`
// (16 wide characters). QNVERROR_FAILED, output untouched, for an id without a name;
// QNVERROR_INVALID_PARAM for a null output.
int QNVUtilLangIdToCultureName(DWORD in_nLangId, wchar_t* out_pszName);

// Region group (1 to 12) of a nation GeoID, 0 when the GeoID is not listed.
int QNVUtilGetRegionGroup(int in_nGeoId);

#define QNV_USER_REGION_RECORD_TYPE 0x40000
typedef struct _QNV_USER_REGION {
  INT nRecordType;   // always QNV_USER_REGION_RECORD_TYPE
  INT nGeoId;        // the user's nation GeoID
  INT nRegionGroup;  // its region group, 0 when not listed
} QNV_USER_REGION;

// Fills `out_pstRegion` for the current user. QNVERROR_NO_ERROR; QNVERROR_INVALID_PARAM
// for a null output.
int QNVUtilGetUserRegion(QNV_USER_REGION* out_pstRegion);

// Writes a new UUID in its 36-character lower-case text form (32 hexadecimal digits when
// `in_bNoHyphen`), cut to `in_nSize` - 1 characters and terminated. QNVERROR_INVALID_PARAM
// for a null buffer or a size below 1; QNVERROR_FAILED when building the text failed.
int QNVUtilCreateUuidString(wchar_t* out_pszUuid, int in_nSize, bool in_bNoHyphen);

// True when the file can be opened for reading while any other process may read and write
// it; the file is closed again at once.
bool QNVUtilIsFileReadable(const wchar_t* in_pszPath);
