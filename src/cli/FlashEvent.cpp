#include "cli/FlashEvent.h"

#include <cstdio>
#include <type_traits>

#include "cli/Command.h"

namespace cli {
namespace {

using Json = nlohmann::ordered_json;

template <class> inline constexpr bool kAlwaysFalse = false;

const char* MessageKindName(sys::MessageKind kind) {
  switch (kind) {
  case sys::MessageKind::Plain: return "plain";
  case sys::MessageKind::Information: return "information";
  case sys::MessageKind::Warning: return "warning";
  case sys::MessageKind::Error: return "error";
  case sys::MessageKind::Confirmation: return "confirmation";
  }
  return "plain";
}

// The enum value whose name is text, by the name function of its type; none for any other text.
template <class Enum, std::size_t N>
std::optional<Enum> FromName(const Json& text, const char* (*name)(Enum), const Enum (&values)[N]) {
  if (!text.is_string()) return std::nullopt;
  for (Enum value : values)
    if (text.get<std::string>() == name(value)) return value;
  return std::nullopt;
}

constexpr flash::FlashPhase kPhases[] = {flash::FlashPhase::ReadyWait, flash::FlashPhase::Profile,
                                         flash::FlashPhase::Upload,    flash::FlashPhase::EntryCritical,
                                         flash::FlashPhase::Verify,    flash::FlashPhase::Flash,
                                         flash::FlashPhase::Done};
constexpr sys::MessageKind kMessageKinds[] = {sys::MessageKind::Plain, sys::MessageKind::Information,
                                              sys::MessageKind::Warning, sys::MessageKind::Error,
                                              sys::MessageKind::Confirmation};
constexpr flash::UpdateKind kUpdateKinds[] = {flash::UpdateKind::Update, flash::UpdateKind::Reinstall,
                                              flash::UpdateKind::Downgrade};

Json OptionalText(const std::optional<std::string>& text) { return text ? Json(*text) : Json(); }

std::optional<std::string> TextOrNone(const Json& value) {
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

std::optional<FlashEvent> ParseQuestion(const Json& json) {
  QuestionEvent event;
  const std::string question = json.value("question", "");
  if (question == "update") {
    event.update = FromName(json.value("update", Json()), UpdateKindName, kUpdateKinds);
    if (!event.update) return std::nullopt;
  } else if (question != "restart") {
    return std::nullopt;
  }
  event.text = json.value("text", "");
  event.answer = json.value("answer", false);
  event.answeredBy = json.value("answeredBy", "");
  return event;
}

std::optional<FlashEvent> ParseResult(const Json& json) {
  ResultEvent event;
  event.outcome = json.value("outcome", "");
  event.exitCode = json.value("exitCode", kExitFailure);
  event.dryRun = json.value("dryRun", false);
  if (const Json drive = json.value("drive", Json()); drive.is_object())
    event.drive = EventDrive{drive.value("identity", ""), drive.value("device", "")};
  event.revisionBefore = TextOrNone(json.value("revisionBefore", Json()));
  event.revisionAfter = TextOrNone(json.value("revisionAfter", Json()));
  event.durationMs = json.value("durationMs", std::int64_t{0});
  event.error = TextOrNone(json.value("error", Json()));
  return event;
}

} // namespace

const char* UpdateKindName(flash::UpdateKind kind) {
  switch (kind) {
  case flash::UpdateKind::Update: return "update";
  case flash::UpdateKind::Reinstall: return "reinstall";
  case flash::UpdateKind::Downgrade: return "downgrade";
  }
  return "update";
}

const char* PhaseName(flash::FlashPhase phase) {
  switch (phase) {
  case flash::FlashPhase::ReadyWait: return "readyWait";
  case flash::FlashPhase::Profile: return "profile";
  case flash::FlashPhase::Upload: return "upload";
  case flash::FlashPhase::EntryCritical: return "entryCritical";
  case flash::FlashPhase::Verify: return "verify";
  case flash::FlashPhase::Flash: return "flash";
  case flash::FlashPhase::Done: return "done";
  }
  return "unknown";
}

const char* EventName(const FlashEvent& event) {
  return std::visit(
      [](const auto& e) -> const char* {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, QuestionEvent>) return "question";
        else if constexpr (std::is_same_v<E, PhaseEvent>) return "phase";
        else if constexpr (std::is_same_v<E, StatusEvent>) return "status";
        else if constexpr (std::is_same_v<E, ProgressEvent>) return "progress";
        else if constexpr (std::is_same_v<E, MessageEvent>) return "message";
        else if constexpr (std::is_same_v<E, WarningEvent>) return "warning";
        else if constexpr (std::is_same_v<E, ResultEvent>) return "result";
        else static_assert(kAlwaysFalse<E>, "an event without a name");
      },
      event);
}

Json EventFields(const FlashEvent& event) {
  return std::visit(
      [](const auto& e) -> Json {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, QuestionEvent>) {
          Json fields = {{"question", e.update ? "update" : "restart"}};
          if (e.update) fields["update"] = UpdateKindName(*e.update);
          fields["text"] = e.text;
          fields["answer"] = e.answer;
          fields["answeredBy"] = e.answeredBy;
          return fields;
        } else if constexpr (std::is_same_v<E, PhaseEvent>) {
          return {{"phase", PhaseName(e.phase)}};
        } else if constexpr (std::is_same_v<E, StatusEvent> || std::is_same_v<E, WarningEvent>) {
          return {{"text", e.text}};
        } else if constexpr (std::is_same_v<E, ProgressEvent>) {
          return {{"phase", PhaseName(e.phase)}, {"bytes", e.bytes}, {"total", e.total}};
        } else if constexpr (std::is_same_v<E, MessageEvent>) {
          return {{"kind", MessageKindName(e.kind)}, {"text", e.text}};
        } else if constexpr (std::is_same_v<E, ResultEvent>) {
          Json fields = {{"outcome", e.outcome},
                         {"exitCode", e.exitCode},
                         {"dryRun", e.dryRun},
                         {"drive", e.drive ? Json{{"identity", e.drive->identity}, {"device", e.drive->device}} : Json()},
                         {"revisionBefore", OptionalText(e.revisionBefore)},
                         {"revisionAfter", OptionalText(e.revisionAfter)},
                         {"durationMs", e.durationMs}};
          if (e.error) fields["error"] = *e.error;
          return fields;
        } else {
          static_assert(kAlwaysFalse<E>, "an event without fields");
        }
      },
      event);
}

std::string EventLine(const std::string& name, const Json& fields) {
  Json line = {{"schemaVersion", kJsonSchemaVersion}, {"event", name}};
  line.update(fields);
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<FlashEvent> ParseFlashEvent(const std::string& line) {
  const Json json = Json::parse(line, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  const std::string name = json.value("event", "");
  if (name == "question") return ParseQuestion(json);
  if (name == "phase") {
    const auto phase = FromName(json.value("phase", Json()), PhaseName, kPhases);
    if (!phase) return std::nullopt;
    return PhaseEvent{*phase};
  }
  if (name == "status") return StatusEvent{json.value("text", "")};
  if (name == "progress") {
    const auto phase = FromName(json.value("phase", Json()), PhaseName, kPhases);
    if (!phase) return std::nullopt;
    return ProgressEvent{*phase, json.value("bytes", 0u), json.value("total", 0u)};
  }
  if (name == "message") {
    const auto kind = FromName(json.value("kind", Json()), MessageKindName, kMessageKinds);
    if (!kind) return std::nullopt;
    return MessageEvent{*kind, json.value("text", "")};
  }
  if (name == "warning") return WarningEvent{json.value("text", "")};
  if (name == "result") return ParseResult(json);
  return std::nullopt;
}

void EventStream::Emit(const std::string& event, const Json& fields) {
  if (!enabled_) return;
  std::printf("%s\n", EventLine(event, fields).c_str());
  std::fflush(stdout);
}

} // namespace cli
