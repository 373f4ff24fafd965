// 7za.exe for Windows test trees: a small console archiver that understands the two command
// lines the data archiver issues, with 7-Zip's meanings and exit codes:
//
//   7za.exe a -tzip "<archive>.zip" "<file>"...   add files (stored, CRC-32), creating the archive
//                                                when missing, replacing an entry of the same name
//   7za.exe x "<archive>.zip" -y -o"<folder>"     extract with full paths, overwriting
//
// Exit codes: 0 done; 1 warning (a file to add could not be opened: the archive is still written,
// without it, as 7-Zip does); 2 fatal error (archive unreadable or unwritable, unsupported entry,
// CRC mismatch, unsafe entry name); 7 command-line error; 8 out of memory.
//
// The archive is written to "<archive>.tmp" and renamed over the old one only when complete, so a
// run that is killed never leaves a torn archive behind. Files to add are opened with read sharing
// only, as 7-Zip does: a file another process has open for writing is not archived (warning).
// Only stored entries are extracted; deflated entries of an existing archive are kept as they are
// when adding. No Zip64: files and archives stay below 4 GiB and 65,535 entries.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>

#include <new>
#include <string>
#include <vector>

namespace {

enum ExitCode : int { kOk = 0, kWarning = 1, kFatal = 2, kCommandLine = 7, kOutOfMemory = 8 };

const uint32_t kLocalHeaderSignature = 0x04034b50;
const uint32_t kCentralHeaderSignature = 0x02014b50;
const uint32_t kEndSignature = 0x06054b50;
const size_t kLocalHeaderSize = 30;
const size_t kCentralHeaderSize = 46;
const size_t kEndSize = 22;
const uint16_t kFlagEncrypted = 0x0001;
const uint16_t kFlagDataDescriptor = 0x0008;
const uint16_t kFlagUtf8 = 0x0800;
const uint16_t kMethodStored = 0;
const uint16_t kVersionStored = 10;
const uint32_t kMaxZipSize = 0xFFFFFFFEu;  // 0xFFFFFFFF would announce Zip64
const size_t kMaxEntries = 0xFFFE;
const DWORD kChunk = 64 * 1024;

// A failure that ends the run with a fatal error; the message is printed once, by wmain.
struct Fatal {
  std::wstring message;
};

std::wstring SystemMessage(DWORD dwError) {
  wchar_t* pszBuffer = nullptr;
  DWORD dwLength = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, dwError, 0, reinterpret_cast<wchar_t*>(&pszBuffer), 0, nullptr);
  std::wstring strMessage;
  if (dwLength > 0 && pszBuffer != nullptr) strMessage.assign(pszBuffer, dwLength);
  if (pszBuffer != nullptr) LocalFree(pszBuffer);
  while (!strMessage.empty() && (strMessage.back() == L'\n' || strMessage.back() == L'\r' || strMessage.back() == L' '))
    strMessage.pop_back();
  if (strMessage.empty()) strMessage = L"error " + std::to_wstring(dwError);
  return strMessage;
}

[[noreturn]] void ThrowSystem(const std::wstring& strWhat, const std::wstring& strPath) {
  throw Fatal{SystemMessage(GetLastError()) + L" : " + strWhat + L" : " + strPath};
}

uint32_t Crc32Update(uint32_t nCrc, const unsigned char* pData, size_t nLength) {
  static uint32_t s_table[256];
  static bool s_bReady = false;
  if (!s_bReady) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      s_table[i] = c;
    }
    s_bReady = true;
  }
  nCrc = ~nCrc;
  for (size_t i = 0; i < nLength; ++i) nCrc = s_table[(nCrc ^ pData[i]) & 0xFF] ^ (nCrc >> 8);
  return ~nCrc;
}

// An open file; closed on every path out.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  bool Open(const std::wstring& strPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition) {
    Close();
    m_hFile = CreateFileW(strPath.c_str(), dwAccess, dwShare, nullptr, dwDisposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_strPath = strPath;
    return m_hFile != INVALID_HANDLE_VALUE;
  }
  void Close() {
    if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
  }
  HANDLE Handle() const { return m_hFile; }

  uint64_t Size() const {
    LARGE_INTEGER liSize;
    if (!GetFileSizeEx(m_hFile, &liSize)) ThrowSystem(L"size", m_strPath);
    return static_cast<uint64_t>(liSize.QuadPart);
  }
  uint64_t Tell() const {
    LARGE_INTEGER liZero = {}, liPosition;
    if (!SetFilePointerEx(m_hFile, liZero, &liPosition, FILE_CURRENT)) ThrowSystem(L"seek", m_strPath);
    return static_cast<uint64_t>(liPosition.QuadPart);
  }
  void Seek(uint64_t nOffset) {
    LARGE_INTEGER liOffset;
    liOffset.QuadPart = static_cast<LONGLONG>(nOffset);
    if (!SetFilePointerEx(m_hFile, liOffset, nullptr, FILE_BEGIN)) ThrowSystem(L"seek", m_strPath);
  }
  // Reads up to nLength bytes; fewer only at the end of the file.
  DWORD ReadSome(void* pBuffer, DWORD nLength) {
    DWORD dwRead = 0;
    if (!ReadFile(m_hFile, pBuffer, nLength, &dwRead, nullptr)) ThrowSystem(L"read", m_strPath);
    return dwRead;
  }
  void ReadExact(void* pBuffer, size_t nLength) {
    unsigned char* p = static_cast<unsigned char*>(pBuffer);
    while (nLength > 0) {
      DWORD dwRead = ReadSome(p, static_cast<DWORD>(nLength < kChunk ? nLength : kChunk));
      if (dwRead == 0) throw Fatal{L"Unexpected end of archive : " + m_strPath};
      p += dwRead;
      nLength -= dwRead;
    }
  }
  void Write(const void* pBuffer, size_t nLength) {
    const unsigned char* p = static_cast<const unsigned char*>(pBuffer);
    while (nLength > 0) {
      DWORD dwWritten = 0;
      DWORD dwPart = static_cast<DWORD>(nLength < kChunk ? nLength : kChunk);
      if (!WriteFile(m_hFile, p, dwPart, &dwWritten, nullptr) || dwWritten == 0) ThrowSystem(L"write", m_strPath);
      p += dwWritten;
      nLength -= dwWritten;
    }
  }

 private:
  HANDLE m_hFile = INVALID_HANDLE_VALUE;
  std::wstring m_strPath;
};

// Little-endian field access.
uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(std::string& out, uint16_t n) {
  out += static_cast<char>(n & 0xFF);
  out += static_cast<char>(n >> 8);
}
void Put32(std::string& out, uint32_t n) {
  Put16(out, static_cast<uint16_t>(n & 0xFFFF));
  Put16(out, static_cast<uint16_t>(n >> 16));
}

std::wstring Decode(const std::string& strRaw, UINT nCodePage) {
  if (strRaw.empty()) return std::wstring();
  int nLength = MultiByteToWideChar(nCodePage, 0, strRaw.data(), static_cast<int>(strRaw.size()), nullptr, 0);
  std::wstring strWide(static_cast<size_t>(nLength > 0 ? nLength : 0), L'\0');
  if (nLength > 0)
    MultiByteToWideChar(nCodePage, 0, strRaw.data(), static_cast<int>(strRaw.size()), &strWide[0], nLength);
  return strWide;
}

std::string EncodeUtf8(const std::wstring& strWide) {
  if (strWide.empty()) return std::string();
  int nLength = WideCharToMultiByte(CP_UTF8, 0, strWide.data(), static_cast<int>(strWide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string strRaw(static_cast<size_t>(nLength > 0 ? nLength : 0), '\0');
  if (nLength > 0)
    WideCharToMultiByte(CP_UTF8, 0, strWide.data(), static_cast<int>(strWide.size()), &strRaw[0], nLength, nullptr,
                        nullptr);
  return strRaw;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// One archive member: what the central directory says about it, and where its bytes are.
struct Entry {
  std::string strRawName;
  std::wstring strName;
  uint16_t nVersionMadeBy = kVersionStored;
  uint16_t nVersionNeeded = kVersionStored;
  uint16_t nFlags = 0;
  uint16_t nMethod = kMethodStored;
  uint16_t nTime = 0;
  uint16_t nDate = 0;
  uint32_t nCrc = 0;
  uint32_t nCompressedSize = 0;
  uint32_t nSize = 0;
  uint16_t nInternalAttributes = 0;
  uint32_t nExternalAttributes = 0;
  std::string strExtra;
  std::string strComment;
  uint64_t nDataOffset = 0;    // in the archive it was read from
  uint32_t nLocalOffset = 0;   // in the archive being written
  std::wstring strSourcePath;  // set for a file to add
};

std::string LocalHeader(const Entry& entry) {
  std::string out;
  Put32(out, kLocalHeaderSignature);
  Put16(out, entry.nVersionNeeded);
  Put16(out, entry.nFlags);
  Put16(out, entry.nMethod);
  Put16(out, entry.nTime);
  Put16(out, entry.nDate);
  Put32(out, entry.nCrc);
  Put32(out, entry.nCompressedSize);
  Put32(out, entry.nSize);
  Put16(out, static_cast<uint16_t>(entry.strRawName.size()));
  Put16(out, 0);
  out += entry.strRawName;
  return out;
}

std::string CentralHeader(const Entry& entry) {
  std::string out;
  Put32(out, kCentralHeaderSignature);
  Put16(out, entry.nVersionMadeBy);
  Put16(out, entry.nVersionNeeded);
  Put16(out, entry.nFlags);
  Put16(out, entry.nMethod);
  Put16(out, entry.nTime);
  Put16(out, entry.nDate);
  Put32(out, entry.nCrc);
  Put32(out, entry.nCompressedSize);
  Put32(out, entry.nSize);
  Put16(out, static_cast<uint16_t>(entry.strRawName.size()));
  Put16(out, static_cast<uint16_t>(entry.strExtra.size()));
  Put16(out, static_cast<uint16_t>(entry.strComment.size()));
  Put16(out, 0);  // disk
  Put16(out, entry.nInternalAttributes);
  Put32(out, entry.nExternalAttributes);
  Put32(out, entry.nLocalOffset);
  out += entry.strRawName;
  out += entry.strExtra;
  out += entry.strComment;
  return out;
}

// Reads the central directory of an open archive. Anything that does not add up is fatal,
// so that an archive is never rewritten from a misread one.
std::vector<Entry> ReadDirectory(File& archive, const std::wstring& strPath) {
  const uint64_t nFileSize = archive.Size();
  const auto NotAnArchive = [&]() { return Fatal{L"Can not open the file as archive : " + strPath}; };
  if (nFileSize < kEndSize || nFileSize > kMaxZipSize) throw NotAnArchive();

  const uint64_t nTail = nFileSize < kEndSize + 0xFFFF ? nFileSize : kEndSize + 0xFFFF;
  std::vector<unsigned char> tail(static_cast<size_t>(nTail));
  archive.Seek(nFileSize - nTail);
  archive.ReadExact(tail.data(), tail.size());
  size_t nEnd = SIZE_MAX;
  for (size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
    if (Get32(&tail[i]) == kEndSignature && i + kEndSize + Get16(&tail[i + 20]) == tail.size()) {
      nEnd = i;
      break;
    }
  }
  if (nEnd == SIZE_MAX) throw NotAnArchive();
  const unsigned char* pEnd = &tail[nEnd];
  const uint16_t nDisk = Get16(pEnd + 4), nDirectoryDisk = Get16(pEnd + 6);
  const uint16_t nEntriesHere = Get16(pEnd + 8), nEntries = Get16(pEnd + 10);
  const uint32_t nDirectorySize = Get32(pEnd + 12), nDirectoryOffset = Get32(pEnd + 16);
  const uint64_t nEndOffset = nFileSize - nTail + nEnd;
  if (nDisk != 0 || nDirectoryDisk != 0 || nEntriesHere != nEntries) throw NotAnArchive();
  if (nEntries == 0xFFFF || nDirectoryOffset == 0xFFFFFFFFu)
    throw Fatal{L"Zip64 archives are not supported : " + strPath};
  if (static_cast<uint64_t>(nDirectoryOffset) + nDirectorySize != nEndOffset) throw NotAnArchive();

  std::vector<unsigned char> directory(nDirectorySize);
  archive.Seek(nDirectoryOffset);
  archive.ReadExact(directory.data(), directory.size());

  std::vector<Entry> entries;
  size_t nPos = 0;
  for (uint16_t n = 0; n < nEntries; ++n) {
    if (nPos + kCentralHeaderSize > directory.size()) throw NotAnArchive();
    const unsigned char* p = &directory[nPos];
    if (Get32(p) != kCentralHeaderSignature) throw NotAnArchive();
    Entry entry;
    entry.nVersionMadeBy = Get16(p + 4);
    entry.nVersionNeeded = Get16(p + 6);
    entry.nFlags = Get16(p + 8);
    entry.nMethod = Get16(p + 10);
    entry.nTime = Get16(p + 12);
    entry.nDate = Get16(p + 14);
    entry.nCrc = Get32(p + 16);
    entry.nCompressedSize = Get32(p + 20);
    entry.nSize = Get32(p + 24);
    const size_t nNameLength = Get16(p + 28), nExtraLength = Get16(p + 30), nCommentLength = Get16(p + 32);
    entry.nInternalAttributes = Get16(p + 36);
    entry.nExternalAttributes = Get32(p + 38);
    const uint32_t nLocalOffset = Get32(p + 42);
    if (nPos + kCentralHeaderSize + nNameLength + nExtraLength + nCommentLength > directory.size())
      throw NotAnArchive();
    const char* pVariable = reinterpret_cast<const char*>(p + kCentralHeaderSize);
    entry.strRawName.assign(pVariable, nNameLength);
    entry.strExtra.assign(pVariable + nNameLength, nExtraLength);
    entry.strComment.assign(pVariable + nNameLength + nExtraLength, nCommentLength);
    entry.strName = Decode(entry.strRawName, (entry.nFlags & kFlagUtf8) ? CP_UTF8 : CP_OEMCP);
    nPos += kCentralHeaderSize + nNameLength + nExtraLength + nCommentLength;
    if (entry.nCompressedSize == 0xFFFFFFFFu || entry.nSize == 0xFFFFFFFFu || nLocalOffset == 0xFFFFFFFFu)
      throw Fatal{L"Zip64 archives are not supported : " + strPath};

    // The data begins after the local header, whose own name and extra lengths count.
    unsigned char local[kLocalHeaderSize];
    if (static_cast<uint64_t>(nLocalOffset) + kLocalHeaderSize > nDirectoryOffset) throw NotAnArchive();
    archive.Seek(nLocalOffset);
    archive.ReadExact(local, sizeof(local));
    if (Get32(local) != kLocalHeaderSignature) throw NotAnArchive();
    entry.nDataOffset = static_cast<uint64_t>(nLocalOffset) + kLocalHeaderSize + Get16(local + 26) + Get16(local + 28);
    if (entry.nDataOffset + entry.nCompressedSize > nDirectoryOffset) throw NotAnArchive();
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The name a file is stored under: its last path component, as 7-Zip stores a file given by
// a full path.
std::wstring StoredName(const std::wstring& strPath) {
  size_t nSlash = strPath.find_last_of(L"\\/:");
  return nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1);
}

void CopyBytes(File& from, uint64_t nOffset, uint32_t nLength, File& to) {
  std::vector<unsigned char> buffer(kChunk);
  from.Seek(nOffset);
  while (nLength > 0) {
    DWORD dwPart = nLength < kChunk ? nLength : kChunk;
    from.ReadExact(buffer.data(), dwPart);
    to.Write(buffer.data(), dwPart);
    nLength -= dwPart;
  }
}

// Appends a file to add as a stored entry: header with placeholders, the bytes with their
// CRC, then the header again with the real values. Returns false (with a warning printed)
// when the file cannot be opened.
bool WriteNewEntry(Entry& entry, File& out, const std::wstring& strArchivePath) {
  File source;
  if (!source.Open(entry.strSourcePath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)) {
    fwprintf(stderr, L"WARNING: %ls : %ls\n", SystemMessage(GetLastError()).c_str(), entry.strSourcePath.c_str());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(source.Handle(), &info)) ThrowSystem(L"stat", entry.strSourcePath);
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    throw Fatal{L"Folders cannot be added by this archiver : " + entry.strSourcePath};
  FILETIME ftLocal;
  FileTimeToLocalFileTime(&info.ftLastWriteTime, &ftLocal);
  FileTimeToDosDateTime(&ftLocal, &entry.nDate, &entry.nTime);
  entry.nExternalAttributes = info.dwFileAttributes & 0xFF;

  const uint64_t nHeaderOffset = out.Tell();
  if (nHeaderOffset > kMaxZipSize) throw Fatal{L"The archive would exceed 4 GiB : " + strArchivePath};
  entry.nLocalOffset = static_cast<uint32_t>(nHeaderOffset);
  out.Write(LocalHeader(entry).data(), kLocalHeaderSize + entry.strRawName.size());

  std::vector<unsigned char> buffer(kChunk);
  uint64_t nTotal = 0;
  uint32_t nCrc = 0;
  for (;;) {
    DWORD dwRead = source.ReadSome(buffer.data(), kChunk);
    if (dwRead == 0) break;
    nTotal += dwRead;
    if (nTotal > kMaxZipSize) throw Fatal{L"Files of 4 GiB and more are not supported : " + entry.strSourcePath};
    nCrc = Crc32Update(nCrc, buffer.data(), dwRead);
    out.Write(buffer.data(), dwRead);
  }
  entry.nCrc = nCrc;
  entry.nSize = entry.nCompressedSize = static_cast<uint32_t>(nTotal);

  const uint64_t nEnd = out.Tell();
  out.Seek(nHeaderOffset);
  out.Write(LocalHeader(entry).data(), kLocalHeaderSize);
  out.Seek(nEnd);
  return true;
}

int AddToArchive(const std::wstring& strArchivePath, const std::vector<std::wstring>& files) {
  std::vector<Entry> entries;
  {
    File archive;
    if (archive.Open(strArchivePath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)) {
      entries = ReadDirectory(archive, strArchivePath);
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
      ThrowSystem(L"open", strArchivePath);
    }
  }

  // Later arguments with an already listed name replace it in place, as an update does.
  std::vector<Entry> added;
  for (const std::wstring& strFile : files) {
    Entry entry;
    entry.strSourcePath = strFile;
    entry.strName = StoredName(strFile);
    if (entry.strName.empty()) throw Fatal{L"No file name in : " + strFile};
    entry.strRawName = EncodeUtf8(entry.strName);
    for (wchar_t c : entry.strName)
      if (c > 0x7F) entry.nFlags |= kFlagUtf8;
    entry.nVersionMadeBy = kVersionStored;  // host 0: MS-DOS attributes
    added.push_back(std::move(entry));
  }

  const std::wstring strTempPath = strArchivePath + L".tmp";
  int nResult = kOk;
  try {
    File archive;
    if (!entries.empty() && !archive.Open(strArchivePath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING))
      ThrowSystem(L"open", strArchivePath);
    File out;
    if (!out.Open(strTempPath, GENERIC_WRITE, 0, CREATE_ALWAYS)) ThrowSystem(L"create", strTempPath);

    std::vector<Entry> written;
    for (Entry& entry : entries) {
      bool bReplaced = false;
      for (const Entry& other : added) bReplaced = bReplaced || SameName(other.strName, entry.strName);
      if (bReplaced) continue;
      // The copy gets a header with the directory's sizes, so a data descriptor is not needed.
      const uint64_t nOffset = out.Tell();
      if (nOffset > kMaxZipSize) throw Fatal{L"The archive would exceed 4 GiB : " + strArchivePath};
      entry.nLocalOffset = static_cast<uint32_t>(nOffset);
      entry.nFlags &= static_cast<uint16_t>(~kFlagDataDescriptor);
      const std::string strHeader = LocalHeader(entry);
      out.Write(strHeader.data(), strHeader.size());
      CopyBytes(archive, entry.nDataOffset, entry.nCompressedSize, out);
      written.push_back(entry);
    }
    for (size_t i = 0; i < added.size(); ++i) {
      bool bLaterSame = false;
      for (size_t j = i + 1; j < added.size(); ++j) bLaterSame = bLaterSame || SameName(added[i].strName, added[j].strName);
      if (bLaterSame) continue;
      if (WriteNewEntry(added[i], out, strArchivePath)) {
        written.push_back(added[i]);
      } else {
        nResult = kWarning;
      }
    }
    if (written.size() > kMaxEntries) throw Fatal{L"Too many entries for one archive : " + strArchivePath};

    const uint64_t nDirectoryOffset = out.Tell();
    std::string strDirectory;
    for (const Entry& entry : written) strDirectory += CentralHeader(entry);
    if (nDirectoryOffset + strDirectory.size() + kEndSize > kMaxZipSize)
      throw Fatal{L"The archive would exceed 4 GiB : " + strArchivePath};
    std::string strEnd;
    Put32(strEnd, kEndSignature);
    Put16(strEnd, 0);
    Put16(strEnd, 0);
    Put16(strEnd, static_cast<uint16_t>(written.size()));
    Put16(strEnd, static_cast<uint16_t>(written.size()));
    Put32(strEnd, static_cast<uint32_t>(strDirectory.size()));
    Put32(strEnd, static_cast<uint32_t>(nDirectoryOffset));
    Put16(strEnd, 0);
    out.Write(strDirectory.data(), strDirectory.size());
    out.Write(strEnd.data(), strEnd.size());
    if (!FlushFileBuffers(out.Handle())) ThrowSystem(L"flush", strTempPath);
    out.Close();
    archive.Close();
    if (!MoveFileExW(strTempPath.c_str(), strArchivePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      ThrowSystem(L"rename", strArchivePath);
  } catch (...) {
    DeleteFileW(strTempPath.c_str());
    throw;
  }
  return nResult;
}

void MakeFolders(const std::wstring& strFolder) {
  if (strFolder.empty()) return;
  DWORD dwAttributes = GetFileAttributesW(strFolder.c_str());
  if (dwAttributes != INVALID_FILE_ATTRIBUTES) {
    if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
    throw Fatal{L"A file stands where a folder is needed : " + strFolder};
  }
  size_t nSlash = strFolder.find_last_of(L'\\');
  if (nSlash != std::wstring::npos && nSlash > 0 && strFolder[nSlash - 1] != L':')
    MakeFolders(strFolder.substr(0, nSlash));
  if (!CreateDirectoryW(strFolder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    ThrowSystem(L"create folder", strFolder);
}

// An entry name becomes a path below the output folder only when it stays there: no drive,
// no leading separator, no ".." component.
bool SafeRelativeName(const std::wstring& strName, std::wstring& out_strRelative) {
  out_strRelative.clear();
  if (strName.empty() || strName[0] == L'/' || strName[0] == L'\\' || strName.find(L':') != std::wstring::npos)
    return false;
  size_t nStart = 0;
  while (nStart <= strName.size()) {
    size_t nEnd = strName.find_first_of(L"\\/", nStart);
    if (nEnd == std::wstring::npos) nEnd = strName.size();
    const std::wstring strPart = strName.substr(nStart, nEnd - nStart);
    if (strPart == L"..") return false;
    if (!strPart.empty() && strPart != L".") {
      if (!out_strRelative.empty()) out_strRelative += L'\\';
      out_strRelative += strPart;
    }
    nStart = nEnd + 1;
  }
  return !out_strRelative.empty();
}

int ExtractArchive(const std::wstring& strArchivePath, std::wstring strOutputFolder) {
  File archive;
  if (!archive.Open(strArchivePath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING))
    throw Fatal{L"Cannot open the archive : " + SystemMessage(GetLastError()) + L" : " + strArchivePath};
  std::vector<Entry> entries = ReadDirectory(archive, strArchivePath);

  while (strOutputFolder.size() > 1 && (strOutputFolder.back() == L'\\' || strOutputFolder.back() == L'/') &&
         strOutputFolder[strOutputFolder.size() - 2] != L':')
    strOutputFolder.pop_back();
  for (wchar_t& c : strOutputFolder)
    if (c == L'/') c = L'\\';
  MakeFolders(strOutputFolder);
  const std::wstring strBase =
      strOutputFolder.empty() || strOutputFolder.back() == L'\\' ? strOutputFolder : strOutputFolder + L'\\';

  int nErrors = 0;
  std::vector<unsigned char> buffer(kChunk);
  for (const Entry& entry : entries) {
    std::wstring strRelative;
    if (!SafeRelativeName(entry.strName, strRelative)) {
      fwprintf(stderr, L"ERROR: Dangerous link path was ignored : %ls\n", entry.strName.c_str());
      ++nErrors;
      continue;
    }
    const std::wstring strTarget = strBase + strRelative;
    const bool bFolder = entry.strName.back() == L'/' || entry.strName.back() == L'\\';
    const size_t nSlash = strTarget.find_last_of(L'\\');
    if (bFolder) {
      MakeFolders(strTarget);
      continue;
    }
    if (nSlash != std::wstring::npos) MakeFolders(strTarget.substr(0, nSlash));
    if ((entry.nFlags & kFlagEncrypted) || entry.nMethod != kMethodStored || entry.nCompressedSize != entry.nSize) {
      fwprintf(stderr, L"ERROR: Unsupported Method : %ls\n", entry.strName.c_str());
      ++nErrors;
      continue;
    }
    File out;
    if (!out.Open(strTarget, GENERIC_WRITE, 0, CREATE_ALWAYS)) ThrowSystem(L"create", strTarget);
    archive.Seek(entry.nDataOffset);
    uint32_t nLeft = entry.nSize, nCrc = 0;
    while (nLeft > 0) {
      DWORD dwPart = nLeft < kChunk ? nLeft : kChunk;
      archive.ReadExact(buffer.data(), dwPart);
      nCrc = Crc32Update(nCrc, buffer.data(), dwPart);
      out.Write(buffer.data(), dwPart);
      nLeft -= dwPart;
    }
    FILETIME ftLocal, ftTime;
    if (DosDateTimeToFileTime(entry.nDate, entry.nTime, &ftLocal) && LocalFileTimeToFileTime(&ftLocal, &ftTime))
      SetFileTime(out.Handle(), nullptr, nullptr, &ftTime);
    if (nCrc != entry.nCrc) {
      fwprintf(stderr, L"ERROR: CRC Failed : %ls\n", entry.strName.c_str());
      ++nErrors;
    }
  }
  return nErrors == 0 ? kOk : kFatal;
}

int CommandLineError(const wchar_t* pszReason, const std::wstring& strDetail) {
  fwprintf(stderr, L"\nCommand Line Error:\n%ls%ls%ls\n", pszReason, strDetail.empty() ? L"" : L" : ",
           strDetail.c_str());
  return kCommandLine;
}

bool EndsWithZip(const std::wstring& strPath) {
  return strPath.size() >= 4 && SameName(strPath.substr(strPath.size() - 4), L".zip");
}

int Run(int argc, wchar_t* argv[]) {
  if (argc < 2) {
    fwprintf(stdout,
             L"Usage: 7za a -tzip <archive.zip> <file>...\n"
             L"       7za x <archive.zip> [-y] [-o<folder>]\n");
    return kOk;
  }
  const std::wstring strCommand = argv[1];
  const bool bAdd = SameName(strCommand, L"a");
  const bool bExtract = SameName(strCommand, L"x");
  if (!bAdd && !bExtract) return CommandLineError(L"Unsupported command", strCommand);

  bool bZipType = false, bOutputGiven = false, bSwitches = true;
  std::wstring strOutputFolder;
  std::vector<std::wstring> names;
  for (int i = 2; i < argc; ++i) {
    const std::wstring strArg = argv[i];
    if (bSwitches && strArg == L"--") {
      bSwitches = false;
    } else if (bSwitches && strArg.size() > 1 && strArg[0] == L'-') {
      const std::wstring strSwitch = strArg.substr(1);
      if (strSwitch.size() > 1 && (strSwitch[0] == L't' || strSwitch[0] == L'T')) {
        if (!SameName(strSwitch.substr(1), L"zip")) return CommandLineError(L"Unsupported archive type", strArg);
        bZipType = true;
      } else if (SameName(strSwitch, L"y")) {
        // Every question is answered yes anyway: there is nobody to ask.
      } else if (bExtract && (strSwitch[0] == L'o' || strSwitch[0] == L'O')) {
        strOutputFolder = strSwitch.substr(1);
        bOutputGiven = true;
      } else {
        return CommandLineError(L"Unsupported switch", strArg);
      }
    } else {
      names.push_back(strArg);
    }
  }
  if (names.empty()) return CommandLineError(L"Cannot find archive name", L"");
  const std::wstring strArchive = names.front();
  names.erase(names.begin());

  if (bAdd) {
    if (!bZipType && !EndsWithZip(strArchive)) return CommandLineError(L"Only zip archives are supported", strArchive);
    if (names.empty()) return CommandLineError(L"No file to add", L"");
    int nResult = AddToArchive(strArchive, names);
    if (nResult == kOk) fwprintf(stdout, L"Everything is Ok\n");
    else fwprintf(stdout, L"WARNING: some files were not added to %ls\n", strArchive.c_str());
    return nResult;
  }
  if (!names.empty()) return CommandLineError(L"File filters are not supported with x", names.front());
  if (bOutputGiven && strOutputFolder.empty()) return CommandLineError(L"Empty output folder", L"-o");
  int nResult = ExtractArchive(strArchive, strOutputFolder);
  if (nResult == kOk) fwprintf(stdout, L"Everything is Ok\n");
  return nResult;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  try {
    return Run(argc, argv);
  } catch (const Fatal& failure) {
    fwprintf(stderr, L"ERROR: %ls\n", failure.message.c_str());
    return kFatal;
  } catch (const std::bad_alloc&) {
    fwprintf(stderr, L"ERROR: Can't allocate required memory!\n");
    return kOutOfMemory;
  }
}
