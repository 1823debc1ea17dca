#include "settings/AtomicFile.h"

#include "common/SystemErrorText.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qz {
namespace {

std::string ErrnoText(int err) {
    return SystemErrorText(err);
}

void SetError(std::string* error, const char* what, const std::string& path, int err) {
    if (error) *error = std::string(what) + " \"" + path + "\": " + ErrnoText(err);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// After the rename the folder entry itself must reach the disk, or a crash may bring the old
// file back. A folder that cannot be synced (some file systems refuse) is not an error.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// A new file next to `target`, named target + "." + six random characters, created like any
// file the user makes: mode 0666 less the umask (and the folder's default ACL, if any), which
// the kernel applies itself, so the umask never has to be read or changed.
int CreateTemporary(const std::string& target, std::string& tmpPath) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t r = 0;
        if (::getrandom(&r, sizeof r, GRND_NONBLOCK) != ssize_t(sizeof r)) r = 0;
        r ^= uint64_t(::getpid()) << 32 ^ counter.fetch_add(1) * 0x9E3779B97F4A7C15ull ^
             uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
        tmpPath = target + ".";
        for (int i = 0; i < 6; ++i, r /= 62)
            tmpPath += kChars[r % 62];
        const int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* error) {
    static const char kCannotWrite[] = "Не удалось записать файл";
    if (path.empty() || path.back() == '/') {
        SetError(error, kCannotWrite, path, EINVAL);
        return false;
    }
    // A settings file kept elsewhere behind a symbolic link stays there: the link's target is
    // replaced, not the link.
    std::string target = path;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    std::string tmpPath;
    const int fd = CreateTemporary(target, tmpPath);
    if (fd < 0) {
        SetError(error, kCannotWrite, path, errno);
        return false;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);

    int err = 0;
    if (!WriteAll(fd, data.data(), data.size()) || ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(tmpPath.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(tmpPath.c_str());
        SetError(error, kCannotWrite, path, err);
        return false;
    }
    SyncFolder(FolderOf(target));
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& data, bool& absent, std::string* error,
                   size_t maxSize) {
    data.clear();
    absent = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        absent = errno == ENOENT;
        SetError(error, "Не удалось открыть файл", path, errno);
        return false;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            data.clear();
            SetError(error, "Не удалось прочитать файл", path, err);
            return false;
        }
        if (size_t(n) > maxSize - data.size()) {
            ::close(fd);
            data.clear();
            if (error) *error = "Файл \"" + path + "\" слишком велик";
            return false;
        }
        data.append(buf, size_t(n));
    }
    ::close(fd);
    return true;
}

} // namespace qz
