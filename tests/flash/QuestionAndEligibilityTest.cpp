#include <gtest/gtest.h>

#include <string>

#include "flash/Eligibility.h"
#include "flash/UpdateQuestion.h"

namespace {

using sys::MessageKind;

struct QuestionCase {
  std::string name;
  const char* drive;
  const char* carried;
  bool anyFirmware;
  const char* text;
  MessageKind kind;
};

class UpdateQuestionText : public testing::TestWithParam<QuestionCase> {};

TEST_P(UpdateQuestionText, IsByteExact) {
  const QuestionCase& c = GetParam();
  const flash::UpdateQuestion question = flash::MakeUpdateQuestion(c.drive, c.carried, c.anyFirmware);
  EXPECT_EQ(question.text, c.text);
  EXPECT_EQ(question.kind, c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, UpdateQuestionText,
    testing::Values(
        QuestionCase{"Older", "K4P1", "K4P5", false, "\nUpdate Firmware K4P1 to K4P5 ?\n", MessageKind::Confirmation},
        QuestionCase{"Equal", "K4P5", "K4P5", false,
                     "\nWARNING !!!\n\nYour drive Firmware : K4P5 is aready the most updated !\n\nUpdate Firmware : K4P5 to K4P5 ?\n",
                     MessageKind::Confirmation},
        QuestionCase{"Newer", "K4P6", "K4P5", false,
                     "\nWARNING !!!\n\nYour drive Firmware : K4P6 is aready the most updated !\n\nUpdate Firmware : K4P6 to K4P5 ?\n",
                     MessageKind::Warning},
        QuestionCase{"AnyFirmwareNewer", "K4P6", "K4P5", true, "\nUpdate Firmware : K4P6 to K4P5 ?\n", MessageKind::Warning},
        QuestionCase{"AnyFirmwareOlder", "K4P1", "K4P5", true, "\nUpdate Firmware : K4P1 to K4P5 ?\n", MessageKind::Confirmation},
        // Unsigned bytes: 0xE9 sorts above every ASCII letter.
        QuestionCase{"HighByte", "K4P\xE9", "K4PZ", false,
                     "\nWARNING !!!\n\nYour drive Firmware : K4P\xE9 is aready the most updated !\n\nUpdate Firmware : K4P\xE9 to K4PZ ?\n",
                     MessageKind::Warning},
        QuestionCase{"ShorterIsSmaller", "K4P", "K4P5", false, "\nUpdate Firmware K4P to K4P5 ?\n", MessageKind::Confirmation}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct EligibilityCase {
  std::string name;
  payload::PayloadTexts payload;
  const char* driveIdentity;
  const char* driveRevision;
  bool eligible;
};

class DriveEligibility : public testing::TestWithParam<EligibilityCase> {};

TEST_P(DriveEligibility, FollowsIdentityRangeAndMarkers) {
  const EligibilityCase& c = GetParam();
  EXPECT_EQ(flash::DriveIsEligible(c.payload, c.driveIdentity, c.driveRevision), c.eligible);
}

payload::PayloadTexts Payload(bool anyDrive = false, bool anyFirmware = false) {
  payload::PayloadTexts texts;
  texts.InquiryId = "HBQ     MX77004150Q     ";
  texts.FirmwareLow = "K4P1";
  texts.FirmwareHigh = "K4PZ";
  texts.AnyDrive = anyDrive;
  texts.AnyFirmware = anyFirmware;
  return texts;
}

constexpr const char* kIdentity = "HBQ     MX77004150Q     ";

INSTANTIATE_TEST_SUITE_P(
    Cases, DriveEligibility,
    testing::Values(
        EligibilityCase{"InRange", Payload(), kIdentity, "K4P5", true},
        EligibilityCase{"LowBound", Payload(), kIdentity, "K4P1", true},
        EligibilityCase{"HighBound", Payload(), kIdentity, "K4PZ", true},
        EligibilityCase{"BelowRange", Payload(), kIdentity, "K4P0", false},
        EligibilityCase{"LowerCaseAboveZ", Payload(), kIdentity, "K4Pa", false},
        EligibilityCase{"ShorterRevision", Payload(), kIdentity, "K4P", false},
        EligibilityCase{"ProductCaseDiffers", Payload(), "HBQ     mx77004150q     ", "K4P5", false},
        EligibilityCase{"AnyDrive", Payload(true), "OTHER   DRIVE           ", "ZZZZ", true},
        EligibilityCase{"AnyFirmware", Payload(false, true), kIdentity, "0000", true},
        EligibilityCase{"AnyFirmwareOtherDrive", Payload(false, true), "OTHER   DRIVE           ", "K4P5", false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
