#include "gui/raw_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QVariantMap>
#include <cerrno>
#include <fstream>

#include "platform/file_io.h"

namespace restorix {

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
// Long enough for a person to read the polkit question and answer it.
constexpr int kPromptTimeoutMs = 5 * 60 * 1000;

// RAM disks, optical and floppy drives (often open to their users where
// disks are not), and devices without media, such as unused loop devices.
bool Skipped(const std::filesystem::path& entry) {
  const std::string name = entry.filename().string();
  for (const char* prefix : {"ram", "zram", "sr", "fd"})
    if (name.rfind(prefix, 0) == 0) return true;
  std::ifstream sizeFile(entry / "size");
  unsigned long long sectors = 0;
  return !(sizeFile >> sectors) || sectors == 0;
}

}  // namespace

RawAccess ProbeRawAccess(const std::filesystem::path& sysBlock, const std::filesystem::path& dev) {
  std::error_code ec;
  bool refused = false;
  for (const auto& entry : std::filesystem::directory_iterator(sysBlock, ec)) {
    if (Skipped(entry.path())) continue;
    const auto device = dev / entry.path().filename();
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      return RawAccess::Granted;
    }
    refused = refused || errno == EACCES || errno == EPERM;
  }
  return refused ? RawAccess::Refused : RawAccess::NoDevices;
}

bool UDisksAvailable() {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected() || bus.interface() == nullptr) return false;
  if (bus.interface()->isServiceRegistered(kService)) return true;
  const QDBusReply<QStringList> activatable =
      bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "ListActivatableNames"));
  return activatable.isValid() && activatable.value().contains(kService);
}

int OpenThroughUDisks(const std::filesystem::path& device, int& error) {
  QDBusConnection bus = QDBusConnection::systemBus();
  error = EACCES;
  if (!bus.isConnected()) return -1;
  QDBusMessage resolve =
      QDBusMessage::createMethodCall(kService, "/org/freedesktop/UDisks2/Manager",
                                     "org.freedesktop.UDisks2.Manager", "ResolveDevice");
  QVariantMap blockSpec;
  blockSpec["path"] = QString::fromStdString(device.string());
  resolve << blockSpec << QVariantMap();
  const QDBusReply<QList<QDBusObjectPath>> objects = bus.call(resolve);
  if (!objects.isValid() || objects.value().isEmpty()) {
    error = ENODEV;
    return -1;
  }
  QDBusMessage open = QDBusMessage::createMethodCall(
      kService, objects.value().front().path(), "org.freedesktop.UDisks2.Block", "OpenForBackup");
  open << QVariantMap();
  open.setInteractiveAuthorizationAllowed(true);
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(open, QDBus::Block, kPromptTimeoutMs);
  if (!reply.isValid() || !reply.value().isValid()) return -1;
  // The reply owns its descriptor; the caller gets a copy of its own.
  const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) error = errno;
  return fd;
}

void UseUDisksForDevices() {
  SetDeviceOpener(OpenThroughUDisks);
}

}  // namespace restorix
