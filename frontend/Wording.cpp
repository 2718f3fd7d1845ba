#include "frontend/Wording.h"

namespace pelloran {

std::string QuestionText(Question question, const QuestionData& data) {
    switch (question) {
        case Question::WmaRuntimeMissing:
            return "Dear user, WMA file requires Windows Media Format 9 Series Runtime.\nUnfortunately, the component "
                   "isn't available on your computer.\n\nDo you want to download and install it now?";
        case Question::SoundFontMissing:
            return "Dear user, to decode MIDI file, file \"ct4mgm.sf2\" is required.\nUnfortunately, the file isn't "
                   "available on your computer.\n\nDo you want to download the file from our website for free "
                   "now?\n\nOnce download completes, please copy the file to folder:\n\"" +
                   data.folder + "\"\nAnd then convert your MIDI file again. Thank you.";
    }
    return {};
}

}  // namespace pelloran
