#include "journal/jnOutFile.h"

#include "common/SystemErrorText.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace qz {

TjnOutFile::~TjnOutFile() {
    if (FFile) {
        std::fclose(FFile);
        unlink(FTemp.c_str());
    }
}

bool TjnOutFile::Open(const std::string& target, std::string& error) {
    FTarget = target;
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), R_OK) != 0) {
        error = "Файл существует, но недоступен для чтения; он не перезаписывается: " + target;
        return false;
    }
    struct stat st {};
    if (stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = "Не файл: " + target;
        return false;
    }
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
        FTemp = target + ".tmp" + std::to_string(rd() % 1000000);
        const int fd = open(FTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) break;
        FFile = fdopen(fd, "wb");
        if (!FFile) {
            close(fd);
            unlink(FTemp.c_str());
            break;
        }
        return true;
    }
    error = "Не удалось создать файл " + target + ": " + SystemErrorText(errno);
    return false;
}

void TjnOutFile::Write(const char* data, size_t size) {
    if (!FFile || FFailed) return;
    if (std::fwrite(data, 1, size, FFile) != size) FFailed = true;
}

bool TjnOutFile::Commit(std::string& error) {
    if (!FFile) {
        error = "Файл не открыт: " + FTarget;
        return false;
    }
    bool ok = !FFailed && std::fflush(FFile) == 0 && fsync(fileno(FFile)) == 0;
    const int saved = errno;
    ok = std::fclose(FFile) == 0 && ok;
    FFile = nullptr;
    if (ok && std::rename(FTemp.c_str(), FTarget.c_str()) == 0) return true;
    error = "Не удалось записать файл " + FTarget + ": " + SystemErrorText(ok ? errno : saved);
    unlink(FTemp.c_str());
    return false;
}

} // namespace qz
