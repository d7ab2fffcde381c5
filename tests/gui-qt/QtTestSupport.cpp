#include "QtTestSupport.h"

#include <QAbstractButton>
#include <QPushButton>

namespace guitest {

QApplication& Application() {
  // Qt's offscreen platform: the view is driven in-process and needs no display.
  static int argc = 3;
  static char name[] = "gui_qt_tests";
  static char platform[] = "-platform";
  static char offscreen[] = "offscreen";
  static char* argv[] = {name, platform, offscreen, nullptr};
  // Kept for the whole program: Qt allows one application object per process.
  static QApplication* application = new QApplication(argc, argv);
  return *application;
}

BoxAnswerer::BoxAnswerer(Decision decide) : decide_(std::move(decide)) {
  QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
  timer_.start(5);
}

BoxAnswerer::~BoxAnswerer() { timer_.stop(); }

void BoxAnswerer::Look() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr || !box->isVisible() || box == lastAnswered_) return;
  SeenBox seen{Bytes(box->windowTitle()), Bytes(box->text()), box->icon(), box->standardButtons(),
               box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton};
  const QMessageBox::StandardButton choice = decide_(seen);
  if (choice == QMessageBox::NoButton) return;
  seen_.push_back(seen);
  lastAnswered_ = box;
  if (QAbstractButton* button = box->button(choice)) button->click();
}

std::string Bytes(const QString& text) { return text.toStdString(); }

} // namespace guitest
