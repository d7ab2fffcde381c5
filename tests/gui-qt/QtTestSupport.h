#pragma once
// Support for driving the Qt window in-process: one application object for the whole test
// program, and a user who answers the message boxes as they appear.

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace guitest {

QApplication& Application();

struct SeenBox {
  std::string title;
  std::string text;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton;
};

// Watches for modal message boxes on the window's thread and presses the button that
// decide() picks for each one (NoButton: leave it open for now).
class BoxAnswerer {
public:
  using Decision = std::function<QMessageBox::StandardButton(const SeenBox&)>;
  explicit BoxAnswerer(Decision decide);
  ~BoxAnswerer();
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  const std::vector<SeenBox>& Seen() const { return seen_; }

private:
  void Look();
  Decision decide_;
  QTimer timer_;
  QPointer<QMessageBox> lastAnswered_;
  std::vector<SeenBox> seen_;
};

std::string Bytes(const QString& text);

} // namespace guitest
