#pragma once
// The names an installation is made of: the installer's script, the uninstaller and the publisher
// all take them from here. The script gets them filled in when it is embedded (names.cmake reads
// the lines below, so each stays on one line in this form).

#include <string_view>

// The folder in the user's profile, and the two files every installation holds.
inline constexpr std::string_view kInstallFolderName = "ORVAN Launcher";
inline constexpr std::string_view kLauncherName = "ORVAN Launcher.exe";
inline constexpr std::string_view kUninstallerName = "ORVAN Deinstallieren.exe";
// The list a package carries beside the uninstaller, and the record of every version's files that
// registration keeps in the install folder.
inline constexpr std::string_view kFileListName = "ORVAN Deinstallieren.dateien";
inline constexpr std::string_view kRecordName = "ORVAN Deinstallieren.bestand";
// Beside the install folder in the profile: the new version while it is unpacked, and the old one
// while the new one moves in.
inline constexpr std::string_view kStageFolderName = "ORVAN.neu";
inline constexpr std::string_view kBackupFolderName = "ORVAN.alt";
// The desktop shortcut.
inline constexpr std::string_view kShortcutName = "ORVAN Launcher.lnk";
