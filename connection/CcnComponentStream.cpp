#include "connection/CcnComponentStream.h"

#include "common/Cp1251.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qz {

namespace {

const char kSignature[4] = {'T', 'P', 'F', '0'};
const char* const kNewLine = "\r\n";

// Decodes UTF-8 into code points; a malformed byte becomes U+FFFD and decoding goes on
// with the next byte.
std::vector<char32_t> DecodeUtf8(const std::string& utf8) {
    std::vector<char32_t> out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        char32_t cp = 0;
        out.push_back(NextUtf8(s, n, i, cp) ? cp : char32_t(0xFFFD));
    }
    return out;
}

bool IsAscii(const std::string& s) {
    for (char c : s)
        if (uint8_t(c) >= 0x80) return false;
    return true;
}

} // namespace

void CcnStreamFail(const std::string& text) {
    throw EccnStreamError(text);
}

const char* const kccnMsgTooManyItems = "Слишком много элементов коллекции";

std::u16string Utf8ToUtf16(const std::string& utf8) {
    std::u16string out;
    for (char32_t cp : DecodeUtf8(utf8)) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& utf16) {
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t u = utf16[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD; // a lone surrogate is no character
        }
        AppendUtf8(out, u);
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Memory stream.

void TccnMemoryStream::Write(const std::string& bytes) {
    if (FPosition + bytes.size() > FData.size()) FData.resize(FPosition + bytes.size());
    std::memcpy(&FData[FPosition], bytes.data(), bytes.size());
    FPosition += bytes.size();
}

// ---------------------------------------------------------------------------------------
// Writer.

void TccnBinaryWriter::WriteObjectBegin(const std::string& className,
                                        const std::string& objectName) {
    FOut.append(kSignature, 4);
    WriteShortString(className);
    WriteShortString(objectName);
}

void TccnBinaryWriter::WriteObjectEnd() {
    WriteTag(vaNull); // end of the properties
    WriteTag(vaNull); // end of the child objects
}

void TccnBinaryWriter::WriteShortString(const std::string& utf8) {
    std::string s = Utf8ToCp1251(utf8);
    if (s.size() > 255) s.resize(255);
    FOut.push_back(char(uint8_t(s.size())));
    FOut += s;
}

void TccnBinaryWriter::WriteLength(uint32_t n) {
    for (int i = 0; i < 4; ++i)
        FOut.push_back(char((n >> (8 * i)) & 0xFF));
}

void TccnBinaryWriter::WriteInteger(int32_t value) {
    if (value >= -128 && value <= 127) {
        WriteTag(vaInt8);
        FOut.push_back(char(int8_t(value)));
    } else if (value >= -32768 && value <= 32767) {
        WriteTag(vaInt16);
        const uint16_t u = uint16_t(int16_t(value));
        FOut.push_back(char(u & 0xFF));
        FOut.push_back(char(u >> 8));
    } else {
        WriteTag(vaInt32);
        WriteLength(uint32_t(value));
    }
}

void TccnBinaryWriter::WriteString(const std::string& utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    // The UTF-8 form measured as it will be written (malformed bytes already replaced).
    const std::string clean = Utf16ToUtf8(wide);
    if (clean.size() < 2 * wide.size()) {
        if (IsAscii(clean)) {
            if (clean.size() <= 255) {
                WriteTag(vaString);
                FOut.push_back(char(uint8_t(clean.size())));
            } else {
                WriteTag(vaLString);
                WriteLength(uint32_t(clean.size()));
            }
            FOut += clean;
        } else {
            WriteTag(vaUTF8String);
            WriteLength(uint32_t(clean.size()));
            FOut += clean;
        }
        return;
    }
    WriteTag(vaWString);
    WriteLength(uint32_t(wide.size()));
    for (char16_t u : wide) {
        FOut.push_back(char(u & 0xFF));
        FOut.push_back(char(u >> 8));
    }
}

void TccnBinaryWriter::WriteIdent(const std::string& ident) {
    WriteTag(vaIdent);
    WriteShortString(ident);
}

void TccnBinaryWriter::WriteBinary(const std::string& bytes) {
    WriteTag(vaBinary);
    WriteLength(uint32_t(bytes.size()));
    FOut += bytes;
}

// ---------------------------------------------------------------------------------------
// Reader.

void ThrowWrongTag(const std::string& prop) {
    CcnStreamFail("Неверный тип значения свойства " + prop);
}

void TccnBinaryReader::Need(size_t n) {
    if (n > FSize - FPos) CcnStreamFail("Неожиданный конец потока");
}

std::string TccnBinaryReader::ReadRawBytes(size_t n) {
    Need(n);
    std::string s(FData + FPos, n);
    FPos += n;
    return s;
}

uint8_t TccnBinaryReader::ReadTag() {
    Need(1);
    return uint8_t(FData[FPos++]);
}

uint8_t TccnBinaryReader::PeekTag() {
    Need(1);
    return uint8_t(FData[FPos]);
}

bool TccnBinaryReader::EndOfList() {
    if (PeekTag() != vaNull) return false;
    ++FPos;
    return true;
}

bool TccnBinaryReader::NextCollectionItem(size_t& count) {
    if (EndOfList()) return false;
    if (ReadTag() != vaList) CcnStreamFail("Неверный формат элемента коллекции");
    if (++count > MaxCollectionItems) CcnStreamFail(kccnMsgTooManyItems);
    return true;
}

uint32_t TccnBinaryReader::ReadLength() {
    Need(4);
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
        n |= uint32_t(uint8_t(FData[FPos + i])) << (8 * i);
    FPos += 4;
    return n;
}

std::string TccnBinaryReader::ReadShortString() {
    const uint8_t len = ReadTag();
    return Cp1251ToUtf8(ReadRawBytes(len));
}

std::string TccnBinaryReader::ReadObjectBegin(std::string* objectName) {
    Need(4);
    if (std::memcmp(FData + FPos, kSignature, 4) != 0) CcnStreamFail("Неверный формат потока");
    FPos += 4;
    std::string cls = ReadShortString();
    std::string name = ReadShortString();
    if (objectName) *objectName = name;
    return cls;
}

void TccnBinaryReader::ReadObjectEnd() {
    if (!EndOfList()) CcnStreamFail("Вложенные объекты в потоке не поддерживаются");
}

int32_t TccnBinaryReader::ReadIntegerData(uint8_t tag) {
    switch (tag) {
    case vaInt8:
        return int8_t(ReadTag());
    case vaInt16: {
        Need(2);
        const uint16_t u = uint16_t(uint8_t(FData[FPos]) | (uint8_t(FData[FPos + 1]) << 8));
        FPos += 2;
        return int16_t(u);
    }
    case vaInt32:
        return int32_t(ReadLength());
    default:
        CcnStreamFail("Неверный тип целого значения");
    }
}

std::string TccnBinaryReader::ReadStringData(uint8_t tag) {
    switch (tag) {
    case vaString:
        return Cp1251ToUtf8(ReadRawBytes(ReadTag()));
    case vaLString:
        return Cp1251ToUtf8(ReadRawBytes(ReadLength()));
    case vaUTF8String:
        // Re-encoded so that malformed bytes never reach the model.
        return Utf16ToUtf8(Utf8ToUtf16(ReadRawBytes(ReadLength())));
    case vaWString: {
        const uint32_t count = ReadLength();
        Need(size_t(count) * 2); // checked before anything is allocated
        std::u16string w(count, u'\0');
        for (uint32_t i = 0; i < count; ++i)
            w[i] = char16_t(uint8_t(FData[FPos + 2 * i]) | (uint8_t(FData[FPos + 2 * i + 1]) << 8));
        FPos += size_t(count) * 2;
        return Utf16ToUtf8(w);
    }
    default:
        CcnStreamFail("Неверный тип строкового значения");
    }
}

int32_t TccnBinaryReader::ReadInteger(const std::string& prop) {
    const uint8_t tag = ReadTag();
    if (tag != vaInt8 && tag != vaInt16 && tag != vaInt32) ThrowWrongTag(prop);
    return ReadIntegerData(tag);
}

std::string TccnBinaryReader::ReadString(const std::string& prop) {
    const uint8_t tag = ReadTag();
    if (tag != vaString && tag != vaLString && tag != vaWString && tag != vaUTF8String)
        ThrowWrongTag(prop);
    return ReadStringData(tag);
}

std::string TccnBinaryReader::ReadIdent(const std::string& prop) {
    if (ReadTag() != vaIdent) ThrowWrongTag(prop);
    return ReadShortString();
}

std::string TccnBinaryReader::ReadBinary(const std::string& prop) {
    if (ReadTag() != vaBinary) ThrowWrongTag(prop);
    return ReadRawBytes(ReadLength());
}

void TccnBinaryReader::ReadListBegin(const std::string& prop) {
    if (ReadTag() != vaList) ThrowWrongTag(prop);
}

// ---------------------------------------------------------------------------------------
// Binary -> text.

namespace {

const char kHex[] = "0123456789ABCDEF";
constexpr size_t kHexBytesPerLine = 32;

// A string in the text notation: printable ASCII quoted, every other character as
// '#' and its UTF-16 code.
std::string QuoteString(const std::string& utf8) {
    std::string out;
    bool inQuote = false;
    for (char16_t u : Utf8ToUtf16(utf8)) {
        if (u >= 32 && u < 127) {
            if (!inQuote) out += '\'';
            inQuote = true;
            if (u == '\'') out += '\'';
            out += char(u);
        } else {
            if (inQuote) out += '\'';
            inQuote = false;
            out += '#';
            out += std::to_string(unsigned(u));
        }
    }
    if (inQuote) out += '\'';
    if (out.empty()) out = "''";
    return out;
}

class TBinaryToText {
public:
    TBinaryToText(TccnBinaryReader& r, std::string& out) : R(r), Out(out) {}

    void Object() {
        std::string name;
        const std::string cls = R.ReadObjectBegin(&name);
        Out += "object ";
        if (!name.empty()) Out += name + ": ";
        Out += cls;
        Out += kNewLine;
        Properties(1, 0);
        R.ReadObjectEnd();
        Out += "end";
        Out += kNewLine;
    }

private:
    void Indent(int level) { Out.append(size_t(level) * 2, ' '); }

    void Properties(int level, int depth) {
        while (!R.EndOfList()) {
            const std::string name = R.ReadShortString();
            Indent(level);
            Out += name + " = ";
            Value(level, depth);
            Out += kNewLine;
        }
    }

    void Value(int level, int depth) {
        const uint8_t tag = R.ReadTag();
        switch (tag) {
        case vaList:
            if (depth >= MaxValueDepth) CcnStreamFail("Слишком глубокая вложенность значений");
            Out += '(';
            while (!R.EndOfList()) {
                Out += kNewLine;
                Indent(level + 1);
                Value(level + 1, depth + 1);
            }
            Out += ')';
            break;
        case vaInt8:
        case vaInt16:
        case vaInt32:
            Out += std::to_string(R.ReadIntegerData(tag));
            break;
        case vaString:
        case vaLString:
        case vaWString:
        case vaUTF8String:
            Out += QuoteString(R.ReadStringData(tag));
            break;
        case vaIdent:
            Out += R.ReadShortString();
            break;
        case vaBinary: {
            const std::string bytes = R.ReadRawBytes(R.ReadLength());
            Out += '{';
            for (size_t i = 0; i < bytes.size(); ++i) {
                if (i % kHexBytesPerLine == 0) {
                    Out += kNewLine;
                    Indent(level + 1);
                }
                Out += kHex[uint8_t(bytes[i]) >> 4];
                Out += kHex[uint8_t(bytes[i]) & 15];
            }
            Out += '}';
            break;
        }
        case vaCollection:
            if (depth >= MaxValueDepth) CcnStreamFail("Слишком глубокая вложенность значений");
            Out += '<';
            for (size_t items = 0; R.NextCollectionItem(items);) {
                Out += kNewLine;
                Indent(level + 1);
                Out += "item";
                Out += kNewLine;
                Properties(level + 2, depth + 1);
                Indent(level + 1);
                Out += "end";
            }
            Out += '>';
            break;
        default:
            CcnStreamFail("Неизвестный тип значения " + std::to_string(tag));
        }
    }

    TccnBinaryReader& R;
    std::string& Out;
};

} // namespace

std::string ObjectBinaryToText(const std::string& binary, size_t& pos) {
    if (pos > binary.size()) CcnStreamFail("Неожиданный конец потока");
    TccnBinaryReader r(binary.data() + pos, binary.size() - pos);
    std::string out;
    TBinaryToText(r, out).Object();
    pos += r.Position();
    return out;
}

// ---------------------------------------------------------------------------------------
// Text -> binary.

namespace {

enum class TTok { End, Symbol, Integer, String, Char };

class TTextParser {
public:
    TTextParser(const std::string& text, size_t pos, std::string& out) : S(text), P(pos), W(out) {
        for (size_t i = 0; i < pos && i < S.size(); ++i)
            if (S[i] == '\n') ++Line;
        Next();
    }

    void Object() {
        if (Tok != TTok::Symbol || !SameText(Text, "object")) Error("ожидается object");
        Next();
        std::string name, cls = ExpectSymbol();
        if (Tok == TTok::Char && Text == ":") {
            Next();
            name = cls;
            cls = ExpectSymbol();
        }
        W.WriteObjectBegin(cls, name);
        Properties(0);      // closes the property list
        W.WriteTag(vaNull); // and the (empty) list of child objects
    }

    size_t EndPos() const { return End; }

private:
    static bool SameText(const std::string& a, const char* b) {
        if (a.size() != std::strlen(b)) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            char x = a[i], y = b[i];
            if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
            if (x != y) return false;
        }
        return true;
    }

    [[noreturn]] void Error(const std::string& what) {
        CcnStreamFail("Ошибка в строке " + std::to_string(Line) + ": " + what);
    }

    std::string ExpectSymbol() {
        if (Tok != TTok::Symbol) Error("ожидается идентификатор");
        std::string s = Text;
        Next();
        return s;
    }

    void ExpectChar(char c) {
        if (Tok != TTok::Char || Text[0] != c) Error(std::string("ожидается ") + c);
        Next();
    }

    bool IsChar(char c) const { return Tok == TTok::Char && Text[0] == c; }

    // Properties up to (and including) "end".
    void Properties(int depth) {
        for (;;) {
            if (Tok == TTok::End) Error("нет end");
            if (Tok == TTok::Symbol && SameText(Text, "end")) {
                End = TokEnd;
                Next();
                W.WriteTag(vaNull);
                return;
            }
            if (Tok == TTok::Symbol && SameText(Text, "object"))
                Error("вложенные объекты не поддерживаются");
            const std::string name = ExpectSymbol();
            W.WritePropName(name);
            ExpectChar('=');
            Value(depth);
        }
    }

    void Value(int depth) {
        switch (Tok) {
        case TTok::Integer: {
            errno = 0;
            char* endp = nullptr;
            const long long v = std::strtoll(Text.c_str(), &endp, 10);
            if (errno != 0 || v < INT32_MIN || v > INT32_MAX) Error("число вне диапазона");
            W.WriteInteger(int32_t(v));
            Next();
            return;
        }
        case TTok::String:
            W.WriteString(Utf16ToUtf8(Str));
            Next();
            return;
        case TTok::Symbol:
            W.WriteIdent(Text);
            Next();
            return;
        case TTok::Char:
            break;
        case TTok::End:
            Error("ожидается значение");
        }
        if (depth >= MaxValueDepth) Error("слишком глубокая вложенность значений");
        if (IsChar('(')) {
            Next();
            W.WriteListBegin();
            while (!IsChar(')')) {
                if (Tok == TTok::End) Error("нет )");
                Value(depth + 1);
            }
            Next();
            W.WriteListEnd();
        } else if (IsChar('<')) {
            Next();
            W.WriteTag(vaCollection);
            for (size_t items = 0; !IsChar('>');) {
                if (Tok != TTok::Symbol || !SameText(Text, "item")) Error("ожидается item");
                if (++items > MaxCollectionItems) Error(kccnMsgTooManyItems);
                Next();
                W.WriteTag(vaList);
                Properties(depth + 1);
            }
            Next();
            W.WriteTag(vaNull);
        } else if (IsChar('{')) {
            W.WriteBinary(Hex);
            Next();
        } else {
            Error("неверное значение");
        }
    }

    // --- tokenizer ---

    static bool IsIdentStart(char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    void SkipBlanks() {
        while (P < S.size()) {
            const char c = S[P];
            if (c == '\n')
                ++Line;
            else if (c != ' ' && c != '\t' && c != '\r')
                break;
            ++P;
        }
    }

    void Next() {
        Scan();
        TokEnd = P;
    }

    void Scan() {
        SkipBlanks();
        Text.clear();
        if (P >= S.size()) {
            Tok = TTok::End;
            return;
        }
        const char c = S[P];
        if (IsIdentStart(c)) {
            while (P < S.size() && (IsIdentStart(S[P]) || IsDigit(S[P]) || S[P] == '.'))
                Text += S[P++];
            Tok = TTok::Symbol;
        } else if (IsDigit(c) ||
                   ((c == '-' || c == '+') && P + 1 < S.size() && IsDigit(S[P + 1]))) {
            Text += S[P++];
            while (P < S.size() && IsDigit(S[P])) {
                if (Text.size() > 20) Error("число вне диапазона");
                Text += S[P++];
            }
            Tok = TTok::Integer;
        } else if (c == '\'' || c == '#') {
            ReadStringToken();
        } else if (c == '{') {
            ReadHexToken();
        } else {
            Text = std::string(1, c);
            ++P;
            Tok = TTok::Char;
        }
    }

    // Quoted parts and #codes, glued together, and joined across lines by '+'.
    void ReadStringToken() {
        Str.clear();
        Tok = TTok::String;
        for (;;) {
            if (P < S.size() && S[P] == '\'') {
                ++P;
                for (;;) {
                    if (P >= S.size() || S[P] == '\n' || S[P] == '\r') Error("строка не закрыта");
                    if (S[P] == '\'') {
                        if (P + 1 < S.size() && S[P + 1] == '\'') {
                            Str.push_back(u'\'');
                            P += 2;
                            continue;
                        }
                        ++P;
                        break;
                    }
                    QuotedChar();
                }
            } else if (P < S.size() && S[P] == '#') {
                ++P;
                uint32_t code = 0;
                if (P >= S.size() || !IsDigit(S[P])) Error("неверный код символа");
                while (P < S.size() && IsDigit(S[P])) {
                    code = code * 10 + uint32_t(S[P++] - '0');
                    if (code > 0x10FFFF) Error("неверный код символа");
                }
                if (code >= 0x10000) {
                    code -= 0x10000;
                    Str.push_back(char16_t(0xD800 + (code >> 10)));
                    Str.push_back(char16_t(0xDC00 + (code & 0x3FF)));
                } else {
                    Str.push_back(char16_t(code));
                }
            } else {
                // A '+' continues the string on the next part.
                const size_t save = P;
                const int saveLine = Line;
                SkipBlanks();
                if (P < S.size() && S[P] == '+') {
                    ++P;
                    SkipBlanks();
                    if (P < S.size() && (S[P] == '\'' || S[P] == '#')) continue;
                    Error("ожидается продолжение строки");
                }
                P = save;
                Line = saveLine;
                return;
            }
        }
    }

    // One character inside quotes: UTF-8 when the bytes form a UTF-8 sequence, otherwise
    // a code page 1251 byte.
    void QuotedChar() {
        const uint8_t b = uint8_t(S[P]);
        if (b < 0x80) {
            Str.push_back(char16_t(b));
            ++P;
            return;
        }
        size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (len > 0 && P + len <= S.size()) {
            const std::vector<char32_t> cps = DecodeUtf8(S.substr(P, len));
            if (cps.size() == 1 && cps[0] != 0xFFFD) {
                const std::u16string u = Utf8ToUtf16(S.substr(P, len));
                Str += u;
                P += len;
                return;
            }
        }
        Str.push_back(char16_t(Cp1251ToUnicode(b)));
        ++P;
    }

    void ReadHexToken() {
        ++P; // '{'
        Hex.clear();
        int nibble = -1;
        for (;;) {
            if (P >= S.size()) Error("нет }");
            const char c = S[P++];
            int v;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (c == '}')
                break;
            else if (c == ' ' || c == '\t' || c == '\r')
                continue;
            else if (c == '\n') {
                ++Line;
                continue;
            } else
                Error("неверная шестнадцатеричная цифра");
            if (nibble < 0) {
                nibble = v;
            } else {
                Hex.push_back(char((nibble << 4) | v));
                nibble = -1;
            }
        }
        if (nibble >= 0) Error("нечётное число шестнадцатеричных цифр");
        Tok = TTok::Char;
        Text = "{";
    }

    const std::string& S;
    size_t P;
    int Line = 1;
    TccnBinaryWriter W;
    TTok Tok = TTok::End;
    std::string Text;
    std::u16string Str;
    std::string Hex;
    size_t End = 0;
    size_t TokEnd = 0;
};

} // namespace

std::string ObjectTextToBinary(const std::string& text, size_t& pos) {
    std::string out;
    TTextParser parser(text, pos, out);
    parser.Object();
    pos = parser.EndPos();
    return out;
}

} // namespace qz
