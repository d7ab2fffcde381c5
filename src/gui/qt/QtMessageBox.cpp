#include "gui/qt/QtMessageBox.h"

#include <QMessageBox>
#include <QStringDecoder>

namespace gui {

QString MessageTitle(sys::MessageKind kind) {
  switch (kind) {
  case sys::MessageKind::Plain: return ToQString(sys::ApplicationTitle());
  case sys::MessageKind::Information: return QStringLiteral("Information");
  case sys::MessageKind::Warning: return QStringLiteral("Warning");
  case sys::MessageKind::Error: return QStringLiteral("Error");
  case sys::MessageKind::Confirmation: return QStringLiteral("Confirm");
  }
  return {};
}

namespace {

QMessageBox::Icon MessageIcon(sys::MessageKind kind) {
  switch (kind) {
  case sys::MessageKind::Plain: return QMessageBox::NoIcon;
  case sys::MessageKind::Information: return QMessageBox::Information;
  case sys::MessageKind::Warning: return QMessageBox::Warning;
  case sys::MessageKind::Error: return QMessageBox::Critical;
  case sys::MessageKind::Confirmation: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

} // namespace

sys::MessageAnswer ShowMessageBox(QWidget* parent, const std::string& text, sys::MessageKind kind,
                                  sys::MessageButtons buttons) {
  QMessageBox box(MessageIcon(kind), MessageTitle(kind), ToQString(text), QMessageBox::NoButton, parent);
  // Texts such as "<none>" or "a < b" must read as written.
  box.setTextFormat(Qt::PlainText);
  if (buttons == sys::MessageButtons::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    // Yes is the default button, as in a Windows Yes/No box; Escape answers No.
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
  }
  switch (box.exec()) {
  case QMessageBox::Ok: return sys::MessageAnswer::Ok;
  case QMessageBox::Yes: return sys::MessageAnswer::Yes;
  case QMessageBox::No: return sys::MessageAnswer::No;
  default: return sys::MessageAnswer::Closed;
  }
}

QString ToQString(const std::string& text) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (!utf8.hasError()) return decoded;
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace gui
