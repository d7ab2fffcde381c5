#pragma once
// Where the program is, where it works, and which files of a folder match a mask.

#include <string>
#include <string_view>
#include <vector>

namespace sys {

// Full path of the running program's own file.
std::string ModulePath();

// The process's current directory (full path).
std::string CurrentDirectory();

// True when name matches the wildcard mask ('*' any run, '?' one character), without regard to
// letter case, as the Windows file list does. "*.*" matches every name. (Windows itself lists
// through the system's own search.)
bool MatchesMask(std::string_view name, std::string_view mask);

// Names (without directory) of the regular files in directory that match any of the masks
// joined with ';' (blanks around each mask ignored), each once, sorted without regard to case.
// On Windows hidden and system files are left out, as the system's file lists do.
// An unreadable directory gives an empty list.
std::vector<std::string> ListFiles(const std::string& directory, const std::string& masks);

// True when ListFiles of the file's own folder under masks lists the file at path, so that a
// name given outside a file list meets the list's rules (letter case, short names on Windows).
bool ListedUnderMasks(const std::string& path, const std::string& masks);

} // namespace sys
