// labels: integration
// The settings store: values shared between processes, concurrent writers,
// read-only stores, damaged files, the text form and the vexareg command.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Files.h"
#include "tests/support/TestSession.h"

using namespace plat;
using vexa::test::BinPath;
using vexa::test::ChildProcess;
using vexa::test::ReadFile;
using vexa::test::WriteFile;

namespace {

const char* const kServerKey = "Software\\VEXA Software\\Lumidex\\NotifyServer";

LSTATUS SetString(HKEY k, const std::string& name, const std::string& v) {
  return RegSetValueEx(k, name, REG_SZ, v.c_str(), static_cast<DWORD>(v.size() + 1));
}

std::string GetString(HKEY root, const std::string& key, const std::string& name) {
  HKEY k;
  if (RegOpenKeyEx(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return "<no key>";
  std::string data;
  DWORD type = 0;
  LSTATUS st = RegQueryValue(k, name, &type, &data);
  RegCloseKey(k);
  return st == ERROR_SUCCESS ? data : "<missing>";
}

std::string RunPeer(const std::vector<std::string>& args, int* status = nullptr) {
  ChildProcess p(BinPath("RegistryStorePeer"), args);
  std::string out;
  while (auto line = p.ReadLine(std::chrono::seconds(20))) out += *line + "\n";
  auto code = p.Wait(std::chrono::seconds(20));
  if (status) *status = code.value_or(-1);
  return out;
}

}  // namespace

TEST(RegistryStore, ValueWrittenByOneProcessIsReadByAnother) {
  vexa::test::TestSession session;
  HKEY k;
  DWORD disp = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kServerKey, KEY_ALL_ACCESS, &k, &disp),
            ERROR_SUCCESS);
  EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
  ASSERT_EQ(SetString(k, "Location", "/opt/vexa/bin/beaconhub"), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_EQ(RunPeer({"read", kServerKey, "location"}), "/opt/vexa/bin/beaconhub\n");

  int status = -1;
  RunPeer(
      {"write", "software\\vexa software\\lumidex\\notifyserver", "DezazErurDB", "/data/demo.fdb"},
      &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kServerKey, "DezazErurDB"), "/data/demo.fdb");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kServerKey, "Location"), "/opt/vexa/bin/beaconhub");
}

TEST(RegistryStore, TwoProcessesWritingOneKeyAtOnceBothKeepTheirValues) {
  vexa::test::TestSession session;
  const char* key = "Software\\VEXA Software\\Lumidex\\ClientGateway\\Default";
  ChildProcess a(BinPath("RegistryStorePeer"), {"write-many", key, "A", "60"});
  ChildProcess b(BinPath("RegistryStorePeer"), {"write-many", key, "B", "60"});
  EXPECT_EQ(a.Wait(std::chrono::seconds(60)), 0);
  EXPECT_EQ(b.Wait(std::chrono::seconds(60)), 0);
  HKEY k;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &k), ERROR_SUCCESS);
  DWORD subKeys = 9, values = 0;
  ASSERT_EQ(RegQueryInfoKey(k, &subKeys, &values), ERROR_SUCCESS);
  EXPECT_EQ(values, 120u);
  EXPECT_EQ(subKeys, 0u);
  RegCloseKey(k);
  for (int i = 0; i < 60; ++i) {
    for (const char* p : {"A", "B"}) {
      std::string name = p + std::to_string(i);
      EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, key, name), "value of " + name);
    }
  }
}

TEST(RegistryStore, ReadOnlyStoreRefusesWriteAccessButCanBeRead) {
  vexa::test::TestSession session;
  HKEY k;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kServerKey, KEY_ALL_ACCESS, &k, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(SetString(k, "Location", "/x"), ERROR_SUCCESS);
  std::string file = RegistryFileOf(HKEY_LOCAL_MACHINE);
  std::string before = ReadFile(file);
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);

  EXPECT_EQ(SetString(k, "Location", "/y"), static_cast<LSTATUS>(ERROR_ACCESS_DENIED))
      << "an open key cannot be written once the store is read-only";
  RegCloseKey(k);
  HKEY w = 1234;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_ALL_ACCESS, &w),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\New", KEY_ALL_ACCESS, &w, nullptr),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  HKEY r;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_READ, &r), ERROR_SUCCESS);
  EXPECT_EQ(SetString(r, "Location", "/z"), static_cast<LSTATUS>(ERROR_ACCESS_DENIED))
      << "a key opened for reading is not written";
  RegCloseKey(r);
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kServerKey, "Location"), "/x");
  EXPECT_EQ(ReadFile(file), before);

  // A store folder that cannot be written: no key can be made.
  ASSERT_EQ(chmod(file.c_str(), 0644), 0);
  ASSERT_EQ(chmod(session.RegistryDir().c_str(), 0555), 0);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software", KEY_ALL_ACCESS, &w, nullptr),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  chmod(session.RegistryDir().c_str(), 0755);
}

TEST(RegistryStore, DamagedFileIsReadAsFarAsSoundAndAWriteKeepsTheSoundValues) {
  vexa::test::TestSession session;
  std::string file = RegistryFileOf(HKEY_LOCAL_MACHINE);
  WriteFile(file,
            "; hand edited\n"
            "[Software\\VEXA Software\\Lumidex\\NotifyServer]\n"
            "\"Location\"=\"/opt/vexa/beaconhub\"\n"
            "\"Port\"=dword:5500\n"
            "\"Bad\"=dword:99999999999\n"
            "garbage line \x01\xff\n"
            "\"NoEnd\"=\"unterminated\n"
            "@=\"default text\"\n"
            "[Software\\Broken\n"
            "\"Lost\"=\"belongs to no sound key\"\n"
            "[Software\\VEXA Software\\Lumidex\\ClientGateway\\Default]\n"
            "\"Address\"=\"10.0.0.9\"\n"
            "\"Params\"=\"\\\"Default\\\"\"\n"
            "\"Cut\"=\"trunc");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kServerKey, "Location"), "/opt/vexa/beaconhub");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kServerKey, ""), "default text");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kServerKey, "NoEnd"), "<missing>");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kServerKey, "Bad"), "<missing>");
  const char* gw = "Software\\VEXA Software\\Lumidex\\ClientGateway\\Default";
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, gw, "Params"), "\"Default\"");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, gw, "Cut"), "<missing>");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, "Software\\Broken", "Lost"), "<no key>");
  HKEY k;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  DWORD type = 0, port = 0, size = 4;
  ASSERT_EQ(RegQueryValueEx(k, "Port", &type, &port, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(port, 5500u);
  ASSERT_EQ(SetString(k, "Location", "/usr/bin/beaconhub"), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_EQ(ReadFile(file),
            "; Vexa settings store: HKEY_LOCAL_MACHINE\n"
            "\n[Software]\n"
            "\n[Software\\VEXA Software]\n"
            "\n[Software\\VEXA Software\\Lumidex]\n"
            "\n[Software\\VEXA Software\\Lumidex\\NotifyServer]\n"
            "\"Location\"=\"/usr/bin/beaconhub\"\n"
            "\"Port\"=dword:5500\n"
            "@=\"default text\"\n"
            "\n[Software\\VEXA Software\\Lumidex\\ClientGateway]\n"
            "\n[Software\\VEXA Software\\Lumidex\\ClientGateway\\Default]\n"
            "\"Address\"=\"10.0.0.9\"\n"
            "\"Params\"=\"\\\"Default\\\"\"\n");
}

// A store reached through a link is written where the link leads; one that is
// no store at all is never replaced, and the program that tried says so once.
TEST(RegistryStore, LinkedStoreIsWrittenThroughAndOneThatIsNoStoreIsLeftAsItIs) {
  vexa::test::TestSession session;
  const std::string file = RegistryFileOf(HKEY_LOCAL_MACHINE);
  const std::string real = session.Root() + "/elsewhere.reg";
  WriteFile(real, "[Software\\Kept]\n\"Mine\"=\"yes\"\n");
  ASSERT_EQ(symlink(real.c_str(), file.c_str()), 0);
  int status = -1;
  RunPeer({"write", kServerKey, "Location", "/x"}, &status);
  EXPECT_EQ(status, 0);
  struct stat st;
  ASSERT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kServerKey, "Location"), "/x");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, "Software\\Kept", "Mine"), "yes");

  ASSERT_EQ(unlink(file.c_str()), 0);
  std::string garbage(1 << 20, '\0');
  uint32_t x = 12345;
  for (char& c : garbage) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  WriteFile(file, garbage);
  ChildProcess p(BinPath("RegistryStorePeer"), {"write-many", kServerKey, "V", "3"}, {}, true);
  EXPECT_EQ(p.Wait(std::chrono::seconds(20)), 1);
  std::vector<std::string> lines;
  while (auto line = p.ReadLine(std::chrono::seconds(1))) lines.push_back(*line);
  EXPECT_EQ(lines,
            std::vector<std::string>{"RegistryStorePeer: settings store " + file +
                                     " is not a settings store; it is left as it is and nothing is "
                                     "written to it"});
  EXPECT_EQ(ReadFile(file), garbage);
}

TEST(RegistryStore, KeysAndValuesIgnoreCaseEnumerateInOrderAndDeleteWithTheirSubKeys) {
  vexa::test::TestSession session;
  HKEY soft;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\\\Classes\\.html", KEY_ALL_ACCESS,
                           &soft, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegKeyPath(soft), "SOFTWARE\\Classes\\.html");
  ASSERT_EQ(SetString(soft, "", "htmlfile"), ERROR_SUCCESS);
  RegCloseKey(soft);
  HKEY c;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "software\\classes\\htmlfile\\shell\\open\\command",
                           KEY_ALL_ACCESS, &c, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegKeyPath(c), "SOFTWARE\\Classes\\htmlfile\\shell\\open\\command")
      << "an existing level keeps the case it was made with";
  RegCloseKey(c);
  HKEY classes;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\CLASSES", 0, KEY_READ, &classes),
            ERROR_SUCCESS);
  std::string name;
  ASSERT_EQ(RegEnumKeyEx(classes, 0, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, ".html");
  ASSERT_EQ(RegEnumKeyEx(classes, 1, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, "htmlfile");
  EXPECT_EQ(RegEnumKeyEx(classes, 2, &name), static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(GetString(classes, ".HTML", ""), "htmlfile");
  RegCloseKey(classes);

  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "software\\classes\\HTMLFILE"), ERROR_SUCCESS);
  HKEY gone;
  EXPECT_EQ(
      RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Classes\\htmlfile\\shell", 0, KEY_READ, &gone),
      static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegCloseKey(999999), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
}

TEST(RegistryStore, BufferReadsReportTheNeededSize) {
  vexa::test::TestSession session;
  HKEY k;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\T", KEY_ALL_ACCESS, &k, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(SetString(k, "Name", "abcdef"), ERROR_SUCCESS);
  const uint8_t blob[] = {0, 1, 0xff, '\n'};
  ASSERT_EQ(RegSetValueEx(k, "Blob", REG_BINARY, blob, 4), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueEx(k, "Num", REG_DWORD, blob, 3),
            static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
  char buf[4];
  DWORD size = sizeof buf, type = 0;
  EXPECT_EQ(RegQueryValueEx(k, "Name", &type, buf, &size), static_cast<LSTATUS>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 7u);
  char big[16];
  size = sizeof big;
  ASSERT_EQ(RegQueryValueEx(k, "Name", &type, big, &size), ERROR_SUCCESS);
  EXPECT_STREQ(big, "abcdef");
  std::string data;
  ASSERT_EQ(RegQueryValue(k, "blob", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(data, std::string("\0\1\xff\n", 4));
  RegCloseKey(k);
  EXPECT_NE(ReadFile(RegistryFileOf(HKEY_CURRENT_USER)).find("\"Blob\"=hex:00,01,ff,0a\n"),
            std::string::npos);
}

TEST(RegistryStore, VexaregListsReadsWritesAndDeletes) {
  vexa::test::TestSession session;
  auto run = [](const std::vector<std::string>& args, int* status) {
    ChildProcess p(BinPath("vexareg"), args, {}, true);
    std::string out;
    while (auto line = p.ReadLine(std::chrono::seconds(20))) out += *line + "\n";
    *status = p.Wait(std::chrono::seconds(20)).value_or(-1);
    return out;
  };
  int st = -1;
  std::string gw = "HKLM\\Software\\VEXA Software\\Lumidex\\ClientGateway\\Default";
  run({"write", gw, "Address", "10.0.0.7"}, &st);
  EXPECT_EQ(st, 0);
  run({"write", "-t", "dword", gw, "Retries", "3"}, &st);
  EXPECT_EQ(st, 0);
  run({"write", gw, "@", "with \"quotes\""}, &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE,
                      "Software\\VEXA Software\\Lumidex\\ClientGateway\\Default", "Address"),
            "10.0.0.7");
  EXPECT_EQ(run({"read", gw, "address"}, &st), "10.0.0.7\n");
  EXPECT_EQ(st, 0);
  EXPECT_EQ(run({"read", gw, "Retries"}, &st), "3\n");
  EXPECT_EQ(run({"list", "HKEY_LOCAL_MACHINE\\Software\\VEXA Software\\Lumidex"}, &st),
            "ClientGateway\\\n");
  EXPECT_EQ(run({"list", gw}, &st),
            "\"Address\"=\"10.0.0.7\"\n\"Retries\"=dword:3\n@=\"with \\\"quotes\\\"\"\n");
  run({"read", gw, "Missing"}, &st);
  EXPECT_EQ(st, 1);
  run({"delete", gw, "Address"}, &st);
  EXPECT_EQ(st, 0);
  run({"read", gw, "Address"}, &st);
  EXPECT_EQ(st, 1);
  run({"write", "-t", "dword", gw, "Retries", "many"}, &st);
  EXPECT_EQ(st, 2);
  run({"bogus"}, &st);
  EXPECT_EQ(st, 2);
  chmod(RegistryFileOf(HKEY_LOCAL_MACHINE).c_str(), 0444);
  run({"write", gw, "Address", "x"}, &st);
  EXPECT_EQ(st, 3);
}
