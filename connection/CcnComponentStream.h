// The object stream format of the connection list: a binary form (signature "TPF0", the
// class and object names, then named, tagged property values) and a text form with the
// same content ("object ... end", one "name = value" line per property). Readers take the
// bytes as untrusted: every length is checked against what is left, nesting is bounded,
// and any fault is an EccnStreamError with a readable text.
#pragma once

#include "connection/CcnConnectionClasses.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qz {

class EccnStreamError : public EccnError {
public:
    using EccnError::EccnError;
};

// Throws EccnStreamError with the text: a stream that cannot be read or written.
[[noreturn]] void CcnStreamFail(const std::string& text);

// Value tags of the binary form.
enum TccnValueTag : uint8_t {
    vaNull = 0, // end of a list
    vaList = 1, // values up to vaNull
    vaInt8 = 2, // signed integers, the smallest that holds the value
    vaInt16 = 3,
    vaInt32 = 4,
    vaString = 6,   // 1 length byte, single-byte characters
    vaIdent = 7,    // 1 length byte, characters
    vaBinary = 10,  // 4-byte length, bytes
    vaLString = 12, // 4-byte length, single-byte characters
    vaCollection = 14,
    vaWString = 18, // 4-byte count of UTF-16LE units
    vaUTF8String = 20,
};

// The deepest nesting of lists and collections a reader accepts.
constexpr int MaxValueDepth = 32;

// The most items one collection may hold. An empty item costs two bytes in the stream but a
// whole connection in memory, so without a bound a stream of the largest file read would
// claim about a gigabyte; no list an operator keeps comes near this.
constexpr size_t MaxCollectionItems = 100000;

// The text of the format error for a collection with more items.
extern const char* const kccnMsgTooManyItems;

// A byte buffer with a position, the stream the list is saved to and loaded from.
class TccnMemoryStream {
public:
    TccnMemoryStream() = default;
    explicit TccnMemoryStream(std::string data) : FData(std::move(data)) {}

    const std::string& Data() const { return FData; }
    size_t Size() const { return FData.size(); }
    size_t Position() const { return FPosition; }
    // Positions beyond the end are clamped to the end.
    void SetPosition(size_t pos) { FPosition = pos < FData.size() ? pos : FData.size(); }
    // Writes at the position, overwriting and extending as needed.
    void Write(const std::string& bytes);
    void Clear() {
        FData.clear();
        FPosition = 0;
    }

private:
    std::string FData;
    size_t FPosition = 0;
};

// Appends binary-form values to a byte string.
class TccnBinaryWriter {
public:
    explicit TccnBinaryWriter(std::string& out) : FOut(out) {}

    // Signature, class name and object name.
    void WriteObjectBegin(const std::string& className, const std::string& objectName);
    // Closes the property list and the (empty) list of child objects.
    void WriteObjectEnd();
    // A short string: one length byte and the code page 1251 characters.
    void WriteShortString(const std::string& utf8);
    void WritePropName(const std::string& name) { WriteShortString(name); }
    void WriteTag(TccnValueTag tag) { FOut.push_back(char(tag)); }
    // The smallest of tags 2, 3, 4 that holds the value.
    void WriteInteger(int32_t value);
    // Tag 6 or 12 for plain ASCII text, tag 20 for other text that is compact in UTF-8,
    // tag 18 otherwise.
    void WriteString(const std::string& utf8);
    void WriteIdent(const std::string& ident);
    void WriteBinary(const std::string& bytes);
    void WriteListBegin() { WriteTag(vaList); }
    void WriteListEnd() { WriteTag(vaNull); }

private:
    void WriteLength(uint32_t n);
    std::string& FOut;
};

// Reads binary-form values from a byte range; never reads past its end.
class TccnBinaryReader {
public:
    TccnBinaryReader(const char* data, size_t size) : FData(data), FSize(size) {}
    explicit TccnBinaryReader(const std::string& s) : TccnBinaryReader(s.data(), s.size()) {}
    // The reader keeps a pointer to the bytes, so it never reads a temporary.
    explicit TccnBinaryReader(std::string&&) = delete;

    size_t Position() const { return FPos; }

    // Signature, class name and object name; returns the class name.
    std::string ReadObjectBegin(std::string* objectName = nullptr);
    // Expects the end of the child list after the property list has ended.
    void ReadObjectEnd();
    std::string ReadShortString();
    uint8_t ReadTag();
    uint8_t PeekTag();
    // Consumes a vaNull tag when one comes next.
    bool EndOfList();
    // Inside a collection: false (the closing vaNull consumed) at its end; otherwise reads
    // the item's vaList tag and counts the item in `count`. A tag other than vaList, or an
    // item beyond MaxCollectionItems, is a format error.
    bool NextCollectionItem(size_t& count);

    // Tag and value; a different tag is an error naming the property.
    int32_t ReadInteger(const std::string& prop);
    std::string ReadString(const std::string& prop);
    std::string ReadIdent(const std::string& prop);
    std::string ReadBinary(const std::string& prop);
    void ReadListBegin(const std::string& prop);

    // The value data after a tag already read.
    int32_t ReadIntegerData(uint8_t tag);
    std::string ReadStringData(uint8_t tag);
    std::string ReadRawBytes(size_t n);
    uint32_t ReadLength();

private:
    void Need(size_t n);
    const char* FData;
    size_t FSize;
    size_t FPos = 0;
};

[[noreturn]] void ThrowWrongTag(const std::string& prop);

// Text form of one binary-form object starting at pos; pos moves past it.
std::string ObjectBinaryToText(const std::string& binary, size_t& pos);
// Binary form of one text-form object starting at pos; pos moves past its "end".
std::string ObjectTextToBinary(const std::string& text, size_t& pos);

// UTF-16 and UTF-8; malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);

} // namespace qz
