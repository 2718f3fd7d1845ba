#pragma once
// Questions the engine needs answered: asked as codes with their data; the front ends word them.

#include <string>

namespace pelloran {

enum class Question {
    WmaRuntimeMissing,  // WMA needs its runtime; Yes opens the download page
    SoundFontMissing,   // MIDI needs the SoundFont; Yes opens the download page and data.folder
};

struct QuestionData {
    std::string folder;  // SoundFontMissing: where the SoundFont goes
};

class UserPrompt {
public:
    virtual ~UserPrompt() = default;
    // True for Yes.
    virtual bool Ask(Question question, const QuestionData& data) = 0;
    // Opens a folder or web address an answer asked for; the front end does it, the engine never does.
    virtual void OpenAddress(const std::string& address) { (void)address; }
};

}  // namespace pelloran
