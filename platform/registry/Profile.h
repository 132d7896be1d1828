// Profile (INI) files: "[Section]" lines and "Key=Value" lines below them.
//
// Sections and keys compare without regard to the case of a-z; keys and
// values are trimmed of blanks; a value in matching double or single quotes
// reads without them. Lines starting with ';' or '#' are comments. Reading
// never fails: a missing file, section or key gives the default, and lines
// that are not sound are skipped. A file that cannot be read (not a regular
// file, no read permission, larger than 16 MB) reads as empty, and writes to
// it fail and leave it as it is; PrivateProfileFileProblem tells why.
//
// Writing changes only the line of the key (or adds it at the end of its
// section, or the section at the end of the file) and keeps every other line
// byte for byte: comments, order, other sections and lines it cannot read.
// The file is replaced atomically (temporary file, then rename) under an
// exclusive lock (flock on its folder), so concurrent writers do not lose each
// other's changes; a writable file in a folder that cannot be written is
// rewritten in place under a lock on the file. New files get LF line ends;
// existing CR LF files keep them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace plat {

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);
int32_t GetPrivateProfileInt(const std::string& section, const std::string& key,
                             int32_t defaultValue, const std::string& fileName);
// False (last error set) when the file cannot be written.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName);
bool DeletePrivateProfileKey(const std::string& section, const std::string& key,
                             const std::string& fileName);
bool DeletePrivateProfileSection(const std::string& section, const std::string& fileName);

// Section names in file order (each once).
std::vector<std::string> GetPrivateProfileSectionNames(const std::string& fileName);
// The keys and values of a section in file order (first of duplicates).
std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(
    const std::string& section, const std::string& fileName);
bool PrivateProfileSectionExists(const std::string& section, const std::string& fileName);
// Why an existing file cannot be read ("is a named pipe", "cannot be read:
// Permission denied", ...); "" when it can be, or does not exist.
std::string PrivateProfileFileProblem(const std::string& fileName);

}  // namespace plat
