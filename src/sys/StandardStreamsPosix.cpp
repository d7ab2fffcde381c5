#include "sys/StandardStreams.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sys {
namespace {

constexpr int kStandardFds[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
// Far more than a whole update writes, even with every command traced.
constexpr std::size_t kQueueLimit = 1 << 20;
// How long the end of the run waits for a stream that takes nothing.
constexpr auto kDrainPatience = std::chrono::seconds(3);

using Clock = std::chrono::steady_clock;

// One pipe carrying one standard stream (or both, when they go to one place) to where that
// stream went before: a reader thread empties the pipe into a bounded queue at once, a writer
// thread takes the queue to the destination and is the only one that may wait on it.
struct Channel {
  int readEnd = -1;
  int destination = -1;
  std::vector<int> fds; // the standard descriptors that write into the pipe
  std::mutex mutex;
  std::condition_variable changed;
  std::string queue;
  bool inputEnded = false;
  bool finished = false; // the writer saw the end of the input
  int writeError = 0;
  std::uint64_t dropped = 0;
  Clock::time_point lastProgress = Clock::now();
};

// The channels of the running relay. Channels are never freed, since a writer may stay blocked
// on its destination until the process ends; every channel made stays listed in a list that is
// never destroyed either, so that leak checkers see them held.
std::vector<Channel*> channels;
std::vector<Channel*>& EveryChannel() {
  static auto* every = new std::vector<Channel*>;
  return *every;
}
bool relayActive = false;

void ReadInto(Channel& channel) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(channel.readEnd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard lock(channel.mutex);
    if (channel.writeError == 0 && channel.queue.size() + static_cast<std::size_t>(got) <= kQueueLimit)
      channel.queue.append(buffer, static_cast<std::size_t>(got));
    else
      channel.dropped += static_cast<std::uint64_t>(got);
    channel.changed.notify_all();
  }
  std::lock_guard lock(channel.mutex);
  channel.inputEnded = true;
  channel.changed.notify_all();
}

void WriteFrom(Channel& channel) {
  std::unique_lock lock(channel.mutex);
  for (;;) {
    channel.changed.wait(lock, [&channel] { return !channel.queue.empty() || channel.inputEnded; });
    if (channel.queue.empty()) break;
    std::string chunk;
    chunk.swap(channel.queue);
    if (channel.writeError != 0) {
      channel.dropped += chunk.size();
      continue;
    }
    lock.unlock();
    std::size_t done = 0;
    int error = 0;
    while (done < chunk.size()) {
      const ssize_t wrote = ::write(channel.destination, chunk.data() + done, chunk.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        error = wrote < 0 ? errno : EIO;
        break;
      }
      done += static_cast<std::size_t>(wrote);
      std::lock_guard progress(channel.mutex);
      channel.lastProgress = Clock::now();
    }
    lock.lock();
    if (error != 0) {
      channel.writeError = error;
      channel.dropped += chunk.size() - done;
    }
  }
  channel.finished = true;
  channel.changed.notify_all();
}

// Starts a relay thread with every signal blocked: signals are the main thread's business, and a
// stop request (Ctrl+Z) must never reach the process through a relay thread.
void StartThread(void (*work)(Channel&), Channel& channel) {
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread(work, std::ref(channel)).detach();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool SameDestination(int a, int b) {
  struct stat first {}, second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

Channel* ChannelOf(int fd) {
  for (Channel* channel : channels)
    for (int member : channel->fds)
      if (member == fd) return channel;
  return nullptr;
}

bool StartChannel(const std::vector<int>& fds) {
  auto* channel = new Channel;
  int ends[2];
  channel->destination = ::fcntl(fds.front(), F_DUPFD_CLOEXEC, 3);
  if (channel->destination < 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
    if (channel->destination >= 0) ::close(channel->destination);
    delete channel;
    return false;
  }
  channel->readEnd = ends[0];
  channel->fds = fds;
  for (int fd : fds) ::dup2(ends[1], fd); // the standard descriptors stay inheritable
  ::close(ends[1]);
  channels.push_back(channel);
  EveryChannel().push_back(channel);
  StartThread(ReadInto, *channel);
  StartThread(WriteFrom, *channel);
  return true;
}

bool Delivered(const Channel& channel) {
  return channel.finished && channel.writeError == 0 && channel.dropped == 0;
}

void Describe(Channel* channel, StreamDelivery& delivery) {
  delivery = StreamDelivery{};
  if (channel == nullptr) return;
  std::lock_guard lock(channel->mutex);
  delivery.sharedWithOther = channel->fds.size() > 1;
  delivery.droppedBytes = channel->dropped + channel->queue.size();
  delivery.lost = !Delivered(*channel);
  if (delivery.lost)
    delivery.reason = channel->writeError != 0 ? std::strerror(channel->writeError) : "nobody read it";
}

} // namespace

void OpenClosedStandardStreams() {
  for (int fd : kStandardFds) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free number: the one just found closed.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

void IgnoreOutputSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

void StartOutputRelay() {
  if (relayActive) return;
  std::fflush(stdout);
  std::fflush(stderr);
  relayActive = true;
  // One pipe for both when they go to one place, so that their lines keep their order.
  if (SameDestination(STDOUT_FILENO, STDERR_FILENO)) {
    StartChannel({STDOUT_FILENO, STDERR_FILENO});
    return;
  }
  StartChannel({STDOUT_FILENO});
  StartChannel({STDERR_FILENO});
}

bool OutputRelayActive() { return relayActive; }

void StopOutputRelay(StreamDelivery& standardOutput, StreamDelivery& standardError) {
  standardOutput = standardError = StreamDelivery{};
  if (!relayActive) return;
  std::fflush(stdout);
  std::fflush(stderr);
  relayActive = false;
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (Channel* channel : channels) {
    // Closing the pipe's last write ends lets the reader see the end of the input.
    for (int fd : channel->fds) ::dup2(null, fd);
    std::unique_lock lock(channel->mutex);
    channel->lastProgress = std::max(channel->lastProgress, Clock::now());
    // Patience runs from the last byte the destination took.
    while (!channel->finished && Clock::now() < channel->lastProgress + kDrainPatience)
      channel->changed.wait_until(lock, channel->lastProgress + kDrainPatience);
    if (Delivered(*channel))
      for (int fd : channel->fds) ::dup2(channel->destination, fd);
  }
  if (null >= 0) ::close(null);
  Describe(ChannelOf(STDOUT_FILENO), standardOutput);
  Describe(ChannelOf(STDERR_FILENO), standardError);
  channels.clear();
}

bool IsTerminal(std::FILE* stream) {
  const int fd = ::fileno(stream);
  if (relayActive)
    if (const Channel* channel = ChannelOf(fd)) return ::isatty(channel->destination) == 1;
  return ::isatty(fd) == 1;
}

} // namespace sys
