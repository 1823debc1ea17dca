// The connection (device + protocol + connection mode under an identifier) and the ordered,
// owning list of connections with its identifier counter, format version and stream forms.
//
// The settings file keeps the binary form of the whole list; the dialogs work on a copy made
// with Assign.
#pragma once

#include "connection/CcnComponentStream.h"
#include "connection/CcnConnectionClasses.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qz {

enum TStreamFormat : uint8_t { sfAuto = 0, sfBinary = 1, sfText = 2 };

// Prefix of every load error.
extern const char* const ConnectionListFormatErrorText;

class TVersionInfo : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    TVersionInfo() { SetCurrent(); }

    uint8_t Major = 1, Minor = 1, Release = 0;
    uint32_t Build = 21;
    // Called after the version was read from a stream, and (if set) before it is written.
    std::function<void()> OnAfterRead;
    std::function<void()> OnBeforeWrite;

    void SetVersion(uint8_t major, uint8_t minor, uint8_t release, uint32_t build);
    // The format version of this program, 1.1.0.21.
    void SetCurrent() { SetVersion(1, 1, 0, 21); }

    // -1, 0 or 1 comparing Major, Minor, Release, then Build.
    static int CompareVersions(const TVersionInfo& a, const TVersionInfo& b);
    static int CompareWith(const TVersionInfo& a, uint8_t major, uint8_t minor, uint8_t release,
                           uint32_t build);

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;
};

class TccnConnection : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    TccnConnection() = default;
    TccnConnection(const TccnConnection&) = delete;
    TccnConnection& operator=(const TccnConnection&) = delete;
    TccnConnection(TccnConnection&&) = default;
    TccnConnection& operator=(TccnConnection&&) = default;

    int32_t ConID = -1;
    // Check mark of the multi-select dialogs; never stored, never copied.
    bool Checked = false;

    TccnCustomDevice* CustomDevice() const { return FDevice.get(); }
    TccnCustomDeviceProtocol* CustomDeviceProtocol() const { return FProtocol.get(); }
    TccnCustomConMode* CustomConMode() const { return FConMode.get(); }
    void SetCustomDevice(std::unique_ptr<TccnCustomDevice> v) { FDevice = std::move(v); }
    void SetCustomDeviceProtocol(std::unique_ptr<TccnCustomDeviceProtocol> v) {
        FProtocol = std::move(v);
    }
    void SetCustomConMode(std::unique_ptr<TccnCustomConMode> v) { FConMode = std::move(v); }

    // Assign copies ConID and replaces each part the source has by a clone of it; a part the
    // source lacks stays as it is here.

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    std::unique_ptr<TccnCustomDevice> FDevice;
    std::unique_ptr<TccnCustomDeviceProtocol> FProtocol;
    std::unique_ptr<TccnCustomConMode> FConMode;
};

class TccnConnectionList : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    TccnConnectionList();
    TccnConnectionList(const TccnConnectionList&) = delete;
    TccnConnectionList& operator=(const TccnConnectionList&) = delete;

    TVersionInfo& Version() { return FVersion; }
    const TVersionInfo& Version() const { return FVersion; }
    const TVersionInfo& LoadedVersion() const { return FLoadedVersion; }
    int32_t FMaxID = -1;

    size_t Count() const { return FItems.size(); }
    // The item at index, or null beyond the last item.
    TccnConnection* GetItem(size_t index) const;

    // The next identifier; refused (EccnError) once FMaxID is the largest 32-bit value.
    int32_t NewID();
    // Gives connection a new ConID and appends a copy of it (NewID's refusal leaves the list
    // and the connection unchanged).
    bool AddConnection(TccnConnection& connection);
    // Assigns connection to the item with its ConID; false when there is none.
    bool UpdateConnection(const TccnConnection& connection);
    bool DeleteConnection(int32_t id);
    int IndexOfID(int32_t id) const;
    TccnConnection* FindByID(int32_t id) const;

    bool HasDevice(TDeviceType deviceType) const;
    bool HasDeviceNum(TDeviceType deviceType, int32_t factoryNum) const;
    bool IsSingleDevice(TDeviceType deviceType) const;
    bool IsSingleDeviceNum(TDeviceType deviceType, int32_t factoryNum) const;
    void SetAllChecked(bool value);
    // By device type, factory number, protocol type, connection mode type, then ConID; an
    // item lacking a part sorts before the items that have it.
    void SortConnections();
    // Deletes all items; FMaxID and the versions stay.
    void Clear() { FItems.clear(); }

    // sfBinary or sfText at the stream's position; sfAuto is refused and nothing is written.
    void SaveToStream(TccnMemoryStream& stream, TStreamFormat format) const;
    // Reads the list at the stream's position (sfAuto: binary, then text). Properties are
    // found by name, so their order does not matter; a property this program does not know,
    // at any level, is a format error (the list is then not one this program wrote, and the
    // version check already refuses newer lists). A load is all or nothing: on any error the
    // list is left empty and the error (EccnStreamError) carries the format-error prefix.
    // A stored FMaxID below a stored identifier is raised to it, so identifiers stay unique.
    void LoadFromStream(TccnMemoryStream& stream, TStreamFormat format);
    // LoadFromStream; on any error the list is cleared and false returned.
    bool TryLoadFromStream(TccnMemoryStream& stream, TStreamFormat format);

    // Runs when Version was read from a stream: remembers it in LoadedVersion and refuses a
    // list newer than this program. Version is the current one again afterwards.
    void CheckVersion();

protected:
    // Assign copies through the binary form, so identifiers, FMaxID and all parts are
    // copied exactly.
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    void LoadBinary(TccnMemoryStream& stream);
    void LoadText(TccnMemoryStream& stream);

    TVersionInfo FVersion;
    TVersionInfo FLoadedVersion;
    std::vector<std::unique_ptr<TccnConnection>> FItems;
};

// Streaming wrappers: one published property each, pointing at an object they do not own.
class TccnConnectionListWrapper : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnConnectionList* ConnectionList = nullptr;
};

class TccnCustomDeviceWrapper : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnCustomDevice* CustomDevice = nullptr;
};

class TccnCustomDeviceProtocolWrapper : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnCustomDeviceProtocol* CustomDeviceProtocol = nullptr;
};

class TccnCustomConModeWrapper : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnCustomConMode* CustomConMode = nullptr;
};

// The binary form of one part as it is nested in the list: a wrapper object whose
// properties are the part's published properties prefixed with the wrapper's property.
std::string SavePartToBinary(const TccnPersistent& part);
// Reads such a stream into an existing part (of the right family).
void LoadPartFromBinary(const std::string& binary, TccnPersistent& part);

} // namespace qz
