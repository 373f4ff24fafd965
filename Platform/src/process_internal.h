// Internals of the process area that tests reach directly.
#pragma once

#include <string>
#include <string_view>

namespace pal {

// A program outside the machine's drive C (a host program such as the archiver) cannot map
// Windows paths itself: an argument that is an absolute Windows path ("C:\x", "Z:/y"), or a
// switch directly followed by one ("-oC:\dir"), is given to it as the host path. Anything
// else is passed unchanged.
std::wstring MapArgumentForHost(std::wstring_view argument);

}  // namespace pal
