// File operations with the outcomes the log writer relies on, and the
// paths they take. One implementation per system: FileOps_posix.cpp,
// FileOps_win32.cpp.
#ifndef MIBSCAN_PLATFORM_FILEOPS_H_
#define MIBSCAN_PLATFORM_FILEOPS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The separator between a directory and a name in the system's paths.
[[nodiscard]] char PathSeparator();

// strDir, the separator and strName.
[[nodiscard]] std::string JoinPath(const std::string& strDir, std::string_view strName);

// Renames strFrom to strTo, failing (false, errno set) when strTo already
// exists: an existing file is never replaced.
[[nodiscard]] bool MoveFileNoReplace(const std::string& strFrom, const std::string& strTo);

// Opens strPath for appending (created if missing, kept otherwise), writes
// strData at its end and stores the file's length afterwards in *puLength.
// False when the file cannot be opened or written; a failed write (disk
// full) may leave part of strData in the file, and *puLength is still set
// whenever the opened file could be measured.
[[nodiscard]] bool AppendToFile(const std::string& strPath, std::string_view strData,
                                uint64_t* puLength);

// True when users other than the owner of strPath may read it (its group
// or everybody); false when it is private or cannot be examined.
[[nodiscard]] bool IsReadableByOthers(const std::string& strPath);

// Creates the directory strPath unless a directory is there already. True
// when it exists afterwards.
bool CreateDirectoryIfMissing(const std::string& strPath);

// The names of the files (not directories) in the directory strDir, in no
// particular order; empty when it cannot be read.
[[nodiscard]] std::vector<std::string> ListFiles(const std::string& strDir);

// Deletes the file strPath. False when it could not.
bool RemoveFile(const std::string& strPath);

#endif  // MIBSCAN_PLATFORM_FILEOPS_H_
