#pragma once
// The program's web and mail addresses and the version shown to users.

namespace pelloran {

inline constexpr const char* kProgramName = "Pelloran";
// The project's version, set once in CMake.
inline constexpr const char* kVersionText = PELLORAN_VERSION;
inline constexpr const char* kWebSite = "https://pelloran.org/";
inline constexpr const char* kWebSiteText = "pelloran.org";
// Releases are announced on the home page: "Check Latest Version" opens it.
inline constexpr const char* kCheckUpdatesAddress = "https://pelloran.org/";
inline constexpr const char* kSupportMail = "mailto:support@pelloran.org?subject=Pelloran%20feedback";
inline constexpr const char* kTellFriendMail =
    "mailto:?subject=Pelloran%2C%20an%20audio%20converter%20for%20Linux&body=https://pelloran.org/";
inline constexpr const char* kLicenseAddress = "https://www.gnu.org/licenses/gpl-3.0.html";
inline constexpr const char* kLameProjectAddress = "https://lame.sourceforge.io/";
inline constexpr const char* kSupportLine =
    "If these files play in other programs, please send them to support@pelloran.org so that Pelloran can "
    "learn to read them.";

}  // namespace pelloran
