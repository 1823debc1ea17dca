// The user's known folders and the product folders below them.
//
// Folder identifiers keep their 16-byte form so that callers name a folder the usual way;
// on this system they map to the XDG folders: local application data is the XDG data home,
// documents the XDG documents folder. Every path returned ends in exactly one '/'.
#pragma once

#include <cstdint>
#include <string>

namespace qz {

struct TGUID {
    uint32_t D1;
    uint16_t D2;
    uint16_t D3;
    uint8_t D4[8];
};

bool operator==(const TGUID& a, const TGUID& b);
inline bool operator!=(const TGUID& a, const TGUID& b) {
    return !(a == b);
}

// {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}
inline constexpr TGUID FOLDERID_LocalAppData{
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
// {FDD39AD0-238F-46AF-ADB4-6C85480369C7}
inline constexpr TGUID FOLDERID_Documents{
    0xFDD39AD0, 0x238F, 0x46AF, {0xAD, 0xB4, 0x6C, 0x85, 0x48, 0x03, 0x69, 0xC7}};
// {62AB5D82-FDC1-4DC3-A9DD-070D1D495D97}
inline constexpr TGUID FOLDERID_ProgramData{
    0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}};
// {ED4824AF-DCE4-45A8-81E2-FC7965083634}
inline constexpr TGUID FOLDERID_PublicDocuments{
    0xED4824AF, 0xDCE4, 0x45A8, {0x81, 0xE2, 0xFC, 0x79, 0x65, 0x08, 0x36, 0x34}};

// The maker's folder between a known folder and a product folder.
inline constexpr char kMakerFolder[] = "VQ";

// The folder with a trailing '/', or "" for a folder this system does not have (the shared
// folders: program data, public documents) or an identifier it does not know.
std::string GetKnownFolderPath(const TGUID& folderId);
std::string GetLocalAppDataPath();
std::string GetDocumentsPath();

// base + "/" (unless base ends in one) + "VQ/" + product + "/". An empty base gives "": a
// product folder is never placed relative to the working folder or at the file-system root.
std::string MakeProductFolder(const std::string& base, const std::string& product);

// The legacy numeric folder code of an identifier: local application data 28, documents 5,
// program data 35, public documents 46. Any other identifier is a programming error and
// fails an assertion.
int KnownFolderToCsidl(const TGUID& folderId);

// Creates the folder with all missing parents. True when it exists afterwards.
bool ForceDirectories(const std::string& path, std::string* error = nullptr);

} // namespace qz
