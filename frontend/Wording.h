#pragma once
// The words of the engine's questions, shared by the window and pelloran-cli.

#include <string>

#include "media/Prompt.h"

namespace pelloran {

std::string QuestionText(Question question, const QuestionData& data);

}  // namespace pelloran
