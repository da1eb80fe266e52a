#include "cli/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace zrn::cli {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kMaxNameTries = 1000;

std::string reason(int error) {
    return std::strerror(error);
}

[[noreturn]] void failWrite(const std::string& path, int error, const std::string& outcome) {
    fail(kExitFileWrite, "cannot write " + path + ": " + reason(error) + "; " + outcome);
}

std::string sizeText(std::size_t bytes) {
    constexpr std::size_t kMiB = 1024 * 1024;
    return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB"
                             : std::to_string(bytes) + " bytes";
}

std::string folderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Closes the descriptor and removes the temporary file unless it was renamed.
class TemporaryFile {
  public:
    TemporaryFile(const std::string& folder, const std::string& base, mode_t mode) {
        std::random_device random;
        for (int attempt = 0; attempt < kMaxNameTries && fd_ < 0; ++attempt) {
            char tag[32];
            std::snprintf(tag, sizeof tag, ".tmp-%ld-%08x", static_cast<long>(::getpid()),
                          static_cast<unsigned>(random()));
            path_ = folder + "/." + base + tag;
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ < 0 && errno != EEXIST) {
                break;
            }
        }
        error_ = fd_ < 0 ? errno : 0;
    }
    ~TemporaryFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!kept_) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return fd_; }
    int openError() const { return error_; }
    const std::string& path() const { return path_; }
    // The file now lives under another name (or was never created).
    void keep() { kept_ = true; }
    int close() {
        const int rv = ::close(fd_);
        fd_ = -1;
        return rv;
    }

  private:
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
    bool kept_ = false;
};

// 0 when every byte went out, the error otherwise.
int writeAll(int fd, std::string_view data, const FileCalls& calls) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = calls.write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : ENOSPC;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Writes, flushes and closes the temporary file; 0 or the error.
int fill(TemporaryFile& temp, std::string_view data, const FileCalls& calls) {
    if (const int error = writeAll(temp.fd(), data, calls)) {
        return error;
    }
    if (calls.fsync(temp.fd()) != 0) {
        return errno;
    }
    return temp.close() != 0 ? errno : 0;
}

// The rename is durable once the folder's entry is on disk.
int flushFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    // Some file systems cannot flush a folder; the file itself is on disk.
    const int error = ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
    ::close(fd);
    return error;
}

// Devices and FIFOs take the bytes as they come.
void writeInPlace(const std::string& path, std::string_view data, const FileCalls& calls) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        failWrite(path, errno, "nothing was written");
    }
    const int error = writeAll(fd, data, calls);
    ::close(fd);
    if (error != 0) {
        failWrite(path, error, "it may hold part of the data");
    }
}

// Where the bytes go: the file a symbolic link points to, the path otherwise.
std::string resolvedTarget(const std::string& path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        return path;
    }
    std::error_code error;
    const fs::path target = fs::weakly_canonical(path, error);
    return error ? path : target.string();
}

}  // namespace

FileCalls FileCalls::system() {
    return {::write, ::fsync, ::rename};
}

void replaceFile(const std::string& path, std::string_view data, const FileCalls& calls) {
    const std::string target = resolvedTarget(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    mode_t mode = 0666;  // less the umask, as for any new file
    if (exists) {
        if (S_ISDIR(old.st_mode)) {
            failWrite(path, EISDIR, "nothing was written");
        }
        if (!S_ISREG(old.st_mode)) {
            writeInPlace(target, data, calls);
            return;
        }
        if (::access(target.c_str(), W_OK) != 0) {
            failWrite(path, errno, "the file was left as it was");
        }
        mode = old.st_mode & 07777;
    }
    const std::string unchanged = exists ? "the old file was left as it was" : "nothing was saved";
    const std::string folder = folderOf(target);
    TemporaryFile temp(folder, fs::path(target).filename().string(), mode);
    if (temp.fd() < 0) {
        failWrite(path, temp.openError(), unchanged);
    }
    if (exists) {
        // Keep who may read the file: a backup of a private card stays private.
        ::fchmod(temp.fd(), mode);
        (void)!::fchown(temp.fd(), old.st_uid, old.st_gid);
    }
    if (const int error = fill(temp, data, calls)) {
        failWrite(path, error, unchanged);
    }
    if (calls.rename(temp.path().c_str(), target.c_str()) != 0) {
        failWrite(path, errno, unchanged);
    }
    temp.keep();
    if (const int error = flushFolder(folder)) {
        failWrite(path, error, "the new file may not be on disk yet");
    }
}

std::string createNewFile(const std::string& stem, const std::string& suffix, std::string_view data,
                          const FileCalls& calls) {
    const std::string first = stem + suffix;
    const std::string folder = folderOf(first);
    TemporaryFile temp(folder, fs::path(first).filename().string(), 0666);
    if (temp.fd() < 0) {
        failWrite(first, temp.openError(), "nothing was saved");
    }
    if (const int error = fill(temp, data, calls)) {
        failWrite(first, error, "nothing was saved");
    }
    for (int n = 1; n <= kMaxNameTries; ++n) {
        const std::string name = n == 1 ? first : stem + "-" + std::to_string(n) + suffix;
        // A hard link is created only where no file is: the exclusive rename.
        if (::link(temp.path().c_str(), name.c_str()) == 0) {
            if (const int error = flushFolder(folder)) {
                failWrite(name, error, "the new file may not be on disk yet");
            }
            return name;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno != EPERM && errno != ENOTSUP) {
            failWrite(name, errno, "nothing was saved");
        }
        // No hard links on this file system: take the name exclusively, then
        // move the complete file over it.
        const int reserved = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (reserved < 0) {
            if (errno == EEXIST) {
                continue;
            }
            failWrite(name, errno, "nothing was saved");
        }
        ::close(reserved);
        if (calls.rename(temp.path().c_str(), name.c_str()) != 0) {
            const int error = errno;
            ::unlink(name.c_str());
            failWrite(name, error, "nothing was saved");
        }
        temp.keep();
        if (const int error = flushFolder(folder)) {
            failWrite(name, error, "the new file may not be on disk yet");
        }
        return name;
    }
    failWrite(first, EEXIST, "every name up to -" + std::to_string(kMaxNameTries) + " is taken");
}

std::string readFileLimited(const std::string& path, std::size_t limit) {
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(kExitUsage, "cannot open " + path + " for reading: " + reason(errno));
    }
    std::string content;
    std::string chunk(kReadChunk, '\0');
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        if (content.size() + static_cast<std::size_t>(n) > limit) {
            error = EFBIG;
            break;
        }
        content.append(chunk.data(), static_cast<std::size_t>(n));
    }
    if (!standardInput) {
        ::close(fd);
    }
    if (error == EFBIG) {
        fail(kExitUsage, (standardInput ? std::string("standard input") : path) +
                             " holds more than " + sizeText(limit) +
                             ", more than any SIM's contents could be; nothing was read");
    }
    if (error != 0) {
        fail(kExitUsage, "cannot read " + path + ": " + reason(error));
    }
    return content;
}

}  // namespace zrn::cli
