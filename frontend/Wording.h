#pragma once
// The words of the engine's questions, statuses, notes and progress, shared by the window and pelloran-cli.

#include <cstdint>
#include <string>

#include "app/FileItem.h"
#include "app/Progress.h"
#include "app/RunStatus.h"
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

}  // namespace pelloran
