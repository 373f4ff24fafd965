#include "wine_testing.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

namespace wt {
namespace {

// One argument quoted so that the child's command-line parser gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < arg.size() && arg[i] == L'\\') {
      ++i;
      ++backslashes;
    }
    if (i == arg.size()) {
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    if (arg[i] == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted += arg[i];
  }
  return quoted + L"\"";
}

std::wstring CommandLine(const std::wstring& program, const std::vector<std::wstring>& args) {
  std::wstring line = QuoteArgument(program);
  for (const std::wstring& arg : args) line += L" " + QuoteArgument(arg);
  return line;
}

void Drain(HANDLE pipe, std::string& into) {
  DWORD available = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    char buffer[4096];
    DWORD read = 0;
    if (!ReadFile(pipe, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &read, nullptr) ||
        read == 0)
      break;
    into.append(buffer, read);
  }
}

std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return L"";
  return path;
}

void MakeFolders(const std::wstring& folder) {
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
}

}  // namespace

RunResult Run(const std::wstring& program, const std::vector<std::wstring>& args, const std::wstring& currentFolder,
              DWORD timeoutMs) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
    return result;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                           nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION info = {};
  std::wstring line = CommandLine(program, args);
  const BOOL started = CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                      currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info);
  const DWORD startError = GetLastError();
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!started) {
    ADD_FAILURE() << "CreateProcessW failed (" << startError << "): " << Narrow(line);
  } else {
    // Read while it runs, so that a full pipe never stops it; a grandchild that inherited the
    // pipe cannot hold this up, because only what is there when the child has ended is read.
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    bool ended = false;
    while (!ended) {
      ended = WaitForSingleObject(info.hProcess, 20) == WAIT_OBJECT_0;
      Drain(outRead, result.out);
      Drain(errRead, result.err);
      if (!ended && GetTickCount64() >= end) {
        TerminateProcess(info.hProcess, kTimedOut);
        WaitForSingleObject(info.hProcess, 5000);
        ADD_FAILURE() << "timed out after " << timeoutMs << " ms: " << Narrow(line);
        break;
      }
    }
    if (ended) GetExitCodeProcess(info.hProcess, &result.exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  return result;
}

Process::Process(const std::wstring& program, const std::vector<std::wstring>& args,
                 const std::wstring& currentFolder) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  std::wstring line = CommandLine(program, args);
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info_)) {
    ADD_FAILURE() << "CreateProcessW failed (" << GetLastError() << "): " << Narrow(line);
    info_ = {};
  }
}

Process::~Process() {
  if (!Started()) return;
  if (Running()) Terminate();
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool Process::Running() const { return Started() && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

DWORD Process::Wait(DWORD timeoutMs) {
  if (!Started() || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return kTimedOut;
  DWORD code = kTimedOut;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

void Process::Terminate() {
  if (!Started()) return;
  TerminateProcess(info_.hProcess, 1);
  WaitForSingleObject(info_.hProcess, 10000);
}

bool WaitUntilNoProcessNamed(const std::wstring& exeName, DWORD timeoutMs) {
  return WaitFor(
      [&]() {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return false;
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        bool found = false;
        for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
          found = _wcsicmp(entry.szExeFile, exeName.c_str()) == 0;
        CloseHandle(snapshot);
        return !found;
      },
      timeoutMs);
}

std::wstring InstallFolder() { return SpecialFolder(CSIDL_PROGRAM_FILESX86) + L"\\NORVANTE\\TQ770\\x86\\"; }

std::wstring CommonFolder() { return SpecialFolder(CSIDL_PROGRAM_FILESX86) + L"\\NORVANTE\\TQ770\\common\\"; }

std::wstring LogFolder() {
  const std::wstring folder = SpecialFolder(CSIDL_COMMON_APPDATA) + L"\\NORVANTE\\TQ770\\log\\";
  MakeFolders(folder);
  return folder;
}

std::wstring TestFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::wstring name = test != nullptr ? Widen(std::string(test->test_suite_name()) + "." + test->name()) : L"test";
  for (wchar_t& c : name)
    if (c == L'/') c = L'_';
  const std::wstring folder = std::wstring(temp) + L"tq-wine\\" + UniqueName(name) + L"\\";
  MakeFolders(folder);
  return folder;
}

std::wstring UniqueName(const std::wstring& stem) {
  static std::atomic<unsigned> counter{0};
  return stem + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
}

bool EmptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  bool all = true;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring path = folder + found.cFileName;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    all = DeleteFileW(path.c_str()) && all;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return all;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    end = end == std::string::npos ? text.size() : end + 2;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

std::wstring ReadIni(const std::wstring& path, const wchar_t* section, const wchar_t* key, const wchar_t* missing) {
  wchar_t value[1024] = {};
  GetPrivateProfileStringW(section, key, missing, value, 1024, path.c_str());
  return value;
}

std::string TodayText() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char text[16];
  snprintf(text, sizeof(text), "%04u/%02u/%02u", now.wYear, now.wMonth, now.wDay);
  return text;
}

namespace {

// Bit by bit, without a table: independent of the archiver's own implementation.
uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

uint32_t Le(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

ZipContents ReadZip(const std::string& bytes) {
  ZipContents zip;
  const size_t endSize = 22;
  size_t end = std::string::npos;
  for (size_t i = bytes.size() >= endSize ? bytes.size() - endSize + 1 : 0; i-- > 0;) {
    if (Le(bytes, i, 4) == 0x06054b50) {
      end = i;
      break;
    }
  }
  if (end == std::string::npos) {
    zip.error = "no end of central directory";
    return zip;
  }
  const uint32_t count = Le(bytes, end + 10, 2);
  size_t at = Le(bytes, end + 16, 4);
  for (uint32_t n = 0; n < count; ++n) {
    if (at + 46 > bytes.size() || Le(bytes, at, 4) != 0x02014b50) {
      zip.error = "bad central directory entry";
      return zip;
    }
    const uint32_t method = Le(bytes, at + 10, 2), crc = Le(bytes, at + 16, 4);
    const uint32_t packed = Le(bytes, at + 20, 4), size = Le(bytes, at + 24, 4);
    const uint32_t nameLength = Le(bytes, at + 28, 2), extra = Le(bytes, at + 30, 2), comment = Le(bytes, at + 32, 2);
    const uint32_t local = Le(bytes, at + 42, 4);
    const std::string name = bytes.substr(at + 46, nameLength);
    at += 46 + nameLength + extra + comment;
    if (local + 30 > bytes.size() || Le(bytes, local, 4) != 0x04034b50) {
      zip.error = "bad local header of " + name;
      return zip;
    }
    const size_t data = local + 30 + Le(bytes, local + 26, 2) + Le(bytes, local + 28, 2);
    if (method != 0 || packed != size || data + size > bytes.size()) {
      zip.error = "entry not stored or cut short: " + name;
      return zip;
    }
    const std::string content = bytes.substr(data, size);
    if (Crc32(content) != crc || Le(bytes, local + 14, 4) != crc) {
      zip.error = "CRC mismatch in " + name;
      return zip;
    }
    zip.entries[name] = content;
  }
  return zip;
}

}  // namespace wt
