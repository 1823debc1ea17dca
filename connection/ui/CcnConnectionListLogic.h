// The parts of the connection-list dialogs that need no window: the history of objects the
// editor switched between, the device tree's keys and nodes, the rows a tree node shows,
// the row that becomes current after a deletion, the parameter summaries of the grid, the
// speed lists and the checks of typed-in values.
#pragma once

#include "connection/CcnConnectionClasses.h"
#include "connection/CcnConnectionList.h"
#include "platform/ComPorts.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qz {

// Texts the dialogs show.
extern const char* const kccnMsgHistoryHasClass; // "Список истории уже содержит ..."
extern const char* const kccnMsgTableEmpty;  // "Таблица подключений пуста"
extern const char* const kccnMsgNoneChecked; // "Нет выбранных подключений"
extern const char* const kccnMsgDeleteOne; // "Удалить выделенное подключение?"
extern const char* const kccnMsgDeleteMany; // "... (%d)?"
extern const char* const kccnMsgNoDeviceTypes; // "Список доступных типов измерителей пуст"
extern const char* const kccnMsgNoProtocolTypes; // "... типов протоколов измерителя пуст"
extern const char* const kccnMsgNoConModeTypes; // "Список доступных типов подключений пуст"
extern const char* const kccnMsgDeviceTypeUnsupported;
extern const char* const kccnMsgNoDeviceType; // "Не выбран тип измерителя"
extern const char* const kccnMsgNoProtocolType; // "Не выбран тип протокола измерителя"
extern const char* const kccnMsgNoConModeType; // "Не выбран тип подключения"
extern const char* const kccnMsgLinkAddressLength; // "Значение адреса связи не ..."
extern const char* const kccnMsgASDUAddressLength; // "Значение адреса ASDU не ..."
extern const char* const kccnMsgNoComPort;         // "Не задан Com-порт"
extern const char* const kccnMsgBadBaudRate; // "Некорректно задана скорость обмена"
extern const char* const kccnMsgNoPhoneNumber; // "Не задан номер телефона"
extern const char* const kccnMsgNoCallNumber;  // "Не задан позывной"
extern const char* const kccnMsgNoIpAddress;   // "Не задан IP-адрес"
extern const char* const kccnMsgBadIpAddress;  // "Некорректно задан IP-адрес"
extern const char* const kccnTreeRootText;     // "Измерители"

// An owning list of objects with at most one object per class, the one chosen last first.
// The editor keeps what the operator entered for a device type, protocol or connection mode
// here, so switching to another type and back brings the values back.
class TObjHistoryList {
public:
    // Adds at the front; a second object of a class already present raises EccnError.
    void MakeCurrent(std::unique_ptr<TccnPersistent> obj);
    // The front object, or null.
    TccnPersistent* Current() const;
    // The object of exactly that class, or null.
    TccnPersistent* Find(const TccnClass& cls) const;
    // Moves the object of that class to the front and returns it; null when there is none.
    TccnPersistent* Take(const TccnClass& cls);
    size_t Count() const { return FItems.size(); }
    TccnPersistent* Item(size_t i) const { return FItems.at(i).get(); }
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TccnPersistent>> FItems;
};

// Key of a tree node: -1 means "any". Root (-1, -1), type node (type, -1), number node
// (type, number).
struct TccnDeviceKey {
    int32_t DeviceType = -1;
    int32_t FactoryNum = -1;

    bool IsRoot() const { return DeviceType < 0; }
    bool IsType() const { return DeviceType >= 0 && FactoryNum == -1; }
    // A connection without a device is shown under the root only.
    bool Matches(const TccnConnection& c) const;
    bool operator==(const TccnDeviceKey& o) const {
        return DeviceType == o.DeviceType && FactoryNum == o.FactoryNum;
    }
};

struct TccnDeviceTreeNode {
    TccnDeviceKey Key;
    std::string Text;
    std::vector<TccnDeviceTreeNode> Children;
};

// The tree below the root from a sorted list: one node per device type, in list order,
// and below it one node per factory number. The factory number -1 cannot have a node of its
// own (it is the key's "any"); such connections show under their type node.
std::vector<TccnDeviceTreeNode> BuildDeviceTree(const TccnConnectionList& list);

// The connections a node shows, in list order.
std::vector<TccnConnection*> FilterConnections(const TccnConnectionList& list,
                                               const TccnDeviceKey& key);

// After deleting the selected rows [first, last] of rowCount rows: the row that becomes
// current, counted before the deletion (the row after the selection, or the one before it
// when the selection reaches the end); -1 when no row is left.
int NextCurrentRow(int first, int last, int rowCount);

// One "name=value" line of a parameter summary, split at the first '='.
struct TccnParamLine {
    std::string Name;
    std::string Value;
};
std::vector<TccnParamLine> SplitParamLines(const std::vector<std::string>& lines);

// The summary of a connection mode for the grid: the left block (the COM port, the TCP/IP
// address) and the right block (the phone number while dialling, the radio call sign),
// which the grid draws from 83 pixels on.
struct TccnConModeSummary {
    std::vector<TccnParamLine> Left;
    std::vector<TccnParamLine> Right;
};
TccnConModeSummary ConModeSummary(const TccnCustomConMode& mode);

// The speeds of the editable speed box and the fixed list of the optical attachment.
const std::vector<uint32_t>& EditableBaudRates();
const std::vector<uint32_t>& OptoAttachBaudRates();
// Index of a speed in a fixed list; 0 (the first entry) when it is not there.
int FixedBaudRateIndex(const std::vector<uint32_t>& rates, uint32_t baudrate);
// A speed typed by the operator: a positive integer that fits 32 bits unsigned.
bool ParseBaudRate(const std::string& text, uint32_t& value);

// A dotted IPv4 address of exactly four parts.
bool IsValidIpAddress(const std::string& text);
// An address of an IEC 101 field of the given length (1 or 2 bytes) fits it.
bool AddressFitsLength(uint32_t address, int length);

// The device types, in enumeration order, that the options list; the protocol types a
// device type may use (the options' set and the device's own supported set); the connection
// modes the options allow for it.
std::vector<TDeviceType> AllowedDeviceTypes(const TccnConnectionListUIOptions& options);
std::vector<TDeviceProtocolType> AllowedProtocolTypes(const TccnConnectionListUIOptions& options,
                                                      TDeviceType type);
std::vector<TConModeType> AllowedConModeTypes(const TccnConnectionListUIOptions& options,
                                              TDeviceType type);

// The machine's COM ports for the port list (ListComPorts: the ports whose device exists,
// sorted by number). Null target: EccnError.
void FillCOMPortList(std::vector<TComPortInfo>* COMPortList);
// Replaces where FillCOMPortList takes the ports from (tests, screenshots); an empty
// function restores ListComPorts.
void SetComPortLister(std::function<std::vector<TComPortInfo>()> lister);

} // namespace qz
