// The SQLite file layer the recorder writes its journal through: the system's own, except
// that each commit to the log ends on a 4 KiB boundary of the log file.
//
// Every synced commit costs whole 4 KiB pages of the kernel's cache (and of the flash under
// it): a commit that ends inside a page leaves it half written, and the next commit writes
// that page again, as a new page to the disk. Told that the disk cannot overwrite part of a
// 4 KiB sector safely, SQLite pads each commit of the log with copies of its last frame up to
// the next 4 KiB boundary, syncs there, and lets the next commit start in the page after it.
// A committed record then never shares a sector with later writes either. The database file
// itself is given 512-byte sectors, so that its pages are still written one by one.
//
// Only the writer needs it: the files stay ordinary SQLite files, and readers open them
// with the default layer, in this process or any other.
#pragma once

namespace qz {

// The name to pass to sqlite3_open_v2; registered on the first call (never the default).
// Null when it could not be registered: the default layer then serves.
const char* AlignedCommitVfs();

} // namespace qz
