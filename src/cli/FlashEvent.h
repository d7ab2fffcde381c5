#pragma once
// odflash flash --json's events, one type for both ends: a single-drive run writes them, and
// flash --all reads its workers' events back, judges each drive by them and passes them on.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "flash/FlashSink.h"
#include "flash/UpdateQuestion.h"
#include "sys/Messages.h"

namespace cli {

// The update question or, without update, the restart question, and who answered it.
struct QuestionEvent {
  std::optional<flash::UpdateKind> update;
  std::string text;
  bool answer = false;
  std::string answeredBy; // "option", "terminal" or "none"
  bool operator==(const QuestionEvent&) const = default;
};

struct PhaseEvent {
  flash::FlashPhase phase = flash::FlashPhase::ReadyWait;
  bool operator==(const PhaseEvent&) const = default;
};

// The status caption, with any failure suffix.
struct StatusEvent {
  std::string text;
  bool operator==(const StatusEvent&) const = default;
};

struct ProgressEvent {
  flash::FlashPhase phase = flash::FlashPhase::Upload;
  std::uint32_t bytes = 0;
  std::uint32_t total = 0;
  bool operator==(const ProgressEvent&) const = default;
};

struct MessageEvent {
  sys::MessageKind kind = sys::MessageKind::Plain;
  std::string text;
  bool operator==(const MessageEvent&) const = default;
};

// What may still disturb the update, found before it.
struct WarningEvent {
  std::string text;
  bool operator==(const WarningEvent&) const = default;
};

// The drive a run chose.
struct EventDrive {
  std::string identity;
  std::string device;
  bool operator==(const EventDrive&) const = default;
};

// A single-drive run's result, always its last event.
struct ResultEvent {
  std::string outcome;
  int exitCode = 0;
  bool dryRun = false;
  std::optional<EventDrive> drive; // none until a drive was chosen
  std::optional<std::string> revisionBefore, revisionAfter;
  std::int64_t durationMs = 0;
  std::optional<std::string> error; // the failure line without "odflash: "
  bool operator==(const ResultEvent&) const = default;
};

using FlashEvent =
    std::variant<QuestionEvent, PhaseEvent, StatusEvent, ProgressEvent, MessageEvent, WarningEvent, ResultEvent>;

// The names the JSON events give the procedure's phases.
const char* PhaseName(flash::FlashPhase phase);
// The JSON name of an update kind ("update", "reinstall", "downgrade").
const char* UpdateKindName(flash::UpdateKind kind);

// The event's "event" name and its own fields, in the order they are written.
const char* EventName(const FlashEvent& event);
nlohmann::ordered_json EventFields(const FlashEvent& event);

// One line of JSON events: the schema version and the event's name, then the fields.
std::string EventLine(const std::string& name, const nlohmann::ordered_json& fields);

// An event line read back; none when the line is no event of a single-drive run.
std::optional<FlashEvent> ParseFlashEvent(const std::string& line);

// flash --json: one JSON object per line on standard output, each with the schema version.
class EventStream {
public:
  explicit EventStream(bool enabled) : enabled_(enabled) {}
  void Emit(const FlashEvent& event) { Emit(EventName(event), EventFields(event)); }
  void Emit(const std::string& event, const nlohmann::ordered_json& fields = nlohmann::ordered_json::object());

private:
  bool enabled_;
};

} // namespace cli
