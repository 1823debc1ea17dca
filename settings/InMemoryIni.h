// An ini file held in memory.
//
// The whole file is parsed when it is opened; reads and writes act on the memory image only;
// UpdateFile writes the whole image back, replacing the file atomically. Section and key
// names are compared without regard to case (Latin and Cyrillic letters). On disk the text is
// code page 1251; in memory every name and value is UTF-8.
//
// Text syntax, as this reader understands it:
//   - lines end in LF, CR LF or a lone CR; the written file uses LF;
//   - blank lines and lines starting with ';' or '#' are comments, dropped on rewrite;
//   - "[name]" starts a section; spaces around the name are ignored;
//   - "key=value" belongs to the current section; spaces and control characters around the
//     key and the value are ignored;
//   - a line without '=', a key line before the first section, and every line below a
//     broken header ("[name" without "]") until the next good header are ignored, so keys
//     never land in a section they were not written in;
//   - of duplicate keys the first counts; a repeated section continues the first one.
// Names and values that enter the image have their control characters (line breaks, zero
// bytes) turned into spaces; spaces at either end of a value do not survive the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace qz {

class TInMemoryIni {
public:
    // An empty image bound to no file; UpdateFile fails until a file name is set.
    TInMemoryIni() = default;
    // Opens `fileName`: an absent file gives an empty image; a file that cannot be read
    // gives an empty image and a LoadError text.
    explicit TInMemoryIni(std::string fileName);
    virtual ~TInMemoryIni() = default;

    const std::string& FileName() const { return fileName_; }
    // Why the file could not be read; empty when it was read or did not exist.
    const std::string& LoadError() const { return loadError_; }

    // Replaces the image by the parsed code page 1251 text.
    void SetText(const std::string& cp1251);
    // The image as code page 1251 text, the form written to the file.
    std::string GetText() const;
    void Clear();

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    // A value that is not a whole number in the 32-bit range reads as `def`. Decimal with an
    // optional sign, or hexadecimal after "$" or "0x".
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    void DeleteKey(const std::string& section, const std::string& key);
    void EraseSection(const std::string& section);

    // Names in file order.
    std::vector<std::string> ReadSections() const;
    std::vector<std::string> ReadSection(const std::string& section) const;

    // Writes the image to the file (atomically). On failure returns false, leaves the old
    // file as it was and puts the reason into `error` when given. A file that exists but
    // could not be read when the image was opened (see LoadError) is never overwritten.
    virtual bool UpdateFile(std::string* error = nullptr);

private:
    struct Entry {
        std::string Key, Value;
    };
    struct Section {
        std::string Name;
        std::vector<Entry> Entries;
        std::unordered_map<std::string, size_t> Index; // folded key -> entry
    };

    const Section* FindSection(const std::string& name) const;
    Section& AddSection(const std::string& name);
    static const Entry* FindEntry(const Section& s, const std::string& key);
    static void SetValue(Section& s, const std::string& key, const std::string& value);

    std::string fileName_;
    std::string loadError_;
    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> sectionIndex_; // folded name -> section
};

// The case-insensitive form of a UTF-8 name: Latin and Cyrillic capitals become small.
std::string FoldNameCase(const std::string& utf8);

// Parses an integer as ReadInteger does. Returns false for anything else.
bool ParseInteger(const std::string& text, int32_t& value);

} // namespace qz
