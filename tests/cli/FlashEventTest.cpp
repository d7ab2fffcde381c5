#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/FlashAllDrive.h"
#include "cli/FlashEvent.h"

namespace {

using cli::FlashEvent;
using flash::FlashPhase;

// Every kind of event, written as a worker writes it and read back as flash --all reads it; the
// lines a reader of --json sees are compared byte for byte.
TEST(FlashEvent, EveryEventSurvivesItsLine) {
  cli::ResultEvent failed;
  failed.outcome = "uploadFailed";
  failed.exitCode = 5;
  failed.drive = cli::EventDrive{"0-0-0  : ODSIM   CDRW 48X24      1.00", "sim:Drive0"};
  failed.revisionBefore = failed.revisionAfter = "1.00";
  failed.durationMs = 12;
  failed.error = "writing the image failed at offset 0x0C000; the drive's flash is unchanged";
  cli::ResultEvent notStarted;
  notStarted.outcome = "notStarted";
  notStarted.exitCode = 3;
  notStarted.dryRun = true;
  struct Case {
    FlashEvent event;
    const char* line;
  };
  const std::vector<Case> cases = {
      {cli::QuestionEvent{flash::UpdateKind::Update, "Update Firmware 1.00 to 1.10 ?", true, "option"},
       R"({"schemaVersion":1,"event":"question","question":"update","update":"update","text":"Update Firmware 1.00 to 1.10 ?","answer":true,"answeredBy":"option"})"},
      {cli::QuestionEvent{flash::UpdateKind::Downgrade, "Downgrade ?", false, "none"},
       R"({"schemaVersion":1,"event":"question","question":"update","update":"downgrade","text":"Downgrade ?","answer":false,"answeredBy":"none"})"},
      {cli::QuestionEvent{std::nullopt, "Restart ?", false, "option"},
       R"({"schemaVersion":1,"event":"question","question":"restart","text":"Restart ?","answer":false,"answeredBy":"option"})"},
      {cli::PhaseEvent{FlashPhase::ReadyWait}, R"({"schemaVersion":1,"event":"phase","phase":"readyWait"})"},
      {cli::PhaseEvent{FlashPhase::EntryCritical}, R"({"schemaVersion":1,"event":"phase","phase":"entryCritical"})"},
      {cli::StatusEvent{"Writing image..."}, R"({"schemaVersion":1,"event":"status","text":"Writing image..."})"},
      {cli::ProgressEvent{FlashPhase::Upload, 16384, 524288},
       R"({"schemaVersion":1,"event":"progress","phase":"upload","bytes":16384,"total":524288})"},
      {cli::MessageEvent{sys::MessageKind::Error, "Write Buffer> 04 08 00. 02, 0000"},
       R"({"schemaVersion":1,"event":"message","kind":"error","text":"Write Buffer> 04 08 00. 02, 0000"})"},
      {cli::WarningEvent{"other programs have the drive open"},
       R"({"schemaVersion":1,"event":"warning","text":"other programs have the drive open"})"},
      {failed,
       R"({"schemaVersion":1,"event":"result","outcome":"uploadFailed","exitCode":5,"dryRun":false,"drive":{"identity":"0-0-0  : ODSIM   CDRW 48X24      1.00","device":"sim:Drive0"},"revisionBefore":"1.00","revisionAfter":"1.00","durationMs":12,"error":"writing the image failed at offset 0x0C000; the drive's flash is unchanged"})"},
      {notStarted,
       R"({"schemaVersion":1,"event":"result","outcome":"notStarted","exitCode":3,"dryRun":true,"drive":null,"revisionBefore":null,"revisionAfter":null,"durationMs":0})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string line = cli::EventLine(cli::EventName(c.event), cli::EventFields(c.event));
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(cli::ParseFlashEvent(line), std::optional<FlashEvent>(c.event));
  }
  // Lines that are no event of a run are left alone.
  for (const char* line : {"", "not json", "[1]", R"({"event":"phase","phase":"nowhere"})",
                           R"({"event":"question","question":"why"})", R"({"event":"other"})"}) {
    EXPECT_EQ(cli::ParseFlashEvent(line), std::nullopt) << line;
  }
}

// flash --all's live line of a drive, step by step from its worker's events.
TEST(FlashAllDrive, LiveLinesFollowTheWorkersEvents) {
  cli::ResultEvent result;
  result.outcome = "flashed";
  result.exitCode = 0;
  result.revisionAfter = "1.10";
  struct Step {
    std::optional<FlashEvent> event; // none: the worker's output ends
    const char* line;
  };
  const std::vector<Step> steps = {
      {cli::StatusEvent{"Waiting for the drive..."}, "sim:Drive0     waiting"},
      {cli::PhaseEvent{FlashPhase::ReadyWait}, "sim:Drive0     readyWait"},
      {cli::PhaseEvent{FlashPhase::Upload}, "sim:Drive0     upload"},
      {cli::ProgressEvent{FlashPhase::Upload, 16384, 524288}, "sim:Drive0     upload           3%"},
      {cli::ProgressEvent{FlashPhase::Upload, 524288, 524288}, "sim:Drive0     upload         100%"},
      {cli::ProgressEvent{FlashPhase::Upload, 0, 0}, "sim:Drive0     upload         100%"},
      {cli::PhaseEvent{FlashPhase::Flash}, "sim:Drive0     flash"},
      {result, "sim:Drive0     flash"},
      {std::nullopt, "sim:Drive0     flashed"},
  };
  cli::DriveProgress drive;
  drive.device = "sim:Drive0";
  drive.revisionAfter = "1.00";
  EXPECT_EQ(cli::LiveLine(drive), "sim:Drive0     waiting");
  for (const Step& step : steps) {
    SCOPED_TRACE(step.line);
    if (step.event) drive.Take(*step.event);
    else drive.OutputEnded(true);
    EXPECT_EQ(cli::LiveLine(drive), step.line);
  }
  EXPECT_EQ(drive.exitCode, 0);
  EXPECT_EQ(drive.revisionAfter, "1.10");

  // A worker that ends without its result died; a drive no worker ran for keeps its outcome.
  cli::DriveProgress died;
  died.device = "sim:Drive1";
  died.Take(cli::PhaseEvent{FlashPhase::Verify});
  died.OutputEnded(true);
  EXPECT_EQ(cli::LiveLine(died), "sim:Drive1     workerDied");
  EXPECT_EQ(died.phase, "verify");
  cli::DriveProgress never;
  never.device = "sim:Drive2";
  never.OutputEnded(false);
  EXPECT_EQ(cli::LiveLine(never), "sim:Drive2     notStarted");
}

} // namespace
