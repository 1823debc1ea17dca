// The exported functions of libchanparam.so. Everything else in the library is hidden.
#include "chanparam/chanparam.h"

#include "chanparam/BoundedText.h"
#include "chanparam/RecordPages.h"

#include <cstring>

namespace qz {
namespace {

constexpr char kHeadName[] = "ParamCount";
constexpr char kChanelCountName[] = "ChanelCount";
constexpr char kChanelsName[] = "Chanels";
constexpr char kDllName[] = "DLL";
constexpr int16_t kChanelCountType = 4;
constexpr int16_t kChanelsType = CHANPARAM_TYPE_POINTER;
constexpr int16_t kDllType = CHANPARAM_TYPE_STRING;
constexpr int kRefused = -1;

// Bytes a value of `type` occupies in Value; 0 for strings (their own rule) and for codes
// that store nothing.
std::size_t FixedValueSize(int16_t type) {
    switch (type) {
    case 0:
    case 1:
        return 1;
    case 2:
    case 3:
        return 2;
    case 4:
    case 5:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
        return 4;
    case CHANPARAM_TYPE_POINTER:
        return sizeof(void*);
    default:
        return 0;
    }
}

TParamRecord* NewParam() {
    return static_cast<TParamRecord*>(AllocRecordPages(sizeof(TParamRecord)));
}

void FreeParam(TParamRecord* param) {
    FreeRecordPages(param, sizeof(TParamRecord));
}

TChanelRecord* NewChanel() {
    return static_cast<TChanelRecord*>(AllocRecordPages(sizeof(TChanelRecord)));
}

void FreeChanel(TChanelRecord* chanel) {
    FreeRecordPages(chanel, sizeof(TChanelRecord));
}

bool NameEquals(const TParamRecord* param, const char* name) {
    // Names are at most 31 bytes and always terminated inside the 64-byte field; comparing
    // one byte more than that tells a longer `name` apart without reading all of it.
    return std::strncmp(param->Name, name, CHANPARAM_NAME_MAX + 1) == 0;
}

// Only a record named "ParamCount" is a head: the operations that count parameters or own
// the channel list must not be handed a parameter from the middle of a list.
bool IsHead(const TParamRecord* record) {
    return record != nullptr && NameEquals(record, kHeadName);
}

uint8_t ParamCount(const TParamRecord* head) {
    return head->Value[0];
}

// The parameter `name` of the list, when it exists and has the type the library relies on.
TParamRecord* FindTyped(TParamRecord* head, const char* name, int16_t type) {
    TParamRecord* param = FindParam(head, name);
    return param != nullptr && param->Type == type ? param : nullptr;
}

TChanelRecord* ChanelsOf(const TParamRecord* chanels) {
    TChanelRecord* first = nullptr;
    std::memcpy(&first, chanels->Value, sizeof(first));
    return first;
}

void SetChanels(TParamRecord* chanels, TChanelRecord* first) {
    std::memcpy(chanels->Value, &first, sizeof(first));
}

void SetChanelCount(TParamRecord* count, uint32_t value) {
    std::memcpy(count->Value, &value, sizeof(value));
}

TParamRecord* NewHead() {
    TParamRecord* head = NewParam();
    if (head == nullptr) return nullptr;
    head->Index = 1;
    head->Type = 0;
    head->Flag = 1;
    std::memcpy(head->Name, kHeadName, sizeof(kHeadName));
    return head;
}

// Appends a device list's fixed parameter; false when no memory is left.
bool AddFixedParam(TParamRecord* head, const char* name, const char* comment, int16_t type) {
    TParamRecord* param = AddParam(head, name, comment, type);
    if (param == nullptr) return false;
    param->Flag = 1;
    return true;
}

} // namespace
} // namespace qz

using namespace qz;

extern "C" {

TParamRecord* CreateParamArray(void) {
    return NewHead();
}

TParamRecord* CreateDeviceParamArray(void) {
    TParamRecord* head = NewHead();
    if (head == nullptr) return nullptr;
    if (!AddFixedParam(head, kChanelCountName, "Количество каналов", kChanelCountType) ||
        !AddFixedParam(head, kChanelsName, "Указатель на список каналов", kChanelsType) ||
        !AddFixedParam(head, kDllName, "Имя библиотеки", kDllType)) {
        DeleteParamArray(head);
        return nullptr;
    }
    return head;
}

TParamRecord* AddParam(TParamRecord* head, const char* name, const char* comment, int16_t type) {
    if (!IsHead(head) || name == nullptr) return nullptr;
    if (BoundedLength(name, CHANPARAM_NAME_MAX + 1) > CHANPARAM_NAME_MAX) return nullptr;

    TParamRecord* last = head;
    for (TParamRecord* p = head; p != nullptr; p = p->Next) {
        if (NameEquals(p, name)) return p;
        last = p;
    }

    TParamRecord* param = NewParam();
    if (param == nullptr) return nullptr;
    const uint8_t count = static_cast<uint8_t>(ParamCount(head) + 1);
    head->Value[0] = count;
    param->Type = type;
    param->Index = static_cast<int8_t>(count);
    CopyTextField(param->Name, sizeof(param->Name), name);
    CopyTextField(param->Comment, sizeof(param->Comment), comment);
    param->Next = nullptr;
    last->Next = param;
    return param;
}

TParamRecord* FindParam(TParamRecord* first, const char* name) {
    if (name == nullptr) return nullptr;
    for (TParamRecord* p = first; p != nullptr; p = p->Next) {
        if (NameEquals(p, name)) return p;
    }
    return nullptr;
}

int SetParamComment(TParamRecord* param, const char* text) {
    if (param == nullptr || text == nullptr) return kRefused;
    CopyTextField(param->Comment, sizeof(param->Comment), text);
    return 0;
}

int SetParamValue(TParamRecord* param, const void* value) {
    if (param == nullptr || value == nullptr) return kRefused;
    if (param->Type == CHANPARAM_TYPE_STRING) {
        CopyTextField(reinterpret_cast<char*>(param->Value), sizeof(param->Value),
                      static_cast<const char*>(value));
        return 0;
    }
    const std::size_t size = FixedValueSize(param->Type);
    if (size > 0) {
        std::memset(param->Value, 0, sizeof(param->Value));
        std::memcpy(param->Value, value, size);
    }
    return 0;
}

int GetParamValue(TParamRecord* param, void* buffer) {
    if (param == nullptr || buffer == nullptr) return kRefused;
    if (param->Type == CHANPARAM_TYPE_STRING) {
        // The field is always terminated by SetParamValue; the bound also covers a caller
        // who wrote all 100 bytes directly: then the last byte is given as the zero.
        const char* text = reinterpret_cast<const char*>(param->Value);
        const std::size_t length = BoundedLength(text, CHANPARAM_TEXT_MAX);
        std::memcpy(buffer, text, length);
        static_cast<char*>(buffer)[length] = '\0';
        return 0;
    }
    const std::size_t size = FixedValueSize(param->Type);
    if (size > 0) std::memcpy(buffer, param->Value, size);
    return 0;
}

TChanelRecord* AddChanel(TParamRecord* head, uint16_t number) {
    if (!IsHead(head)) return nullptr;
    TParamRecord* count = FindTyped(head, kChanelCountName, kChanelCountType);
    TParamRecord* chanels = FindTyped(head, kChanelsName, kChanelsType);
    if (count == nullptr || chanels == nullptr) return nullptr;

    TChanelRecord* chanel = NewChanel();
    if (chanel == nullptr) return nullptr;
    chanel->Number = number;
    chanel->Next = nullptr;

    // The count is taken from the list itself rather than from "ChanelCount": a caller who
    // reset the count must not make the library drop the channels it still holds.
    uint32_t length = 1;
    TChanelRecord* last = ChanelsOf(chanels);
    if (last == nullptr) {
        SetChanels(chanels, chanel);
    } else {
        ++length;
        while (last->Next != nullptr) {
            last = last->Next;
            ++length;
        }
        last->Next = chanel;
    }
    SetChanelCount(count, length);
    return chanel;
}

TChanelRecord* FindChanel(TParamRecord* head, uint16_t number) {
    if (!IsHead(head)) return nullptr;
    TParamRecord* chanels = FindTyped(head, kChanelsName, kChanelsType);
    if (chanels == nullptr) return nullptr;
    for (TChanelRecord* c = ChanelsOf(chanels); c != nullptr; c = c->Next) {
        if (c->Number == number) return c;
    }
    return nullptr;
}

int DeleteChanelArray(TParamRecord* head) {
    if (!IsHead(head)) return kRefused;
    TParamRecord* chanels = FindTyped(head, kChanelsName, kChanelsType);
    if (chanels == nullptr) return 0;
    // Freed whenever channels hang on the list, whatever "ChanelCount" says.
    TChanelRecord* c = ChanelsOf(chanels);
    while (c != nullptr) {
        TChanelRecord* next = c->Next;
        FreeChanel(c);
        c = next;
    }
    SetChanels(chanels, nullptr);
    if (TParamRecord* count = FindTyped(head, kChanelCountName, kChanelCountType)) {
        SetChanelCount(count, 0);
    }
    return 0;
}

int DeleteParamArray(TParamRecord* head) {
    if (!IsHead(head)) return kRefused;
    DeleteChanelArray(head);
    TParamRecord* p = head;
    while (p != nullptr) {
        TParamRecord* next = p->Next;
        FreeParam(p);
        p = next;
    }
    return 0;
}

} // extern "C"
