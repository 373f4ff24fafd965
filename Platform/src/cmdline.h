// Windows command-line rules, OS-free: splitting a command line into arguments the way
// CommandLineToArgvW and the run-time's startup code do, and quoting arguments so that
// splitting gives them back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pal {

// The first token is the program: it ends at the first blank or tab outside quotes, quotes
// only group, and backslashes are literal. In the arguments after it, blanks and tabs
// separate outside quotes; 2n backslashes before a quote give n backslashes and the quote
// toggles quoting, 2n+1 give n and a literal quote; inside quotes "" gives a literal quote
// (and quoting goes on); other backslashes are literal.
std::vector<std::wstring> SplitCommandLine(std::wstring_view command_line);

// Quotes one argument only when it needs it (empty, blanks, tabs or quotes), doubling the
// backslashes that come before a quote or the closing quote.
std::wstring QuoteArgument(std::wstring_view argument);

// Joins arguments into a command line that SplitCommandLine splits back into them.
std::wstring JoinCommandLine(const std::vector<std::wstring>& arguments);

}  // namespace pal
