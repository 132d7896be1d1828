// Operating-system utilities of churnmill: the system's kind and folders, and
// the default web browser, noted once at program start, and opening a web
// page in that browser.
#pragma once

#include <cstdint>
#include <string>

#include "platform/msg/Msg.h"
#include "platform/shell/Shell.h"

namespace vexa::OSUtils {

// 0 Win32s, 1 Windows 95, 2 Windows 98, 3 NT 3.51, 4 NT 4, 5 NT 5; 0 before
// detection and for every other version (this platform among them).
extern uint8_t OSKind;
// The parent folders of the system's two folders, lower case, each with its
// trailing separator.
extern std::string WindowsParentFolder;
extern std::string SystemParentFolder;
// The browser the registry names ("" when none was found), and the program
// OpenURL starts ("" means none).
extern std::string FoundBrowser;
extern std::string BrowserPath;

// The unit's start-up (once, however often it is called): DetectOS, the two
// folders, FindDefaultBrowser, BrowserPath := FoundBrowser.
void Initialize();
// The unit's shut-down: the four texts are emptied.
void Finalize();

// OSKind from the platform's version information.
void DetectOS();
// The classification DetectOS applies; Current is kept for an NT version
// outside the list.
uint8_t ClassifyOS(const plat::OSVERSIONINFO& Info, uint8_t Current);

// Path up to and including its last separator ("" when it has none).
std::string ParentFolderOf(const std::string& Path);

// FoundBrowser from the registry: HKEY_LOCAL_MACHINE SOFTWARE\Classes\.html
// names the document type, whose shell\open\command holds the command line;
// its text before the first blank is the browser when that file exists.
void FindDefaultBrowser();

// Starts BrowserPath with the URL (in double quotes) as its one parameter, in
// the browser's own folder. Without a browser it shows "Unable to find a web
// browser. Install one or try connecting manually." and answers false; else
// it answers whether the browser started.
bool OpenURL(const std::string& URL, plat::HWND ParentWindow);

}  // namespace vexa::OSUtils
