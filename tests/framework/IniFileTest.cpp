// labels: unit
// INI files: reads with defaults, writes that keep the rest of the file, bad
// content, files that cannot be written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "framework/IniFiles.h"
#include "tests/support/Files.h"
#include "tests/support/TestSession.h"

using namespace fw;
using vexa::test::ReadFile;
using vexa::test::WriteFile;


TEST(IniFile, WritingOneKeyKeepsCommentsOrderAndOtherSections) {
  vexa::test::TestSession session;
  std::string path = session.Root() + "/beaconhub.ini";
  WriteFile(path,
            "; notify server settings\n"
            "[Server]\n"
            "Address = 10.0.0.5\n"
            "; the port the gateways use\n"
            "Port=5500\n"
            "\n"
            "[Main Server Window]\n"
            "Width=640\n"
            "Height=480\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("server", "ADDRESS", ""), "10.0.0.5");
  EXPECT_EQ(ini.ReadInteger("Server", "Port", 0), 5500);
  ini.WriteString("Server", "Port", "6000");
  ini.WriteInteger("Server", "MaxClients", 0);
  ini.WriteInteger("Client", "FlushInterval", 1500);
  EXPECT_EQ(ReadFile(path),
            "; notify server settings\n"
            "[Server]\n"
            "Address = 10.0.0.5\n"
            "; the port the gateways use\n"
            "Port=6000\n"
            "MaxClients=0\n"
            "\n"
            "[Main Server Window]\n"
            "Width=640\n"
            "Height=480\n"
            "\n"
            "[Client]\n"
            "FlushInterval=1500\n");
  EXPECT_TRUE(ini.SectionExists("client"));
  EXPECT_FALSE(ini.SectionExists("MainWindow"));
  EXPECT_TRUE(ini.ValueExists("Main Server Window", "height"));
}

TEST(IniFile, DefaultsForMissingAndUnreadableValues) {
  vexa::test::TestSession session;
  std::string path = session.Root() + "/x.ini";
  TIniFile missing(path);
  EXPECT_EQ(missing.ReadString("Server", "Port", "5500"), "5500");
  EXPECT_EQ(missing.ReadInteger("Server", "MaxClients", -1), -1);
  WriteFile(path, "[S]\nN=12abc\nH=0x1F\nB=0\nQ=\"quoted value\"\nE=\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("S", "N", 7), 7);
  EXPECT_EQ(ini.ReadInteger("S", "H", 0), 31);
  EXPECT_FALSE(ini.ReadBool("S", "B", true));
  EXPECT_TRUE(ini.ReadBool("S", "missing", true));
  EXPECT_EQ(ini.ReadString("S", "Q", ""), "quoted value");
  EXPECT_EQ(ini.ReadString("S", "E", "default"), "") << "a present empty value is empty";
  ini.WriteBool("S", "B", true);
  EXPECT_EQ(ini.ReadString("S", "B", ""), "1");
}

TEST(IniFile, GarbageAndTruncatedContentIsReadAsFarAsSoundAndKeptOnWrite) {
  vexa::test::TestSession session;
  std::string path = session.Root() + "/bad.ini";
  std::string garbage = std::string("\x01\xff\xfe binary junk\0 here\n", 23) +
                        "[Server\n"          // no closing bracket: not a section
                        "=no key\n"
                        "[Server]\r\n"
                        "Port=5501\r\n"
                        "just words\r\n"
                        "[Client]\r\n"
                        "FlushInterval=20";  // cut off without a line end
  WriteFile(path, garbage);
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("Server", "Port", 0), 5501);
  EXPECT_EQ(ini.ReadInteger("Client", "FlushInterval", 0), 20);
  ini.WriteString("Client", "Polling", "1");
  ini.WriteString("Server", "Port", "5502");
  std::string after = ReadFile(path);
  EXPECT_EQ(after, std::string("\x01\xff\xfe binary junk\0 here\n", 23) +
                       "[Server\n=no key\n[Server]\r\nPort=5502\r\njust words\r\n"
                       "[Client]\r\nFlushInterval=20\nPolling=1\n");
  EXPECT_EQ(ini.ReadInteger("Client", "FlushInterval", 0), 20);
  EXPECT_EQ(ini.ReadString("Client", "Polling", ""), "1");
}

TEST(IniFile, FileThatCannotBeWrittenRaisesAndStaysAsItWas) {
  vexa::test::TestSession session;
  std::string path = session.Root() + "/ro.ini";
  WriteFile(path, "[Server]\nPort=5500\n");
  chmod(path.c_str(), 0444);
  TIniFile ini(path);
  try {
    ini.WriteString("Server", "Port", "1");
    FAIL() << "write to a read-only file succeeded";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + path);
  }
  EXPECT_EQ(ReadFile(path), "[Server]\nPort=5500\n");
  EXPECT_EQ(ini.ReadString("Server", "Port", ""), "5500");
}

TEST(IniFile, WritableFileInAFolderThatCannotBeWrittenIsUpdatedInPlace) {
  vexa::test::TestSession session;
  std::string dir = session.Root() + "/bin";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  std::string path = dir + "/relaygate.ini";
  WriteFile(path, "[Main]\nWidth=10\n");
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  TIniFile ini(path);
  ini.WriteInteger("Main", "Width", 20);
  EXPECT_EQ(ReadFile(path), "[Main]\nWidth=20\n");
  TIniFile fresh(dir + "/new.ini");
  EXPECT_THROW(fresh.WriteString("A", "b", "c"), EIniFileException) << "no new file there";
  chmod(dir.c_str(), 0755);
}

TEST(IniFile, SectionsAndKeysCanBeListedAndRemoved) {
  vexa::test::TestSession session;
  std::string path = session.Root() + "/l.ini";
  WriteFile(path, "[A]\nx=1\ny=2\n[B]\nz=3\n[a]\nw=4\n");
  TIniFile ini(path);
  TStringList l;
  ini.ReadSections(&l);
  EXPECT_EQ(l.CommaText(), "A,B");
  ini.ReadSectionValues("A", &l);
  EXPECT_EQ(l.CommaText(), "x=1,y=2");
  ini.DeleteKey("A", "x");
  ini.EraseSection("B");
  EXPECT_EQ(ReadFile(path), "[A]\ny=2\n[a]\nw=4\n");
}
