#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "cli/FlashResults.h"

namespace {

using cli::FailureReason;
using cli::kFlashResults;
using cli::RunEnd;

// Walks the results table: every outcome and every way a run ends has exactly one row, the JSON
// names differ, a row's closing line is either fixed or built, and the rows run from the best
// exit code to the worst as --all ranks them.
TEST(FlashResults, TableCoversEveryOutcomeOnceInRankOrder) {
  std::multiset<int> outcomes;
  std::multiset<RunEnd> ends;
  std::set<std::string> names;
  for (const cli::FlashResult& result : kFlashResults) {
    SCOPED_TRACE(result.name);
    EXPECT_TRUE(names.insert(result.name).second);
    ends.insert(result.end);
    if (result.end == RunEnd::Procedure) {
      outcomes.insert(static_cast<int>(result.outcome));
      // What the command line says at the end of a procedure: a fixed line or one built from the run.
      EXPECT_NE(result.line == nullptr, result.build == nullptr);
    } else {
      // A run that ended around the procedure says what stopped it.
      EXPECT_EQ(result.line, nullptr);
      EXPECT_EQ(result.build, nullptr);
    }
    if (result.exitCode == cli::kExitSuccess) {
      EXPECT_EQ(result.reason, FailureReason::None);
    }
  }
  const int outcomeCount = static_cast<int>(flash::FlashOutcome::Interrupted) + 1;
  for (int outcome = 0; outcome < outcomeCount; ++outcome) EXPECT_EQ(outcomes.count(outcome), 1u) << outcome;
  EXPECT_EQ(outcomes.size(), static_cast<std::size_t>(outcomeCount));
  for (RunEnd end : {RunEnd::NotStarted, RunEnd::Damaged, RunEnd::WorkerDied}) EXPECT_EQ(ends.count(end), 1u);

  // A row whose code is its cause's ranks after every listed code, as an interrupt's does.
  auto rank = [](const cli::FlashResult& result) {
    return result.exitCode == cli::kExitOfItsCause ? std::size(cli::kExitCodesBestFirst)
                                                   : static_cast<std::size_t>(cli::ExitCodeRank(result.exitCode));
  };
  std::vector<std::size_t> ranks;
  for (const cli::FlashResult& result : kFlashResults)
    if (result.end != RunEnd::NotStarted) ranks.push_back(rank(result)); // its code is its cause's
  EXPECT_TRUE(std::is_sorted(ranks.begin(), ranks.end()));
  for (const cli::FlashResult& result : kFlashResults) {
    if (result.exitCode != cli::kExitOfItsCause) {
      EXPECT_LT(cli::ExitCodeRank(result.exitCode), std::ssize(cli::kExitCodesBestFirst)) << result.name;
    }
  }

  // The ranking itself: every code once, success first, a code not listed worse than all.
  std::set<int> codes(std::begin(cli::kExitCodesBestFirst), std::end(cli::kExitCodesBestFirst));
  EXPECT_EQ(codes.size(), std::size(cli::kExitCodesBestFirst));
  EXPECT_EQ(cli::kExitCodesBestFirst[0], cli::kExitSuccess);
  for (int code : cli::kExitCodesBestFirst) {
    EXPECT_EQ(cli::WorseExitCode(code, cli::kExitSuccess), code);
    EXPECT_EQ(cli::WorseExitCode(code, 130), 130);
  }
}

} // namespace
