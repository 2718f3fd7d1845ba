#pragma once
// The words of the engine's questions, statuses, notes and progress, shared by the window and pelloran-cli.

#include <cstdint>
#include <string>

#include "app/FileItem.h"
#include "app/Progress.h"
#include "app/RunStatus.h"
#include "formats/SettingsTable.h"
#include "media/Prompt.h"

namespace pelloran {

std::string QuestionText(Question question, const QuestionData& data);

// A note's words ("" for none).
std::string NoteText(const Note& note);
// The Status column's text.
std::string StatusText(const EntryStatus& status);

// The run line ("Converting file 2 of 5 to MP3...") and the file line ("Converting a.wav...40%").
std::string RunStepText(const RunStep& step);
std::string FileStepText(const FileStep& step);

// The list's column texts; "" where the value is unknown.
std::string DurationText(uint32_t seconds);
std::string BitRateText(uint32_t kbps);
std::string FrequencyText(uint32_t hz);
std::string ChannelsText(const FileItem& item);

// A setting's problem in words: "'MP3BitRate' must be 0 to 320, not 999", a load warning "Name: reason", or
// an ineffective option's warning with what to use instead.
std::string SettingProblemText(const SettingProblem& problem);

// The setting functions of formats/SettingsTable.h with the problem in words, for the front ends.
bool SetSettingByName(ConvertSettings& settings, std::string_view name, std::string_view value, std::string& error);
bool ApplyFormatControl(ConvertSettings& settings, FormatControl control, int32_t value, std::string& error);
bool ApplyTagOverride(ConvertSettings& settings, std::string_view field, std::string_view value, std::string& error);

}  // namespace pelloran
