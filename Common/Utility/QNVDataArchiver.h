// The data archiver: packs files into zip archives and unpacks archives by running the
// console archiver 7za.exe of the install tree (install-path index 3) as a hidden child
// process and waiting, without a time limit, until it ends.
#pragma once

#include <string>

class CQNVDataArchiver {
 public:
  CQNVDataArchiver() = default;
  virtual ~CQNVDataArchiver();

  // Adds (or updates) `in_strTargetPath` in the zip archive `in_strArchiveDataFilePath`,
  // creating the archive when it is missing. Returns QNVERROR_NO_ERROR only when the
  // archiver ran to its end with exit status 0, that is when the file is in the archive.
  // QNVERROR_INVALID_PARAM for an empty path or a path holding a double quote (which the
  // quoted command line cannot carry); QNVERROR_EXEC_FAILED when the engine path is
  // unknown or the archiver cannot be started; QNVERROR_FAILED when the archiver failed or
  // anything else went wrong. Every failed check writes one trace line.
  virtual int AddToArchive(const std::wstring& in_strArchiveDataFilePath, const std::wstring& in_strTargetPath);

  // Extracts the archive with full paths into `in_strExtractFolder`, answering every
  // question yes. Results as for AddToArchive.
  virtual int ExtractFromArchive(const std::wstring& in_strArchiveDataFilePath,
                                 const std::wstring& in_strExtractFolder);

  // Assigns the path of 7za.exe to `out_strArchiveEnginePath` and returns
  // QNVERROR_NO_ERROR; on a failed lookup returns its code (with a bail trace) and leaves
  // the output unchanged; QNVERROR_FAILED on any exception.
  virtual int GetArchiveEnginePath(std::wstring& out_strArchiveEnginePath);

  // Starts the command line as a hidden child process sharing this process's console, and
  // waits for its end. QNVERROR_NO_ERROR when it ended with exit status 0;
  // QNVERROR_INVALID_PARAM for an empty command line; QNVERROR_EXEC_FAILED when the
  // process cannot be started; QNVERROR_FAILED when it ended with another status.
  virtual int ExecuteCommandLine(const std::wstring& in_strCommandLine);
};
