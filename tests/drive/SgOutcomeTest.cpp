#include "drive/SgOutcome.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using drive::HostOutcome;

// Every part of the SG_IO header that can turn a command into a failure, one row each.
TEST(SgOutcomeTest, HeaderFieldsMakeOneOutcome) {
  const std::vector<std::uint8_t> fixed = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
  const std::vector<std::uint8_t> fixedDeferred = {0x71, 0, 0x23, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x0C, 0x02};
  const std::vector<std::uint8_t> descriptor = {0x72, 0x04, 0x08, 0x03, 0, 0, 0, 0};
  const std::vector<std::uint8_t> zero(18, 0);
  const std::vector<std::uint8_t> none;
  struct Case {
    const char* Name;
    int IoctlError;
    std::uint8_t Status;
    std::uint16_t Host, Driver;
    const std::vector<std::uint8_t>& Sense;
    bool Succeeded, Reached;
    HostOutcome Host_;
    std::uint8_t Key, KeyByte, Asc, Ascq;
    bool Usable;
    const char* Described;
  };
  const Case cases[] = {
      {"good", 0, 0x00, 0, 0, none, true, true, HostOutcome::Ok, 0, 0, 0, 0, false, "GOOD"},
      {"ioctl refused", 1, 0x00, 0, 0, none, false, false, HostOutcome::Ok, 0, 0, 0, 0, false, "not sent: system error 1"},
      {"fixed sense", 0, 0x02, 0, 0x08, fixed, false, true, HostOutcome::Ok, 0x05, 0x05, 0x24, 0x00, true,
       "CHECK CONDITION, sense 05/24/00 ILLEGAL REQUEST: INVALID FIELD IN CDB"},
      {"deferred fixed sense, ILI", 0, 0x02, 0, 0x08, fixedDeferred, false, true, HostOutcome::Ok, 0x03, 0x23, 0x0C,
       0x02, true, "CHECK CONDITION, sense 03/0C/02 MEDIUM ERROR: WRITE ERROR - AUTO REALLOCATION FAILED"},
      {"descriptor sense", 0, 0x02, 0, 0x08, descriptor, false, true, HostOutcome::Ok, 0x04, 0x04, 0x08, 0x03, true,
       "CHECK CONDITION, sense 04/08/03 HARDWARE ERROR: LOGICAL UNIT COMMUNICATION CRC ERROR (ULTRA-DMA/32)"},
      {"check condition, no sense", 0, 0x02, 0, 0, none, false, true, HostOutcome::Ok, 0, 0, 0, 0, false,
       "CHECK CONDITION without sense data"},
      {"check condition, zero sense", 0, 0x02, 0, 0x08, zero, false, true, HostOutcome::Ok, 0, 0, 0, 0, false,
       "CHECK CONDITION without sense data"},
      {"busy", 0, 0x08, 0, 0, none, false, true, HostOutcome::Ok, 0, 0, 0, 0, false, "BUSY"},
      {"reservation conflict", 0, 0x18, 0, 0, none, false, true, HostOutcome::Ok, 0, 0, 0, 0, false, "RESERVATION CONFLICT"},
      {"task set full", 0, 0x28, 0, 0, none, false, true, HostOutcome::Ok, 0, 0, 0, 0, false, "TASK SET FULL"},
      // A command held past its time-out comes back with status 0 and DID_TIME_OUT.
      {"host time-out, status good", 0, 0x00, 0x03, 0, none, false, true, HostOutcome::TimedOut, 0, 0, 0, 0, false,
       "timed out (host code 03, driver code 00)"},
      {"no connect", 0, 0x00, 0x01, 0, none, false, true, HostOutcome::NoDevice, 0, 0, 0, 0, false,
       "no device answered (host code 01, driver code 00)"},
      {"aborted", 0, 0x00, 0x05, 0, none, false, true, HostOutcome::Aborted, 0, 0, 0, 0, false,
       "aborted (host code 05, driver code 00)"},
      {"bus reset", 0, 0x00, 0x08, 0, none, false, true, HostOutcome::Aborted, 0, 0, 0, 0, false,
       "aborted (host code 08, driver code 00)"},
      {"host error", 0, 0x00, 0x07, 0, none, false, true, HostOutcome::HostError, 0, 0, 0, 0, false,
       "host adapter error (host code 07, driver code 00)"},
      {"driver time-out", 0, 0x00, 0, 0x06, none, false, true, HostOutcome::TimedOut, 0, 0, 0, 0, false,
       "timed out (host code 00, driver code 06)"},
      {"driver error", 0, 0x00, 0, 0x04, none, false, true, HostOutcome::DriverError, 0, 0, 0, 0, false,
       "driver error (host code 00, driver code 04)"},
      // The sense bit alone is no driver error; GOOD status stays a success.
      {"good with sense bit", 0, 0x00, 0, 0x08, none, true, true, HostOutcome::Ok, 0, 0, 0, 0, false, "GOOD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    drive::SgResult result;
    result.IoctlError = c.IoctlError;
    result.Status = c.Status;
    result.HostStatus = c.Host;
    result.DriverStatus = c.Driver;
    result.Sense = c.Sense.data();
    result.SenseWritten = static_cast<std::uint8_t>(c.Sense.size());
    result.Residual = 92;
    const drive::CommandOutcome outcome = drive::OutcomeFromSg(result);
    EXPECT_EQ(outcome.Succeeded(), c.Succeeded);
    EXPECT_EQ(outcome.Result, c.Succeeded ? 1 : 0);
    EXPECT_EQ(outcome.Reached, c.Reached);
    EXPECT_EQ(outcome.Host, c.Host_);
    EXPECT_EQ(outcome.Sense.Usable, c.Usable);
    EXPECT_EQ(outcome.Sense.Key, c.Key);
    EXPECT_EQ(outcome.Sense.KeyByte, c.KeyByte);
    EXPECT_EQ(outcome.Sense.Asc, c.Asc);
    EXPECT_EQ(outcome.Sense.Ascq, c.Ascq);
    EXPECT_EQ(outcome.ShownStatus, c.IoctlError != 0 ? 0 : c.Status);
    EXPECT_EQ(outcome.Residual, c.IoctlError != 0 ? 0u : 92u);
    EXPECT_EQ(drive::DescribeOutcome(outcome), c.Described);
  }
}

} // namespace
