#include "connection/CcnConnectionList.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <tuple>

namespace qz {

const char* const ConnectionListFormatErrorText = "Ошибка загрузки данных. Неверный формат. ";

namespace {

const char* const kListWrapper = "TccnConnectionListWrapper";
const char* const kVersionProp = "ConnectionList.Version.VersionNumber";
const char* const kMaxIDProp = "ConnectionList.FMaxID";
const char* const kListProp = "ConnectionList";

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

[[noreturn]] void NoProperty(const std::string& name) {
    CcnStreamFail("Свойство " + name + " не существует");
}

// The wrapper class and its property for a part of a connection.
struct TPartWrapper {
    const char* ClassName;
    const char* Prop;
};

TPartWrapper WrapperOf(const TccnPersistent& part) {
    if (part.InheritsFrom(TccnCustomDevice::Class))
        return {"TccnCustomDeviceWrapper", "CustomDevice"};
    if (part.InheritsFrom(TccnCustomDeviceProtocol::Class))
        return {"TccnCustomDeviceProtocolWrapper", "CustomDeviceProtocol"};
    if (part.InheritsFrom(TccnCustomConMode::Class))
        return {"TccnCustomConModeWrapper", "CustomConMode"};
    throw EInvalidCast();
}

void WriteProps(TccnBinaryWriter& w, const TccnPersistent& obj, const std::string& prefix) {
    for (const TccnPropInfo* p : obj.ClassType().Properties()) {
        switch (p->Kind) {
        case TccnPropKind::Integer:
            w.WritePropName(prefix + p->Name);
            // Unsigned 32-bit values travel as their 32-bit pattern.
            w.WriteInteger(static_cast<int32_t>(static_cast<uint32_t>(p->GetInt(obj))));
            break;
        case TccnPropKind::Enumeration: {
            const int64_t v = p->GetInt(obj);
            if (v < 0 || v >= p->EnumCount) break;
            w.WritePropName(prefix + p->Name);
            w.WriteIdent(p->EnumIdents[v]);
            break;
        }
        case TccnPropKind::String: {
            const std::string s = p->GetStr(obj);
            if (s.empty()) break; // the class default comes back on reading
            w.WritePropName(prefix + p->Name);
            w.WriteString(s);
            break;
        }
        case TccnPropKind::Object:
            if (const TccnPersistent* sub = p->GetObj(obj))
                WriteProps(w, *sub, prefix + p->Name + ".");
            break;
        }
    }
}

// Reads the value of the property at path (below the wrapper's own property) into root.
void ReadPropByPath(TccnBinaryReader& r, TccnPersistent& root, const std::string& fullName,
                    size_t start) {
    TccnPersistent* obj = &root;
    for (;;) {
        const size_t dot = fullName.find('.', start);
        const std::string seg =
            fullName.substr(start, dot == std::string::npos ? dot : dot - start);
        const TccnPropInfo* p = obj->ClassType().FindProperty(seg);
        if (p == nullptr) NoProperty(fullName);
        if (dot != std::string::npos) {
            if (p->Kind != TccnPropKind::Object) NoProperty(fullName);
            obj = p->GetObj(*obj);
            if (obj == nullptr) NoProperty(fullName);
            start = dot + 1;
            continue;
        }
        switch (p->Kind) {
        case TccnPropKind::Integer:
            p->SetInt(*obj, r.ReadInteger(fullName));
            return;
        case TccnPropKind::Enumeration: {
            const std::string ident = r.ReadIdent(fullName);
            const int v = IdentIndex(p->EnumIdents, p->EnumCount, ident);
            if (v < 0) CcnStreamFail("Неверное значение свойства " + fullName + ": " + ident);
            p->SetInt(*obj, v);
            return;
        }
        case TccnPropKind::String:
            p->SetStr(*obj, r.ReadString(fullName));
            return;
        case TccnPropKind::Object:
            ThrowWrongTag(fullName);
        }
    }
}

// A stored class name turned into a part of the wanted family. An unknown name leaves the
// part absent; a known class of another family, or an abstract one, is a format error.
std::unique_ptr<TccnPersistent> CreatePart(const std::string& className, const TccnClass& family) {
    const TccnClass* cls = FindRegisteredClass(className);
    if (cls == nullptr) return nullptr;
    if (!cls->InheritsFrom(family) || cls->IsAbstract())
        CcnStreamFail("Класс " + className + " не может быть частью подключения");
    return cls->Create();
}

template <class T> std::unique_ptr<T> Downcast(std::unique_ptr<TccnPersistent> p) {
    return std::unique_ptr<T>(static_cast<T*>(p.release()));
}

void ReadItem(TccnBinaryReader& r, TccnConnection& item) {
    while (!r.EndOfList()) {
        const std::string name = r.ReadShortString();
        if (SameText(name, "ConID")) {
            item.ConID = r.ReadInteger(name);
        } else if (SameText(name, "FCustomDeviceType") ||
                   SameText(name, "FCustomDeviceProtocolType") ||
                   SameText(name, "FCustomConModeType")) {
            r.ReadIdent(name); // the class says it all
        } else if (SameText(name, "FCustomDeviceClass")) {
            item.SetCustomDevice(
                Downcast<TccnCustomDevice>(CreatePart(r.ReadIdent(name), TccnCustomDevice::Class)));
        } else if (SameText(name, "FCustomDeviceProtocolClass")) {
            item.SetCustomDeviceProtocol(Downcast<TccnCustomDeviceProtocol>(
                CreatePart(r.ReadIdent(name), TccnCustomDeviceProtocol::Class)));
        } else if (SameText(name, "FCustomConModeClass")) {
            item.SetCustomConMode(Downcast<TccnCustomConMode>(
                CreatePart(r.ReadIdent(name), TccnCustomConMode::Class)));
        } else if (SameText(name, "CustomDevice") || SameText(name, "CustomDeviceProtocol") ||
                   SameText(name, "CustomConMode")) {
            const std::string bin = r.ReadBinary(name);
            TccnPersistent* part = SameText(name, "CustomDevice") ? item.CustomDevice()
                                   : SameText(name, "CustomDeviceProtocol")
                                       ? static_cast<TccnPersistent*>(item.CustomDeviceProtocol())
                                       : item.CustomConMode();
            if (part == nullptr) CcnStreamFail("Не задан класс объекта свойства " + name);
            LoadPartFromBinary(bin, *part);
        } else {
            NoProperty(name);
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// Class references of this unit.

const TccnClass TVersionInfo::Class = {"TVersionInfo", nullptr, nullptr, 0, &CcnNew<TVersionInfo>};
const TccnClass TccnConnection::Class = {"TccnConnection", nullptr, nullptr, 0,
                                         &CcnNew<TccnConnection>};
const TccnClass TccnConnectionList::Class = {"TccnConnectionList", nullptr, nullptr, 0,
                                             &CcnNew<TccnConnectionList>};
const TccnClass TccnConnectionListWrapper::Class = {"TccnConnectionListWrapper", nullptr, nullptr,
                                                    0, &CcnNew<TccnConnectionListWrapper>};
const TccnClass TccnCustomDeviceWrapper::Class = {"TccnCustomDeviceWrapper", nullptr, nullptr, 0,
                                                  &CcnNew<TccnCustomDeviceWrapper>};
const TccnClass TccnCustomDeviceProtocolWrapper::Class = {"TccnCustomDeviceProtocolWrapper",
                                                          nullptr, nullptr, 0,
                                                          &CcnNew<TccnCustomDeviceProtocolWrapper>};
const TccnClass TccnCustomConModeWrapper::Class = {"TccnCustomConModeWrapper", nullptr, nullptr, 0,
                                                   &CcnNew<TccnCustomConModeWrapper>};

// ---------------------------------------------------------------------------------------
// Parts.

std::string SavePartToBinary(const TccnPersistent& part) {
    const TPartWrapper wr = WrapperOf(part);
    std::string out;
    TccnBinaryWriter w(out);
    w.WriteObjectBegin(wr.ClassName, "");
    WriteProps(w, part, std::string(wr.Prop) + ".");
    w.WriteObjectEnd();
    return out;
}

void LoadPartFromBinary(const std::string& binary, TccnPersistent& part) {
    const TPartWrapper wr = WrapperOf(part);
    TccnBinaryReader r(binary);
    const std::string cls = r.ReadObjectBegin();
    if (!SameText(cls, wr.ClassName)) CcnStreamFail("Неверный класс объекта в потоке: " + cls);
    const std::string prefix = std::string(wr.Prop) + ".";
    while (!r.EndOfList()) {
        const std::string name = r.ReadShortString();
        if (name.size() <= prefix.size() || !SameText(name.substr(0, prefix.size()), prefix))
            NoProperty(name);
        ReadPropByPath(r, part, name, prefix.size());
    }
    r.ReadObjectEnd();
}

// ---------------------------------------------------------------------------------------
// Version.

void TVersionInfo::SetVersion(uint8_t major, uint8_t minor, uint8_t release, uint32_t build) {
    Major = major;
    Minor = minor;
    Release = release;
    Build = build;
}

int TVersionInfo::CompareVersions(const TVersionInfo& a, const TVersionInfo& b) {
    const auto ka = std::make_tuple(a.Major, a.Minor, a.Release, a.Build);
    const auto kb = std::make_tuple(b.Major, b.Minor, b.Release, b.Build);
    return ka < kb ? -1 : kb < ka ? 1 : 0;
}

int TVersionInfo::CompareWith(const TVersionInfo& a, uint8_t major, uint8_t minor, uint8_t release,
                              uint32_t build) {
    TVersionInfo b;
    b.SetVersion(major, minor, release, build);
    return CompareVersions(a, b);
}

void TVersionInfo::CheckAssign(const TccnPersistent& Source) const {
    if (!Source.InheritsFrom(TVersionInfo::Class)) InvalidCast();
}

void TVersionInfo::DoAssign(const TccnPersistent& Source) {
    const auto& s = static_cast<const TVersionInfo&>(Source);
    SetVersion(s.Major, s.Minor, s.Release, s.Build);
}

// ---------------------------------------------------------------------------------------
// Connection.

void TccnConnection::CheckAssign(const TccnPersistent& Source) const {
    if (!Source.InheritsFrom(TccnConnection::Class)) InvalidCast();
}

void TccnConnection::DoAssign(const TccnPersistent& Source) {
    const auto& s = static_cast<const TccnConnection&>(Source);
    ConID = s.ConID;
    if (s.FDevice) FDevice = s.FDevice->Clone();
    if (s.FProtocol) FProtocol = s.FProtocol->Clone();
    if (s.FConMode) FConMode = s.FConMode->Clone();
}

// ---------------------------------------------------------------------------------------
// List.

TccnConnectionList::TccnConnectionList() {
    FVersion.OnAfterRead = [this] { CheckVersion(); };
}

TccnConnection* TccnConnectionList::GetItem(size_t index) const {
    return index < FItems.size() ? FItems[index].get() : nullptr;
}

int32_t TccnConnectionList::NewID() {
    // Identifiers are never reused, so a list whose counter reached the top can take no new
    // connection; wrapping round would hand out negative identifiers, -1 among them.
    if (FMaxID == std::numeric_limits<int32_t>::max())
        throw EccnError("Исчерпан запас идентификаторов подключений: достигнуто наибольшее "
                        "значение " +
                        std::to_string(FMaxID) + ". Новое подключение не может быть добавлено");
    return ++FMaxID;
}

bool TccnConnectionList::AddConnection(TccnConnection& connection) {
    connection.ConID = NewID();
    auto item = std::make_unique<TccnConnection>();
    item->Assign(connection);
    FItems.push_back(std::move(item));
    return true;
}

bool TccnConnectionList::UpdateConnection(const TccnConnection& connection) {
    TccnConnection* item = FindByID(connection.ConID);
    if (item == nullptr) return false;
    item->Assign(connection);
    return true;
}

bool TccnConnectionList::DeleteConnection(int32_t id) {
    const int i = IndexOfID(id);
    if (i < 0) return false;
    FItems.erase(FItems.begin() + i);
    return true;
}

int TccnConnectionList::IndexOfID(int32_t id) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i]->ConID == id) return int(i);
    return -1;
}

TccnConnection* TccnConnectionList::FindByID(int32_t id) const {
    const int i = IndexOfID(id);
    return i < 0 ? nullptr : FItems[size_t(i)].get();
}

namespace {

bool Matches(const TccnConnection& c, TDeviceType type, const int32_t* num) {
    const TccnCustomDevice* d = c.CustomDevice();
    return d != nullptr && d->DeviceType() == type && (num == nullptr || d->FactoryNum() == *num);
}

int CountMatches(const std::vector<std::unique_ptr<TccnConnection>>& items, TDeviceType type,
                 const int32_t* num, int stopAt) {
    int n = 0;
    for (const auto& c : items)
        if (Matches(*c, type, num) && ++n >= stopAt) break;
    return n;
}

} // namespace

bool TccnConnectionList::HasDevice(TDeviceType deviceType) const {
    return CountMatches(FItems, deviceType, nullptr, 1) == 1;
}

bool TccnConnectionList::HasDeviceNum(TDeviceType deviceType, int32_t factoryNum) const {
    return CountMatches(FItems, deviceType, &factoryNum, 1) == 1;
}

bool TccnConnectionList::IsSingleDevice(TDeviceType deviceType) const {
    return CountMatches(FItems, deviceType, nullptr, 2) == 1;
}

bool TccnConnectionList::IsSingleDeviceNum(TDeviceType deviceType, int32_t factoryNum) const {
    return CountMatches(FItems, deviceType, &factoryNum, 2) == 1;
}

void TccnConnectionList::SetAllChecked(bool value) {
    for (auto& c : FItems)
        c->Checked = value;
}

void TccnConnectionList::SortConnections() {
    auto key = [](const TccnConnection& c) {
        const TccnCustomDevice* d = c.CustomDevice();
        const TccnCustomDeviceProtocol* p = c.CustomDeviceProtocol();
        const TccnCustomConMode* m = c.CustomConMode();
        return std::make_tuple(
            d ? int(d->DeviceType()) : -1, d ? int64_t(d->FactoryNum()) : int64_t(INT32_MIN) - 1,
            p ? int(p->ProtocolType()) : -1, m ? int(m->ConModeType()) : -1, c.ConID);
    };
    std::stable_sort(FItems.begin(), FItems.end(),
                     [&](const std::unique_ptr<TccnConnection>& a,
                         const std::unique_ptr<TccnConnection>& b) { return key(*a) < key(*b); });
}

void TccnConnectionList::CheckVersion() {
    FLoadedVersion.Assign(FVersion);
    const TVersionInfo current;
    // Version holds the current version again whatever happens next.
    FVersion.SetCurrent();
    if (TVersionInfo::CompareVersions(current, FLoadedVersion) == -1)
        CcnStreamFail(
            "Текущая версия списка подключений меньше загружаемой версии. Загрузка невозможна");
}

void TccnConnectionList::SaveToStream(TccnMemoryStream& stream, TStreamFormat format) const {
    if (format != sfBinary && format != sfText)
        throw EccnError("Сохранение в поток в неизвестном формате не поддерживается");
    if (FVersion.OnBeforeWrite) FVersion.OnBeforeWrite();
    std::string out;
    TccnBinaryWriter w(out);
    w.WriteObjectBegin(kListWrapper, "");
    w.WritePropName(kVersionProp);
    w.WriteListBegin();
    w.WriteInteger(FVersion.Major);
    w.WriteInteger(FVersion.Minor);
    w.WriteInteger(FVersion.Release);
    w.WriteInteger(static_cast<int32_t>(FVersion.Build));
    w.WriteListEnd();
    w.WritePropName(kMaxIDProp);
    w.WriteInteger(FMaxID);
    w.WritePropName(kListProp);
    w.WriteTag(vaCollection);
    for (const auto& c : FItems) {
        w.WriteTag(vaList);
        w.WritePropName("ConID");
        w.WriteInteger(c->ConID);
        if (const TccnCustomDevice* d = c->CustomDevice()) {
            w.WritePropName("FCustomDeviceType");
            w.WriteIdent(d->DeviceType() < DeviceTypeCount ? DeviceTypeIdents[d->DeviceType()]
                                                           : "");
            w.WritePropName("FCustomDeviceClass");
            w.WriteIdent(d->ClassName());
        }
        if (const TccnCustomDeviceProtocol* p = c->CustomDeviceProtocol()) {
            w.WritePropName("FCustomDeviceProtocolType");
            w.WriteIdent(DeviceProtocolTypeIdents[p->ProtocolType()]);
            w.WritePropName("FCustomDeviceProtocolClass");
            w.WriteIdent(p->ClassName());
        }
        if (const TccnCustomConMode* m = c->CustomConMode()) {
            w.WritePropName("FCustomConModeType");
            w.WriteIdent(ConModeTypeIdents[m->ConModeType()]);
            w.WritePropName("FCustomConModeClass");
            w.WriteIdent(m->ClassName());
        }
        if (c->CustomDevice()) {
            w.WritePropName("CustomDevice");
            w.WriteBinary(SavePartToBinary(*c->CustomDevice()));
        }
        if (c->CustomDeviceProtocol()) {
            w.WritePropName("CustomDeviceProtocol");
            w.WriteBinary(SavePartToBinary(*c->CustomDeviceProtocol()));
        }
        if (c->CustomConMode()) {
            w.WritePropName("CustomConMode");
            w.WriteBinary(SavePartToBinary(*c->CustomConMode()));
        }
        w.WriteTag(vaNull);
    }
    w.WriteTag(vaNull);
    w.WriteObjectEnd();
    if (format == sfBinary) {
        stream.Write(out);
    } else {
        size_t pos = 0;
        stream.Write(ObjectBinaryToText(out, pos));
    }
}

void TccnConnectionList::LoadBinary(TccnMemoryStream& stream) {
    Clear();
    const std::string& data = stream.Data();
    const size_t start = stream.Position();
    TccnBinaryReader r(data.data() + start, data.size() - start);
    std::vector<std::unique_ptr<TccnConnection>> items;
    int32_t maxID = FMaxID;
    bool versionRead = false;

    const std::string cls = r.ReadObjectBegin();
    if (!SameText(cls, kListWrapper)) CcnStreamFail("Неверный класс объекта в потоке: " + cls);
    while (!r.EndOfList()) {
        const std::string name = r.ReadShortString();
        if (SameText(name, kVersionProp)) {
            r.ReadListBegin(name);
            const int32_t major = r.ReadInteger(name);
            const int32_t minor = r.ReadInteger(name);
            const int32_t release = r.ReadInteger(name);
            const int32_t build = r.ReadInteger(name);
            if (!r.EndOfList()) CcnStreamFail("Неверный номер версии");
            FVersion.SetVersion(uint8_t(major), uint8_t(minor), uint8_t(release), uint32_t(build));
            versionRead = true;
            if (FVersion.OnAfterRead) FVersion.OnAfterRead();
        } else if (SameText(name, kMaxIDProp)) {
            maxID = r.ReadInteger(name);
        } else if (SameText(name, kListProp)) {
            if (r.ReadTag() != vaCollection) ThrowWrongTag(name);
            items.clear();
            for (size_t count = 0; r.NextCollectionItem(count);) {
                auto item = std::make_unique<TccnConnection>();
                ReadItem(r, *item);
                items.push_back(std::move(item));
            }
        } else {
            NoProperty(name);
        }
    }
    r.ReadObjectEnd();

    // Identifiers must keep growing even when a stored counter lags behind its items.
    for (const auto& c : items)
        maxID = std::max(maxID, c->ConID);
    FItems = std::move(items);
    FMaxID = maxID;
    stream.SetPosition(start + r.Position());

    // Lists written before the address was stored separately carry the factory number as
    // the meter address.
    if (versionRead && TVersionInfo::CompareVersions(FLoadedVersion, TVersionInfo()) < 0) {
        for (const auto& c : FItems) {
            auto* p = dynamic_cast<TccnKavrenProtocol*>(c->CustomDeviceProtocol());
            if (p != nullptr && c->CustomDevice() != nullptr)
                p->SetDeviceAddress(uint16_t(uint32_t(c->CustomDevice()->FactoryNum()) & 0xFFFF));
        }
    }
}

void TccnConnectionList::LoadText(TccnMemoryStream& stream) {
    size_t pos = stream.Position();
    std::string binary;
    try {
        binary = ObjectTextToBinary(stream.Data(), pos);
    } catch (const std::exception& e) {
        Clear();
        throw EccnStreamError(std::string(ConnectionListFormatErrorText) + e.what());
    }
    TccnMemoryStream tmp(std::move(binary));
    LoadFromStream(tmp, sfBinary);
    stream.SetPosition(pos);
}

void TccnConnectionList::LoadFromStream(TccnMemoryStream& stream, TStreamFormat format) {
    switch (format) {
    case sfBinary:
        try {
            LoadBinary(stream);
        } catch (const std::exception& e) {
            Clear();
            throw EccnStreamError(std::string(ConnectionListFormatErrorText) + e.what());
        }
        return;
    case sfText:
        LoadText(stream);
        return;
    case sfAuto:
        break;
    default:
        throw EccnError("Загрузка из потока в неизвестном формате не поддерживается");
    }
    const size_t start = stream.Position();
    std::string binaryError;
    try {
        LoadFromStream(stream, sfBinary);
        return;
    } catch (const std::exception& e) {
        binaryError = e.what();
    }
    stream.SetPosition(start);
    try {
        LoadFromStream(stream, sfText);
    } catch (const std::exception& e) {
        throw EccnStreamError(
            std::string("Ошибка загрузки данных. Неверный формат.\r\n\r\nОшибка чтения в бинарном "
                        "виде: ") +
            binaryError + "\r\n" + "\r\n" + "Ошибка чтения в текстовом виде: " + e.what());
    }
}

bool TccnConnectionList::TryLoadFromStream(TccnMemoryStream& stream, TStreamFormat format) {
    try {
        LoadFromStream(stream, format);
        return true;
    } catch (const std::exception&) {
        Clear();
        return false;
    }
}

void TccnConnectionList::CheckAssign(const TccnPersistent& Source) const {
    if (!Source.InheritsFrom(TccnConnectionList::Class)) InvalidCast();
}

void TccnConnectionList::DoAssign(const TccnPersistent& Source) {
    TccnMemoryStream ms;
    static_cast<const TccnConnectionList&>(Source).SaveToStream(ms, sfBinary);
    ms.SetPosition(0);
    LoadFromStream(ms, sfAuto);
}

} // namespace qz
