#include "demo/OSUtils.h"

#include <memory>

#include "framework/Dialogs.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"

namespace vexa::OSUtils {

uint8_t OSKind = 0;
std::string WindowsParentFolder;
std::string SystemParentFolder;
std::string FoundBrowser;
std::string BrowserPath;

namespace {

bool gInitialized = false;

// Opens the levels one at a time below HKEY_LOCAL_MACHINE; false at the first
// that does not exist. Reading needs no write rights: asking for them would
// hide the browser from every user who may not change machine settings.
bool OpenLevels(fw::TRegistry& Reg, std::initializer_list<std::string> Levels) {
  Reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  for (const std::string& level : Levels) {
    if (!Reg.OpenKey(level, false)) return false;
  }
  return true;
}

// The key's default value; false when it cannot be read as text.
bool ReadDefault(fw::TRegistry& Reg, std::string& Value) {
  try {
    Value = Reg.ReadString("");
    return true;
  } catch (const fw::Exception&) {
    return false;
  }
}

}  // namespace

void Initialize() {
  if (gInitialized) return;
  gInitialized = true;
  DetectOS();
  WindowsParentFolder = fw::LowerCase(ParentFolderOf(plat::GetWindowsDirectory()));
  SystemParentFolder = fw::LowerCase(ParentFolderOf(plat::GetSystemDirectory()));
  FindDefaultBrowser();
  BrowserPath = FoundBrowser;
}

void Finalize() {
  gInitialized = false;  // a later start-up detects everything afresh
  WindowsParentFolder.clear();
  SystemParentFolder.clear();
  FoundBrowser.clear();
  BrowserPath.clear();
}

uint8_t ClassifyOS(const plat::OSVERSIONINFO& Info, uint8_t Current) {
  switch (Info.dwPlatformId) {
    case plat::VER_PLATFORM_WIN32s:
      return 0;
    case plat::VER_PLATFORM_WIN32_WINDOWS:
      return Info.dwMinorVersion == 10 ? 2 : 1;
    case plat::VER_PLATFORM_WIN32_NT:
      if (Info.dwMajorVersion == 3 && Info.dwMinorVersion >= 51) return 3;
      if (Info.dwMajorVersion == 4) return 4;
      if (Info.dwMajorVersion == 5) return 5;
      return Current;
    default:
      return Current;
  }
}

void DetectOS() {
  plat::OSVERSIONINFO info;
  if (plat::GetVersionEx(&info)) OSKind = ClassifyOS(info, OSKind);
}

std::string ParentFolderOf(const std::string& Path) {
  size_t slash = Path.rfind('/');
  return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

void FindDefaultBrowser() {
  FoundBrowser.clear();
  std::string docType;
  {
    fw::TRegistry reg(fw::KEY_READ);
    if (!OpenLevels(reg, {"SOFTWARE", "Classes", ".html"})) return;
    if (!ReadDefault(reg, docType) || docType.empty()) return;
  }
  fw::TRegistry reg(fw::KEY_READ);
  if (!OpenLevels(reg, {"SOFTWARE", "Classes", docType, "shell", "open", "command"})) return;
  std::string command;
  if (!ReadDefault(reg, command)) return;
  size_t blank = command.find(' ');
  // A command line without a blank gives no name; a quoted program path does
  // not name a file either.
  std::string program = blank == std::string::npos ? std::string() : command.substr(0, blank);
  if (!program.empty() && fw::FileExists(program)) FoundBrowser = program;
}

bool OpenURL(const std::string& URL, plat::HWND ParentWindow) {
  if (BrowserPath.empty()) {
    fw::ShowMessage("Unable to find a web browser. Install one or try connecting manually.");
    return false;
  }
  // Values of any length are passed whole.
  intptr_t result = plat::ShellExecute(ParentWindow, "", BrowserPath, "\"" + URL + "\"",
                                       fw::ExtractFilePath(BrowserPath), plat::SW_SHOWNORMAL);
  return result > 32;
}

}  // namespace vexa::OSUtils
