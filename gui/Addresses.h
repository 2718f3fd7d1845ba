#pragma once
// The program's web and mail addresses and the version shown to users.

namespace pelloran {

inline constexpr const char* kProgramName = "Pelloran";
// The project's version, set once in CMake.
inline constexpr const char* kVersionText = PELLORAN_VERSION;
inline constexpr const char* kWebSite = "https://pelloran.org/";
inline constexpr const char* kWebSiteText = "pelloran.org";
inline constexpr const char* kCheckUpdatesAddress = "https://pelloran.org/checkforupdates/?ver=" PELLORAN_VERSION;
inline constexpr const char* kSupportMail = "mailto:support@pelloran.org?subject=Pelloran%20feedback";
inline constexpr const char* kTellFriendMail =
    "mailto:?subject=Pelloran%20-%20very%20COOL%20application!!!&body=Download%20from%20https://pelloran.org/";
inline constexpr const char* kLameProjectAddress = "https://lame.sourceforge.io/";
inline constexpr const char* kSupportLine =
    "If these files play in other programs, please send them to support@pelloran.org so that Pelloran can "
    "learn to read them.";

}  // namespace pelloran
