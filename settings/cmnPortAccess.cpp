#include "settings/cmnPortAccess.h"

#include "connection/CcnConnectionList.h"
#include "platform/ComPorts.h"

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qz {
namespace {

// The codes a port that cannot be opened ends with: the physical channel's "port busy" and
// "port not found", and the protocol's "no channel" when the line was never made.
constexpr int32_t kPortBusy = 10;
constexpr int32_t kPortNotFound = 11;
constexpr int32_t kNoChannel = 203;

} // namespace

TDeviceAccess CheckDeviceAccess(const std::string& device) {
    TDeviceAccess a;
    if (::access(device.c_str(), R_OK | W_OK) != 0) a.Errno = errno;
    struct stat st {};
    if (::stat(device.c_str(), &st) == 0) {
        char buf[1024];
        struct group g {};
        struct group* found = nullptr;
        if (::getgrgid_r(st.st_gid, &g, buf, sizeof buf, &found) == 0 && found)
            a.Group = found->gr_name;
    }
    return a;
}

std::string PortAccessDetail(int32_t errorCode, const TccnConnection* connection,
                             const TDeviceAccessCheck& check) {
    if (errorCode != kPortBusy && errorCode != kPortNotFound && errorCode != kNoChannel) return {};
    const TccnCustomConMode* mode = connection ? connection->CustomConMode() : nullptr;
    const auto* port =
        mode ? dynamic_cast<const TccnComPortInterface*>(mode->CustomCommInterface()) : nullptr;
    if (!port) return {};
    const std::string device = ResolveComPort(port->PortName());
    if (device.empty()) return {};
    const TDeviceAccess a = check(device);
    if (a.Errno == ENOENT) return "Устройство " + device + " не найдено.";
    if (a.Errno != EACCES && a.Errno != EPERM) return {};
    const std::string group = a.Group.empty() ? std::string("dialout") : a.Group;
    return "Нет прав на чтение и запись устройства " + device +
           ". Добавьте пользователя в группу " + group + " (sudo usermod -aG " + group +
           " $USER) и войдите в систему заново.";
}

} // namespace qz
