#include <gtest/gtest.h>

#include <string>

#include "flash/Eligibility.h"
#include "flash/UpdateQuestion.h"
#include "TestPayload.h"

namespace {

using sys::MessageKind;

struct QuestionCase {
  const char* name;
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
  const char* name;
  const char* inquiry;
  const char* range;
  const char* driveIdentity;
  const char* driveRevision;
  bool eligible;
};

class DriveEligibility : public testing::TestWithParam<EligibilityCase> {};

TEST_P(DriveEligibility, FollowsIdentityRangeAndMarkers) {
  const EligibilityCase& c = GetParam();
  flashtest::PayloadFields fields;
  fields.inquiry = c.inquiry;
  fields.firmwareRange = c.range;
  const flashtest::TestPayload payload(fields, {});
  const auto texts = builder::MakePayloadTexts(payload.Block());
  EXPECT_EQ(flash::DriveIsEligible(texts, c.driveIdentity, c.driveRevision), c.eligible);
}

constexpr const char* kInquiry = "HBQ     MX77004150Q";
constexpr const char* kIdentity = "HBQ     MX77004150Q     ";

INSTANTIATE_TEST_SUITE_P(
    Cases, DriveEligibility,
    testing::Values(
        EligibilityCase{"InRange", kInquiry, "K4P1-K4PZ", kIdentity, "K4P5", true},
        EligibilityCase{"LowBound", kInquiry, "K4P1-K4PZ", kIdentity, "K4P1", true},
        EligibilityCase{"HighBound", kInquiry, "K4P1-K4PZ", kIdentity, "K4PZ", true},
        EligibilityCase{"BelowRange", kInquiry, "K4P1-K4PZ", kIdentity, "K4P0", false},
        EligibilityCase{"LowerCaseAboveZ", kInquiry, "K4P1-K4PZ", kIdentity, "K4Pa", false},
        EligibilityCase{"ProductCaseDiffers", kInquiry, "K4P1-K4PZ", "HBQ     mx77004150q     ", "K4P5", false},
        EligibilityCase{"AnyDrive", "--", "K4P1-K4PZ", "OTHER   DRIVE           ", "ZZZZ", true},
        EligibilityCase{"AnyFirmware", kInquiry, "---------", kIdentity, "0000", true},
        EligibilityCase{"AnyFirmwareOtherDrive", kInquiry, "---------", "OTHER   DRIVE           ", "K4P5", false},
        EligibilityCase{"HalfMarkerIsNoMarker", kInquiry, "-   -K4PZ", kIdentity, "ZZZZ", false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
