#include "settings/InMemoryIni.h"

#include "common/Cp1251.h"
#include "settings/AtomicFile.h"

#include <utility>

namespace qz {
namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

// The bounds of [begin, end) without blanks and control characters at either side.
void Trim(const char*& begin, const char*& end) {
    while (begin < end && IsBlank(*begin))
        ++begin;
    while (end > begin && IsBlank(end[-1]))
        --end;
}

std::string TrimUtf8(const std::string& s) {
    const char* b = s.data();
    const char* e = b + s.size();
    Trim(b, e);
    return std::string(b, e);
}

std::string Decode(const char* begin, const char* end) {
    return Cp1251ToUtf8(reinterpret_cast<const uint8_t*>(begin), size_t(end - begin));
}

// A line break inside a name or a value would split it into lines of its own on the next
// read (and could forge a key): control characters inside names and values become spaces as
// soon as they enter the image, so what is in memory is what the file will hold.
std::string Clean(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return s;
}

// The form under which a name is indexed.
std::string LookupKey(const std::string& name) {
    return FoldNameCase(TrimUtf8(Clean(name)));
}

} // namespace

std::string FoldNameCase(const std::string& s) {
    std::string out = s;
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = char(c + 0x20);
            continue;
        }
        if (i + 1 >= out.size()) break;
        const unsigned char n = static_cast<unsigned char>(out[i + 1]);
        if (c == 0xD0 && n >= 0x90 && n <= 0x9F) { // А..П -> а..п
            out[i + 1] = char(n + 0x20);
        } else if (c == 0xD0 && n >= 0xA0 && n <= 0xAF) { // Р..Я -> р..я
            out[i] = char(0xD1);
            out[i + 1] = char(n - 0x20);
        } else if (c == 0xD0 && n >= 0x80 && n <= 0x8F) { // Ѐ..Џ (Ё, Ў, Є ...) -> ѐ..џ
            out[i] = char(0xD1);
            out[i + 1] = char(n + 0x10);
        } else if (c == 0xD2 && n == 0x90) { // Ґ -> ґ
            out[i + 1] = char(0x91);
        }
        if (c >= 0xC0) ++i; // skip the second byte of the pair
    }
    return out;
}

bool ParseInteger(const std::string& text, int32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    // Decimal must stay within the signed range; hexadecimal may use all 32 bits, so that
    // "$FFFFFFFF" is -1 as a 32-bit pattern.
    const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    uint64_t acc = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        acc = acc * uint64_t(base) + uint64_t(d);
        if (acc > limit) return false;
    }
    uint32_t bits = uint32_t(acc);
    if (negative) bits = ~bits + 1u;
    value = int32_t(bits);
    return true;
}

TInMemoryIni::TInMemoryIni(std::string fileName) : fileName_(std::move(fileName)) {
    std::string data;
    bool absent = false;
    std::string error;
    if (ReadWholeFile(fileName_, data, absent, &error))
        SetText(data);
    else if (!absent)
        loadError_ = error;
}

void TInMemoryIni::Clear() {
    sections_.clear();
    sectionIndex_.clear();
}

void TInMemoryIni::SetText(const std::string& text) {
    Clear();
    Section* current = nullptr;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r')
            ++lineEnd;
        const char* b = p;
        const char* e = lineEnd;
        // Past the line break: "\r\n" counts as one.
        p = lineEnd;
        if (p < end && *p == '\r') ++p;
        if (p < end && *p == '\n') ++p;

        Trim(b, e);
        if (b == e || *b == ';' || *b == '#') continue;
        if (*b == '[') {
            if (e - b >= 2 && e[-1] == ']') {
                const char* nb = b + 1;
                const char* ne = e - 1;
                Trim(nb, ne);
                current = &AddSection(Decode(nb, ne));
            } else {
                current = nullptr;
            }
            continue;
        }
        if (!current) continue;
        const char* eq = b;
        while (eq < e && *eq != '=')
            ++eq;
        if (eq == e) continue;
        const char* kb = b;
        const char* ke = eq;
        const char* vb = eq + 1;
        const char* ve = e;
        Trim(kb, ke);
        Trim(vb, ve);
        if (kb == ke) continue;
        const std::string key = Decode(kb, ke);
        if (!FindEntry(*current, key)) SetValue(*current, key, Decode(vb, ve));
    }
}

std::string TInMemoryIni::GetText() const {
    std::string out;
    for (const Section& s : sections_) {
        out += '[';
        out += Utf8ToCp1251(s.Name);
        out += "]\n";
        for (const Entry& en : s.Entries) {
            out += Utf8ToCp1251(en.Key);
            out += '=';
            out += Utf8ToCp1251(en.Value);
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

const TInMemoryIni::Section* TInMemoryIni::FindSection(const std::string& name) const {
    const auto it = sectionIndex_.find(LookupKey(name));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

TInMemoryIni::Section& TInMemoryIni::AddSection(const std::string& name) {
    const std::string trimmed = TrimUtf8(Clean(name));
    const std::string folded = FoldNameCase(trimmed);
    const auto it = sectionIndex_.find(folded);
    if (it != sectionIndex_.end()) return sections_[it->second];
    sectionIndex_.emplace(folded, sections_.size());
    sections_.push_back(Section{trimmed, {}, {}});
    return sections_.back();
}

const TInMemoryIni::Entry* TInMemoryIni::FindEntry(const Section& s, const std::string& key) {
    const auto it = s.Index.find(LookupKey(key));
    return it == s.Index.end() ? nullptr : &s.Entries[it->second];
}

void TInMemoryIni::SetValue(Section& s, const std::string& key, const std::string& value) {
    const std::string trimmed = TrimUtf8(Clean(key));
    const std::string folded = FoldNameCase(trimmed);
    const auto it = s.Index.find(folded);
    if (it != s.Index.end()) {
        s.Entries[it->second].Value = Clean(value);
        return;
    }
    s.Index.emplace(folded, s.Entries.size());
    s.Entries.push_back(Entry{trimmed, Clean(value)});
}

bool TInMemoryIni::SectionExists(const std::string& section) const {
    return FindSection(section) != nullptr;
}

bool TInMemoryIni::ValueExists(const std::string& section, const std::string& key) const {
    const Section* s = FindSection(section);
    return s && FindEntry(*s, key);
}

std::string TInMemoryIni::ReadString(const std::string& section, const std::string& key,
                                     const std::string& def) const {
    const Section* s = FindSection(section);
    if (!s) return def;
    const Entry* e = FindEntry(*s, key);
    return e ? e->Value : def;
}

void TInMemoryIni::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
    SetValue(AddSection(section), key, value);
}

int32_t TInMemoryIni::ReadInteger(const std::string& section, const std::string& key,
                                  int32_t def) const {
    int32_t v = 0;
    return ParseInteger(TrimUtf8(ReadString(section, key, std::string())), v) ? v : def;
}

void TInMemoryIni::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TInMemoryIni::DeleteKey(const std::string& section, const std::string& key) {
    const auto sit = sectionIndex_.find(LookupKey(section));
    if (sit == sectionIndex_.end()) return;
    Section& s = sections_[sit->second];
    const auto it = s.Index.find(LookupKey(key));
    if (it == s.Index.end()) return;
    s.Entries.erase(s.Entries.begin() + std::ptrdiff_t(it->second));
    s.Index.clear();
    for (size_t i = 0; i < s.Entries.size(); ++i)
        s.Index.emplace(FoldNameCase(s.Entries[i].Key), i);
}

void TInMemoryIni::EraseSection(const std::string& section) {
    const auto sit = sectionIndex_.find(LookupKey(section));
    if (sit == sectionIndex_.end()) return;
    sections_.erase(sections_.begin() + std::ptrdiff_t(sit->second));
    sectionIndex_.clear();
    for (size_t i = 0; i < sections_.size(); ++i)
        sectionIndex_.emplace(FoldNameCase(sections_[i].Name), i);
}

std::vector<std::string> TInMemoryIni::ReadSections() const {
    std::vector<std::string> out;
    out.reserve(sections_.size());
    for (const Section& s : sections_)
        out.push_back(s.Name);
    return out;
}

std::vector<std::string> TInMemoryIni::ReadSection(const std::string& section) const {
    std::vector<std::string> out;
    if (const Section* s = FindSection(section))
        for (const Entry& e : s->Entries)
            out.push_back(e.Key);
    return out;
}

bool TInMemoryIni::UpdateFile(std::string* error) {
    if (fileName_.empty()) {
        if (error) *error = "Не задано имя файла настроек";
        return false;
    }
    // A file that exists but could not be read holds settings this image never saw; writing
    // the image over it would destroy them.
    if (!loadError_.empty()) {
        if (error) *error = "Файл настроек не был прочитан и не перезаписан. " + loadError_;
        return false;
    }
    return WriteFileAtomically(fileName_, GetText(), error);
}

} // namespace qz
