#include "gui/qt/SleepInhibitor.h"

#include <unistd.h>

#include "app/FormView.h"

#ifdef ODFLASH_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QString>
#endif

namespace gui {

#ifdef ODFLASH_HAVE_QTDBUS
namespace {

constexpr int kBusTimeoutMilliseconds = 2000;

// Asks logind for a blocking lock on what; -1 when refused or unavailable.
int TakeLock(QDBusConnection& bus, const QString& what, const std::string& reason) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
  call << what << QString::fromLatin1(app::kApplicationTitle) << QString::fromStdString(reason)
       << QStringLiteral("block");
  const QDBusMessage reply = bus.call(call, QDBus::Block, kBusTimeoutMilliseconds);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return -1;
  const auto descriptor = reply.arguments().front().value<QDBusUnixFileDescriptor>();
  // The reply owns its descriptor; keep a copy of our own for as long as the lock is wanted.
  return descriptor.isValid() ? ::dup(descriptor.fileDescriptor()) : -1;
}

} // namespace
#endif

SleepInhibitor::SleepInhibitor([[maybe_unused]] const std::string& reason) {
#ifdef ODFLASH_HAVE_QTDBUS
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return;
  // A closed laptop lid or the suspend key would also stop the flash half-way; some systems
  // only allow the plain sleep lock to ordinary users.
  lockDescriptor_ = TakeLock(bus, QStringLiteral("sleep:idle:handle-suspend-key:handle-hibernate-key:handle-lid-switch"),
                             reason);
  if (lockDescriptor_ < 0) lockDescriptor_ = TakeLock(bus, QStringLiteral("sleep:idle"), reason);
#endif
}

SleepInhibitor::~SleepInhibitor() {
  if (lockDescriptor_ >= 0) ::close(lockDescriptor_);
}

} // namespace gui
