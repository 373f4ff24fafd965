// OS-free pieces of the file area: search wildcards, run-time stream modes, the text-mode
// line-end translation and lexical Windows path handling.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pal/base.h"

namespace pal {

// Windows' search match: '*' any run, '?' one character, letters compared without case;
// "*.*" matches every name, as on Windows.
bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name);
bool HasWildcard(std::wstring_view pattern);

// Access and sharing as sets of these bits.
enum ShareBits : unsigned { kShareRead = 1, kShareWrite = 2, kShareDelete = 4 };

enum class Disposition { kCreateNew = 1, kCreateAlways, kOpenExisting, kOpenAlways, kTruncateExisting };

// A parsed run-time stream mode ("at", "r+b", "wx"...).
struct StreamMode {
  unsigned access = 0;  // ShareBits for read and write
  Disposition disposition = Disposition::kOpenExisting;
  bool append = false;
  bool text = true;
  const char* host_mode = "r";  // the matching glibc stream mode
};
std::optional<StreamMode> ParseStreamMode(std::wstring_view mode);

// Sharing granted by a run-time share flag (_SH_DENYNO...) for a stream of `access`; none
// for an unknown flag.
std::optional<unsigned> ShareFromFlag(int shflag, unsigned access);

// Text-mode output: every LF becomes CR LF.
std::string ToCrLf(std::string_view data);

// Text-mode input: CR LF becomes LF. A CR at the very end of `data` is held back in
// *pending_cr (it may pair with the next chunk's LF); pass the next chunk with the flag
// set, or an empty chunk at end of input to release it.
std::string FromCrLf(std::string_view data, bool* pending_cr, bool at_end);

// Lexical full path of a Windows path against a current folder "X:\...": separators become
// backslashes, "." and ".." are resolved (never above the drive root), a trailing
// separator is kept.
std::wstring FullWindowsPath(std::wstring_view path, std::wstring_view current_folder);

}  // namespace pal
