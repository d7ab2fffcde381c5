#include <gtest/gtest.h>

#include "BuilderTestSupport.h"
#include "builder/ModelTable.h"

namespace {

using buildertest::ScratchDir;

std::string Section(int number, const std::string& model = "DRIVE", const std::string& note = "n") {
  char name[16];
  std::snprintf(name, sizeof name, "[MODEL%02d]\n", number);
  std::string text = name;
  if (!model.empty()) text += "Model=" + model + "\n";
  text += "Inquiry=HBQ     MX77004150Q\nFW-Range=K4P1-K4PZ\nBINMask=*.BIN\nVendor=HBQ\n";
  if (!note.empty()) text += "Note=" + note + "\n";
  return text;
}

void WriteText(const std::string& path, const std::string& text) {
  buildertest::WriteFile(path, buildertest::Bytes(text.begin(), text.end()));
}

TEST(LoadModelTable, AcceptsCompleteSectionsAndRejectsTheFirstBadOne) {
  const struct {
    const char* label;
    std::string text;
    std::size_t models;         // when accepted
    std::string rejectedAt;     // section named in the message, empty when accepted
  } cases[] = {
      {"two models", Section(0) + Section(1), 2, ""},
      {"one model", Section(0), 1, ""},
      {"gap after one", Section(0) + Section(2), 1, ""},
      {"MODEL01 without Note", Section(0) + Section(1, "DRIVE", ""), 0, "MODEL01"},
      {"MODEL00 absent, MODEL01 present", Section(1), 0, "MODEL00"},
      {"Note literally FAIL", Section(0) + Section(1, "DRIVE", "FAIL"), 0, "MODEL01"},
      {"Model literally FAIL ends the list", Section(0) + Section(1, "FAIL"), 1, ""},
      {"Model FAIL in MODEL00", Section(0, "FAIL"), 0, "MODEL00"},
      {"lower-case fail is a value", Section(0, "fail", "fail"), 1, ""},
      {"empty file", "", 0, "MODEL00"},
      {"section names ignore case", "[model00]\nMODEL=A\ninquiry=B\nfw-range=C\nbinmask=D\nVENDOR=E\nnote=F\n", 1, ""},
  };
  ScratchDir dir;
  const std::string ini = dir.Path("BUILD.INI");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteText(ini, c.text);
    const builder::ModelTableLoad load = builder::LoadModelTable(ini);
    EXPECT_EQ(load.Loaded, c.rejectedAt.empty());
    if (c.rejectedAt.empty()) {
      EXPECT_EQ(load.Table.Count(), c.models);
      EXPECT_EQ(load.Message, "");
    } else {
      EXPECT_EQ(load.Message, ini + " > Session " + c.rejectedAt + " error!");
      EXPECT_EQ(load.Table.Count(), 0u);
    }
  }
}

TEST(LoadModelTable, MissingFileNamesTheFullFileName) {
  ScratchDir dir;
  const builder::ModelTableLoad load = builder::LoadModelTable(dir.Path("BUILD.INI"));
  EXPECT_FALSE(load.Loaded);
  EXPECT_EQ(load.Message, "Can't load " + dir.Path("BUILD.INI"));
}

TEST(LoadModelTable, ReadsAllHundredSectionsAndNoMore) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 100; ++i) text += Section(i, std::to_string(i).insert(0, 1, 'M'));
  text += "[MODEL100]\nModel=X\n";
  WriteText(dir.Path("BUILD.INI"), text);
  const builder::ModelTableLoad load = builder::LoadModelTable(dir.Path("BUILD.INI"));
  ASSERT_TRUE(load.Loaded);
  ASSERT_EQ(load.Table.Count(), 100u);
  EXPECT_EQ(load.Table.Sections.front().Entry.Model, "M0");
  EXPECT_EQ(load.Table.Sections.back().Entry.Model, "M99");
}

TEST(LoadModelTable, CutsAndPadsStoredValuesButItemsShowThemAsRead) {
  ScratchDir dir;
  WriteText(dir.Path("BUILD.INI"),
            "[MODEL00]\nModel=ABCDEFGHIJKLMNOPQRSTUVWXYZ1234\nInquiry=HBQ     MX77004150Q\n"
            "FW-Range=K4P1-K4PZ-0123456789ABCDEFGH\nBINMask=*.BIN;*.HEX\nVendor=123456789012345678901234567890\n"
            "Note=FLASH-ALL\n");
  const builder::ModelTableLoad load = builder::LoadModelTable(dir.Path("BUILD.INI"));
  ASSERT_TRUE(load.Loaded);
  ASSERT_EQ(load.Table.Count(), 1u);
  const builder::ModelSection& section = load.Table.Sections.front();
  EXPECT_EQ(section.Entry.Model, "ABCDEFGHIJKLMNOPQRSTUVWX");
  EXPECT_EQ(section.Entry.Inquiry, "HBQ     MX77004150Q     ");
  EXPECT_EQ(section.Entry.FirmwareRange, "K4P1-K4PZ-0123456789ABCD");
  EXPECT_EQ(section.BINMask, "*.BIN;*.HEX");
  EXPECT_EQ(section.Entry.Vendor, "123456789012345678901234");
  EXPECT_EQ(section.Entry.Note, "FLASH-ALL");
  EXPECT_EQ(section.Item, "K4P1-K4PZ-0123456789ABCDEFGH HBQ     MX77004150Q");
}

TEST(ModelFileName, ReplacesTheProgramsExtension) {
  const struct {
    std::string program, ini;
  } cases[] = {
      {"/opt/odflash/odflash-gui", "/opt/odflash/odflash-gui.INI"},
      {"/opt/odflash/BUILD.EXE", "/opt/odflash/BUILD.INI"},
      {"/opt/v1.2/tool", "/opt/v1.2/tool.INI"},
      {"/opt/a.b.exe", "/opt/a.b.INI"},
  };
  for (const auto& c : cases) EXPECT_EQ(builder::ModelFileName(c.program), c.ini);
}

} // namespace
