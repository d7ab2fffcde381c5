#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "sys/IniFile.h"

namespace {

// One INI text and what reading one key gives. The same table runs through our own reader
// and the platform's (on Windows, the system's private-profile reader), so they must agree.
struct IniCase {
  const char* label;
  std::string text;
  std::string section;
  std::string key;
  std::string expected;  // with default "FAIL"
};

const IniCase kCases[] = {
    {"plain value", "[MODEL00]\nModel=CDRW\n", "MODEL00", "Model", "CDRW"},
    {"section and key ignore case", "[model00]\nMODEL=CDRW\n", "MODEL00", "Model", "CDRW"},
    {"blanks around name and value", "[MODEL00]\n  Model  =   CDRW 48X   \n", "MODEL00", "Model", "CDRW 48X"},
    {"tabs trimmed", "[MODEL00]\n\tModel\t=\tCDRW\t\n", "MODEL00", "Model", "CDRW"},
    {"inner blanks kept", "[MODEL00]\nInquiry=HBQ     MX77004150Q\n", "MODEL00", "Inquiry", "HBQ     MX77004150Q"},
    {"double quotes removed", "[MODEL00]\nInquiry=\"HBQ     MX7  \"\n", "MODEL00", "Inquiry", "HBQ     MX7  "},
    {"single quotes removed", "[MODEL00]\nInquiry='HBQ '\n", "MODEL00", "Inquiry", "HBQ "},
    {"unmatched quote kept", "[MODEL00]\nInquiry=\"HBQ\n", "MODEL00", "Inquiry", "\"HBQ"},
    {"mixed quotes kept", "[MODEL00]\nInquiry=\"HBQ'\n", "MODEL00", "Inquiry", "\"HBQ'"},
    {"first equals splits", "[MODEL00]\nNote=a=b\n", "MODEL00", "Note", "a=b"},
    {"first duplicate wins", "[MODEL00]\nModel=one\nModel=two\n", "MODEL00", "Model", "one"},
    {"line without equals gives default", "[MODEL00]\nModel\n", "MODEL00", "Model", "FAIL"},
    {"key= gives empty", "[MODEL00]\nNote=\n", "MODEL00", "Note", ""},
    {"missing key gives default", "[MODEL00]\nModel=x\n", "MODEL00", "Note", "FAIL"},
    {"missing section gives default", "[MODEL01]\nModel=x\n", "MODEL00", "Model", "FAIL"},
    {"key of another section not seen", "[MODEL00]\n[MODEL01]\nModel=x\n", "MODEL00", "Model", "FAIL"},
    {"CRLF line ends", "[MODEL00]\r\nModel=CDRW\r\nNote=n\r\n", "MODEL00", "Note", "n"},
    {"CR line ends", "[MODEL00]\rModel=CDRW\rNote=n\r", "MODEL00", "Model", "CDRW"},
    {"no line end at the end", "[MODEL00]\nModel=CDRW", "MODEL00", "Model", "CDRW"},
    {"value FAIL read as is", "[MODEL00]\nNote=FAIL\n", "MODEL00", "Note", "FAIL"},
    {"value of 30 characters", "[MODEL00]\nModel=ABCDEFGHIJKLMNOPQRSTUVWXYZ1234\n", "MODEL00", "Model",
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234"},
    {"blank lines and indented header", "\n\n   [MODEL00]\n\nModel=x\n", "MODEL00", "Model", "x"},
    {"UTF-8 byte-order mark before the first section", "\xEF\xBB\xBF[MODEL00]\nModel=CDRW\n", "MODEL00", "Model", "CDRW"},
    {"NUL ends the value", std::string("[MODEL00]\nModel=CD\0RW\nNote=n\n", 30), "MODEL00", "Model", "CD"},
    {"NUL in a value, next key", std::string("[MODEL00]\nModel=CD\0RW\nNote=n\n", 30), "MODEL00", "Note", "n"},
    {"NUL in a line before the section", std::string("x\0y\n[MODEL00]\nModel=CDRW\n", 24), "MODEL00", "Model", "CDRW"},
};

std::string WriteScratch(const std::string& text) {
  std::random_device random;
  const auto path = std::filesystem::temp_directory_path() /
                    ("odflash-ini-" + std::to_string(random()) + ".ini");
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

void RunTable(const std::function<std::unique_ptr<sys::IniFile>(const std::string&)>& open) {
  for (const IniCase& c : kCases) {
    const std::string path = WriteScratch(c.text);
    EXPECT_EQ(open(path)->ReadString(c.section, c.key, "FAIL"), c.expected) << c.label;
    std::filesystem::remove(path);
  }
}

TEST(IniFile, PortableReaderFollowsTheRules) { RunTable(sys::OpenPortableIniFile); }

TEST(IniFile, PlatformReaderFollowsTheSameRules) { RunTable(sys::OpenIniFile); }

TEST(IniFile, UnreadableFileGivesDefaults) {
  EXPECT_EQ(sys::OpenIniFile("/no/such/odflash.ini")->ReadString("MODEL00", "Model", "FAIL"), "FAIL");
  EXPECT_EQ(sys::OpenPortableIniFile("/no/such/odflash.ini")->ReadString("MODEL00", "Model", "FAIL"), "FAIL");
}

} // namespace
