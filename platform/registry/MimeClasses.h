// HKEY_LOCAL_MACHINE\SOFTWARE\Classes answered from the desktop's MIME
// defaults, read only. Programs look up the web browser there the way they
// always have: ".html" names a document type whose "shell\open\command" holds
// the command line of the default handler of text/html. These keys are never
// written to the store file; opening them for writing is refused with
// ERROR_ACCESS_DENIED. A store that holds a ".html" key there itself answers
// from the file alone (an operator's own setting wins).
//
// The default handler is found as the desktop finds it: mimeapps.list in
// $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS, $XDG_DATA_HOME/applications and
// $XDG_DATA_DIRS/applications (each folder's "<desktop>-mimeapps.list" for the
// names in $XDG_CURRENT_DESKTOP first), group [Default Applications], key
// text/html; the first listed entry whose desktop file is installed wins.
// Without one, the subtree answers nothing.
//
//   SOFTWARE\Classes\.html                   @ = "<desktop file id without .desktop>"
//   SOFTWARE\Classes\<id>\shell\open\command @ = "<program> <arguments>"
//
// The command line is the desktop file's Exec with its program made a full
// path (searched in $PATH when given without a folder; a program path with a
// blank in double quotes), its URL and file field codes as "%1" (appended when
// there is none) and its other field codes dropped.
#pragma once

#include <string>
#include <vector>

namespace plat::mimeclasses {

// The key whose presence in the store file turns the desktop's answer off.
inline constexpr const char* kHtmlKey = "SOFTWARE\\Classes\\.html";

struct ClassKey {
  std::string Path;          // below HKEY_LOCAL_MACHINE
  bool HasDefault = false;   // whether the key has a default value
  std::string Default;
};

// The keys as the desktop's settings give them now, parents before children;
// none when no default handler of text/html is installed.
std::vector<ClassKey> Keys();

// The command line made of a desktop file's Exec value ("" when it holds no program).
std::string CommandLineOfExec(const std::string& exec);

}  // namespace plat::mimeclasses
