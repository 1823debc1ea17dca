#include "collector/colMark.h"

#include "common/SystemErrorText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace qz {

std::string MarkFileName(const std::string& folder) {
    return folder + "/published.mark";
}

std::string MarkText(const TcolMark& m) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "record %.17g\noutage-began %.17g\noutage-ended %.17g\n",
                  m.Record, m.OutageBegan, m.OutageEnded);
    return buf;
}

bool ParseMarkText(const std::string& text, TcolMark& out) {
    TcolMark m;
    int seen = 0;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        if (space == std::string::npos) return false;
        const std::string key = line.substr(0, space), value = line.substr(space + 1);
        char* end = nullptr;
        errno = 0;
        const double v = std::strtod(value.c_str(), &end);
        if (value.empty() || errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0) return false;
        if (key == "record")
            m.Record = v, seen |= 1;
        else if (key == "outage-began")
            m.OutageBegan = v, seen |= 2;
        else if (key == "outage-ended")
            m.OutageEnded = v, seen |= 4;
        else
            return false;
    }
    if (seen != 7) return false;
    out = m;
    return true;
}

bool LoadMark(const std::string& fileName, TcolMark& mark, std::string& error) {
    mark = TcolMark();
    std::ifstream f(fileName, std::ios::binary);
    if (!f) {
        if (errno == ENOENT) return true;
        error = "Не удалось прочитать отметку отправленного " + fileName + ": " +
                SystemErrorText(errno);
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (text.size() > 4096 || !ParseMarkText(text, mark)) {
        mark = TcolMark();
        error = "Отметка отправленного повреждена: " + fileName +
                "; записи журналов будут отправлены заново";
        return false;
    }
    return true;
}

bool SaveMark(const std::string& fileName, const TcolMark& mark, std::string& error) {
    const std::string temp = fileName + ".new", text = MarkText(mark);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok =
        fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size()) && fsync(fd) == 0;
    const int saved = errno;
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (ok && rename(temp.c_str(), fileName.c_str()) != 0) ok = false;
    if (!ok) {
        error = "Не удалось записать отметку отправленного " + fileName + ": " +
                SystemErrorText(saved ? saved : errno);
        unlink(temp.c_str());
    }
    return ok;
}

} // namespace qz
