#pragma once

// Files the tool writes (backups, exports, card images) are built beside
// their target under a temporary name, flushed to disk and renamed over it:
// a crash, a kill or a full disk leaves the old file or the new one, whole.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "cli/errors.h"

namespace zrn::cli {

// A file that cannot be written or read back ends the command like a failing card.
inline constexpr int kExitFileWrite = kExitCard;

// The system calls the writer makes, replaceable so that tests can make one
// fail (a full disk, a failing flush) at a chosen point.
struct FileCalls {
    ssize_t (*write)(int fd, const void* data, std::size_t size) = nullptr;
    int (*fsync)(int fd) = nullptr;
    int (*rename)(const char* from, const char* to) = nullptr;

    static FileCalls system();
};

// Replaces `path` with `data`, keeping the permissions of the file it
// replaces; a symbolic link keeps pointing where it did. A device or FIFO
// (/dev/null, a pipe) is written in place, as there is nothing to rename over.
// Fails with kExitFileWrite naming the file; the old file is left as it was and
// no temporary file stays behind.
void replaceFile(const std::string& path, std::string_view data,
                 const FileCalls& calls = FileCalls::system());

// Writes `data` under the first free name of `stem` + `suffix`, `stem` + "-2"
// + `suffix`, `stem` + "-3" + `suffix`...; never replaces an existing file,
// even one created at the same moment by another process. Returns the name.
std::string createNewFile(const std::string& stem, const std::string& suffix, std::string_view data,
                          const FileCalls& calls = FileCalls::system());

// The whole content of `path` ("-": standard input), read until end of file
// (a pipe or FIFO works); fails with exit code 1 as soon as more than `limit`
// bytes have come, so an endless source such as /dev/zero is refused quickly.
std::string readFileLimited(const std::string& path, std::size_t limit);

}  // namespace zrn::cli
