#pragma once
// The process's standard streams as a drive update needs them: never a file or device that
// odflash opened itself, never a reason to die (a closed pipe, a full disk), and never a reason
// to wait (a terminal stopped with Ctrl+S, a reader that stopped reading).

#include <cstdint>
#include <cstdio>
#include <string>

namespace sys {

// Opens each of standard input, output and error that is closed onto the null device, so that
// no file or device opened later can take its number. Called first thing in main().
void OpenClosedStandardStreams();

// A write to a closed pipe or past the file size limit fails with an error instead of ending
// the process (SIGPIPE and SIGXFSZ ignored). Nothing on Windows, where such writes only fail.
void IgnoreOutputSignals();

// What became of one standard stream's output while the relay carried it.
struct StreamDelivery {
  bool lost = false;             // part of the output never reached the stream
  std::string reason;            // why, when lost: the system's error text or "nobody read it"
  std::uint64_t droppedBytes = 0;
  bool sharedWithOther = false;  // standard output and standard error go to one place
};

// From now on whatever this process writes to standard output and standard error is carried to
// them by threads of the relay: a write never waits for the reader and never fails. Output that
// cannot be delivered (the reader went away, the disk is full, nobody reads for too long) is
// dropped and counted. Once per process; nothing on Windows.
void StartOutputRelay();
// True between StartOutputRelay and StopOutputRelay.
bool OutputRelayActive();
// Flushes stdout and stderr, waits until the relay has delivered what it holds (giving up when
// a stream took nothing for a few seconds) and gives the streams back: the original ones where
// everything arrived, the null device where it did not, so that later writes neither block nor
// fail. What arrived is told in the two results.
void StopOutputRelay(StreamDelivery& standardOutput, StreamDelivery& standardError);

// True when the stream's destination is a terminal (the relay's own pipes do not count).
bool IsTerminal(std::FILE* stream);

} // namespace sys
