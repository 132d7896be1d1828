// labels: unit
// The demo's operating-system utilities: version classification, the parent
// folders, the default browser as the registry names it (from the store or
// from the desktop's MIME defaults) and opening a page in it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "demo/OSUtils.h"
#include "framework/Dialogs.h"
#include "framework/Registry.h"
#include "platform/registry/Registry.h"
#include "platform/shell/Shell.h"
#include "tests/support/Files.h"
#include "tests/support/TestSession.h"

namespace vexa::test {
namespace {

using namespace std::chrono_literals;
using vexa::test::ReadFile;
using vexa::test::WriteFile;

plat::OSVERSIONINFO Version(plat::DWORD platform, plat::DWORD major, plat::DWORD minor) {
  plat::OSVERSIONINFO v;
  v.dwPlatformId = platform;
  v.dwMajorVersion = major;
  v.dwMinorVersion = minor;
  return v;
}

TEST(OSUtils, VersionsAreClassifiedAndUnknownNTVersionsKeepTheValue) {
  using namespace plat;
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32s, 3, 11), 4), 0);
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 0), 0), 1);
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 10), 0), 2);
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 90), 0), 1);
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32_NT, 3, 51), 0), 3);
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32_NT, 3, 50), 2), 2);
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32_NT, 4, 0), 0), 4);
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32_NT, 5, 1), 0), 5);
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32_NT, 6, 1), 0), 0);
  EXPECT_EQ(OSUtils::ClassifyOS(Version(VER_PLATFORM_WIN32_NT, 6, 1), 3), 3);

  // This platform reports itself as an NT of the kernel's release.
  OSVERSIONINFO here;
  ASSERT_TRUE(GetVersionEx(&here));
  EXPECT_EQ(here.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_GE(here.dwMajorVersion, 2u);
}

TEST(OSUtils, ParentFoldersEndWithTheirSeparatorInLowerCase) {
  EXPECT_EQ(OSUtils::ParentFolderOf("/usr/lib"), "/usr/");
  EXPECT_EQ(OSUtils::ParentFolderOf("/usr"), "/");
  EXPECT_EQ(OSUtils::ParentFolderOf("/opt/Vexa/bin/"), "/opt/Vexa/bin/");
  EXPECT_EQ(OSUtils::ParentFolderOf("nofolder"), "");
  TestSession session;
  OSUtils::Initialize();
  EXPECT_EQ(OSUtils::WindowsParentFolder, "/");
  EXPECT_EQ(OSUtils::SystemParentFolder, "/usr/");
  OSUtils::Finalize();
  EXPECT_EQ(OSUtils::WindowsParentFolder, "");
  EXPECT_EQ(OSUtils::SystemParentFolder, "");
}

// A private desktop: its own settings folders, a browser program that writes
// down how it was started, and the test's own registry.
class Browser : public ::testing::Test {
protected:
  void SetUp() override {
    Root = Session.Root();
    for (const char* d : {"/config", "/xdg", "/data", "/data/applications", "/sys", "/sys/applications",
                          "/bin", "/bin/My Browser"}) {
      mkdir((Root + d).c_str(), 0700);
    }
    setenv("XDG_CONFIG_HOME", (Root + "/config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (Root + "/xdg").c_str(), 1);
    setenv("XDG_DATA_HOME", (Root + "/data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (Root + "/sys").c_str(), 1);
    unsetenv("XDG_CURRENT_DESKTOP");
    Program = Root + "/bin/browser";
    WriteFile(Program,
              "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; } > \"" + Root + "/started.tmp\"\n"
              "mv \"" + Root + "/started.tmp\" \"" + Root + "/started\"\n",
              true);
    fw::SetDialogResponder([this](const fw::TDialogRequest& r) {
      Messages.push_back(r.Text);
      return 0;
    });
  }
  void TearDown() override {
    fw::SetDialogResponder(nullptr);
    OSUtils::Finalize();
  }

  void StoreClasses(const std::string& docType, const std::string& command) {
    fw::TRegistry w;
    w.SetRootKey(fw::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(w.OpenKey("\\SOFTWARE\\Classes\\.html", true));
    w.WriteString("", docType);
    ASSERT_TRUE(w.OpenKey("\\SOFTWARE\\Classes\\" + docType + "\\shell\\open\\command", true));
    w.WriteString("", command);
  }
  void DesktopEntry(const std::string& dir, const std::string& id, const std::string& exec) {
    WriteFile(Root + dir + "/" + id, "[Desktop Entry]\nType=Application\nName=Browser\nExec=" + exec + "\n");
  }
  // The default value of HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.html ("" when absent).
  static std::string HtmlDocType() {
    plat::HKEY k;
    if (plat::RegOpenKeyEx(fw::HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.html", 0, fw::KEY_READ, &k) != 0) return "";
    std::string value;
    plat::RegQueryValue(k, "", nullptr, &value);
    plat::RegCloseKey(k);
    return value;
  }
  std::string Found() {
    OSUtils::FindDefaultBrowser();
    return OSUtils::FoundBrowser;
  }
  // What the browser wrote down once it ran; "" when it did not run in time.
  std::string Started() {
    std::string path = Root + "/started";
    for (int i = 0; i < 500 && access(path.c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(10ms);
    return ReadFile(path);
  }

  TestSession Session;
  std::string Root;
  std::string Program;
  std::vector<std::string> Messages;
};

TEST_F(Browser, TheCommandLinesProgramBeforeTheFirstBlankIsTheBrowserWhenItExists) {
  EXPECT_EQ(Found(), "") << "nothing registered";
  StoreClasses("htmlfile", Program + " -nohome %1");
  EXPECT_EQ(Found(), Program);
  StoreClasses("htmlfile", Root + "/bin/missing %1");
  EXPECT_EQ(Found(), "");
  StoreClasses("htmlfile", Program);
  EXPECT_EQ(Found(), "") << "a command line without a blank names no program";
  StoreClasses("htmlfile", "\"" + Program + "\" %1");
  EXPECT_EQ(Found(), "") << "a quoted program path names no file";
  StoreClasses("otherfile", Program + " %1");
  EXPECT_EQ(Found(), Program);
  {
    fw::TRegistry w;
    w.SetRootKey(fw::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(w.OpenKey("\\SOFTWARE\\Classes\\.html", false));
    w.WriteInteger("", 3);
  }
  EXPECT_EQ(Found(), "") << "a default value that is no text";
}

TEST_F(Browser, AQuotedBrowserPathFindsNoBrowserAndTheButtonSaysSo) {
  StoreClasses("htmlfile", "\"" + Program + "\" \"%1\"");
  OSUtils::Initialize();
  EXPECT_EQ(OSUtils::BrowserPath, "");
  EXPECT_FALSE(OSUtils::OpenURL("https://example.org/", 0));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "Unable to find a web browser. Install one or try connecting manually.");
}

TEST_F(Browser, OpenURLStartsTheBrowserInItsFolderWithTheQuotedAddress) {
  StoreClasses("htmlfile", Program + " %1");
  OSUtils::Initialize();
  ASSERT_EQ(OSUtils::BrowserPath, Program);
  EXPECT_TRUE(OSUtils::OpenURL("https://www.example.org/a page?x=1&y=2", 0));
  EXPECT_EQ(Started(), Root + "/bin\n[https://www.example.org/a page?x=1&y=2]\n");
  EXPECT_TRUE(Messages.empty());

  // A browser that cannot be run is reported as not started.
  chmod(Program.c_str(), 0644);
  EXPECT_FALSE(OSUtils::OpenURL("https://www.example.org/", 0));
  OSUtils::BrowserPath = Root + "/bin/missing";
  EXPECT_FALSE(OSUtils::OpenURL("https://www.example.org/", 0));
}

TEST_F(Browser, TheDesktopsDefaultHandlerOfHtmlAnswersTheRegistryReadOnly) {
  // Listed first but not installed: the next entry counts.
  WriteFile(Root + "/config/mimeapps.list",
            "[Added Associations]\ntext/html=other.desktop;\n"
            "[Default Applications]\ntext/plain=editor.desktop\ntext/html=gone.desktop;web-browser.desktop;\n");
  DesktopEntry("/data/applications", "web-browser.desktop", Program + " --new-window %u");
  EXPECT_EQ(Found(), Program);

  plat::HKEY k;
  ASSERT_EQ(plat::RegOpenKeyEx(fw::HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.html", 0, fw::KEY_READ, &k),
            plat::ERROR_SUCCESS);
  std::string value;
  ASSERT_EQ(plat::RegQueryValue(k, "", nullptr, &value), plat::ERROR_SUCCESS);
  EXPECT_EQ(value, "web-browser");
  plat::RegCloseKey(k);
  ASSERT_EQ(plat::RegOpenKeyEx(fw::HKEY_LOCAL_MACHINE, "Software\\Classes\\web-browser\\shell\\open\\command", 0,
                               fw::KEY_READ, &k),
            plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegQueryValue(k, "", nullptr, &value), plat::ERROR_SUCCESS);
  EXPECT_EQ(value, Program + " --new-window %1");
  plat::RegCloseKey(k);

  // Read only: no write access, no new keys there, nothing written to the store.
  EXPECT_EQ(plat::RegOpenKeyEx(fw::HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.html", 0, fw::KEY_ALL_ACCESS, &k),
            static_cast<plat::LSTATUS>(plat::ERROR_ACCESS_DENIED));
  fw::TRegistry w;
  w.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(w.OpenKey("\\SOFTWARE\\Classes\\.html", true));
  EXPECT_EQ(ReadFile(plat::RegistryFileOf(fw::HKEY_LOCAL_MACHINE)).find("Classes"), std::string::npos);

  // Within a folder the desktop's own list comes first; a program named
  // without a folder is searched in PATH; file codes become the placeholder,
  // other codes go.
  setenv("XDG_CURRENT_DESKTOP", "Test:Other", 1);
  WriteFile(Root + "/xdg/test-mimeapps.list", "[Default Applications]\ntext/html=plain.desktop\n");
  WriteFile(Root + "/xdg/mimeapps.list", "[Default Applications]\ntext/html=web-browser.desktop\n");
  DesktopEntry("/sys/applications", "plain.desktop", "browser %i %F --title=\"A \\\\\"B\\\\\"\"");
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (Root + "/bin:" + path).c_str(), 1);
  EXPECT_EQ(HtmlDocType(), "web-browser") << "the user's own list comes before the system's";
  unlink((Root + "/config/mimeapps.list").c_str());
  EXPECT_EQ(HtmlDocType(), "plain");
  EXPECT_EQ(Found(), Program);
  ASSERT_EQ(plat::RegOpenKeyEx(fw::HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\plain\\shell\\open\\command", 0,
                               fw::KEY_READ, &k),
            plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegQueryValue(k, "", nullptr, &value), plat::ERROR_SUCCESS);
  EXPECT_EQ(value, Program + " %1 \"--title=A \"B\"\"");
  plat::RegCloseKey(k);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(Found(), "") << "not in PATH: a bare name names no file";

  // A program path with a blank is quoted, and so names no browser.
  WriteFile(Root + "/bin/My Browser/run", "#!/bin/sh\n", true);
  DesktopEntry("/sys/applications", "plain.desktop", "\"" + Root + "/bin/My Browser/run\"");
  EXPECT_EQ(Found(), "");

  // A .html key the store file holds (written by hand) wins over the desktop.
  std::ofstream(plat::RegistryFileOf(fw::HKEY_LOCAL_MACHINE), std::ios::app)
      << "[SOFTWARE\\Classes\\.html]\n@=\"htmlfile\"\n[SOFTWARE\\Classes\\htmlfile\\shell\\open\\command]\n@=\""
      << Program << " %1\"\n";
  EXPECT_EQ(HtmlDocType(), "htmlfile");
  EXPECT_EQ(Found(), Program);
  ASSERT_EQ(plat::RegOpenKeyEx(fw::HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\plain", 0, fw::KEY_READ, &k),
            static_cast<plat::LSTATUS>(plat::ERROR_FILE_NOT_FOUND));
}

TEST(Shell, ParametersSplitAtBlanksWithQuotesGrouping) {
  EXPECT_EQ(plat::SplitCommandParameters("\"https://a b/\""), std::vector<std::string>{"https://a b/"});
  EXPECT_EQ(plat::SplitCommandParameters("  -x  \"\" y\"z w\" "),
            (std::vector<std::string>{"-x", "", "yz w"}));
  EXPECT_TRUE(plat::SplitCommandParameters("").empty());
  EXPECT_EQ(plat::ShellExecute(0, "print", "/bin/true", "", "", 1), plat::SE_ERR_NOASSOC);
  EXPECT_EQ(plat::ShellExecute(0, "", "/nonexistent/program", "", "", 1), plat::SE_ERR_FNF);
  EXPECT_EQ(plat::ShellExecute(0, "open", "/bin/true", "", "/nonexistent/folder", 1), plat::SE_ERR_PNF);
  EXPECT_EQ(plat::ShellExecute(0, "", "/etc/passwd", "", "", 1), plat::SE_ERR_ACCESSDENIED);
  EXPECT_GT(plat::ShellExecute(0, "OPEN", "/bin/true", "", "/", 1), 32);
}

}  // namespace
}  // namespace vexa::test
