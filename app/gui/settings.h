// Where the program keeps its per-user settings, and under which names.
#pragma once

namespace restorix::settings {

inline constexpr const char* kCompany = "Quillon Labs";
inline constexpr const char* kApplication = "Quillon Restorix";
// The title of the main window and of its plain messages.
inline constexpr const char* kTitle = "Quillon Restorix";

// Nonzero: the wizard opens at start-up (the wizard writes it).
inline constexpr const char* kWizardStartUp = "Wizard/StartUp";
// The tip of the day at start-up (default on), and the next tip to show.
inline constexpr const char* kTipStartUp = "Tip/StartUp";
inline constexpr const char* kTipNext = "Tip/Next";
// The main window's place and size, and its toolbar and panes.
inline constexpr const char* kFrameGeometry = "MainFrame/Geometry";
inline constexpr const char* kCommandBars = "CommandBars/State";
inline constexpr const char* kToolbarIconSize = "CommandBars/IconSize";
// Disks are opened through udisks2: the user said so once.
inline constexpr const char* kUseUDisks = "RawAccess/UseUDisks";
// The user asked not to be told again how to get access to disks.
inline constexpr const char* kRawAccessQuiet = "RawAccess/Quiet";
// Where "&Buy" leads; a default page when absent or empty.
inline constexpr const char* kBuyUrl = "BuyURL";

}  // namespace restorix::settings
