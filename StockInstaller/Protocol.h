// The tool's standard-output protocol: each line written in one piece and flushed at once,
// so that the caller's progress display follows the run.
#pragma once

void WriteProtocolLine(const char* in_pszLine);
