// Start-up, in its fixed order: the check that disks can be read, the
// single-instance lock, the settings, the main window, then the command
// line, the tip of the day and the wizard.
#pragma once

#include <QLockFile>
#include <QSettings>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "gui/raw_access.h"

namespace restorix {

class MainFrame;

inline constexpr const char* kAlreadyRunning =
    "Quillon Restorix already running.\nPlease close the running instance first.";
inline constexpr const char* kLockFailed = "Failed to load Quillon NTFS";

// What start-up asks of the machine; tests put their own answers here.
struct StartupProbes {
  std::function<RawAccess()> rawAccess = [] { return ProbeRawAccess(); };
  std::function<bool()> udisks = UDisksAvailable;
  std::function<void()> useUDisks = UseUDisksForDevices;
};

// When disks cannot be read: offers udisks2 if the system bus has it (and
// remembers a yes), else says once how to get access. Start-up goes on.
void CheckRawAccess(const StartupProbes& probes, QSettings& settings);

// A device this program may not open: offers udisks2 as at start-up (and
// remembers a yes), else says how to get access. True when devices are now
// opened through udisks2 and opening is worth trying again.
bool OfferDeviceAccess(QWidget* parent, const StartupProbes& probes = {});

// The lock that keeps a second instance out, in the user's runtime folder.
QString InstanceLockPath();
// Null after the message that ends start-up.
std::unique_ptr<QLockFile> TakeInstanceLock();

struct Started {
  std::unique_ptr<QLockFile> lock;
  std::unique_ptr<MainFrame> frame;
};

// Runs start-up with the program's arguments (a .qns or .qni file to open,
// --no-tip). Nothing when start-up ended early.
std::optional<Started> StartUp(const QStringList& arguments, const StartupProbes& probes = {});

}  // namespace restorix
