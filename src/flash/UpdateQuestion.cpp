#include "flash/UpdateQuestion.h"

#include <algorithm>

#include "sys/Text.h"

namespace flash {

int CompareRevisions(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto left = static_cast<unsigned char>(a[i]);
    const auto right = static_cast<unsigned char>(b[i]);
    if (left != right) return left < right ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

UpdateQuestion MakeUpdateQuestion(std::string_view driveRevision, std::string_view carriedRevision,
                                  bool anyFirmware) {
  const std::string d(driveRevision);
  const int order = CompareRevisions(d, carriedRevision);
  const std::string n = sys::PrintableText(std::string(carriedRevision)); // the flasher's bytes, shown
  UpdateQuestion question;
  question.kind = order > 0 ? sys::MessageKind::Warning : sys::MessageKind::Confirmation;
  question.update = order < 0 ? UpdateKind::Update : (order == 0 ? UpdateKind::Reinstall : UpdateKind::Downgrade);
  if (anyFirmware) {
    question.text = "\nUpdate Firmware : " + d + " to " + n + " ?\n";
  } else if (order >= 0) {
    question.text = "\nWARNING !!!\n\nYour drive Firmware : " + d + " is aready the most updated !" +
                    "\n\nUpdate Firmware : " + d + " to " + n + " ?\n";
  } else {
    question.text = "\nUpdate Firmware " + d + " to " + n + " ?\n";
  }
  return question;
}

} // namespace flash
