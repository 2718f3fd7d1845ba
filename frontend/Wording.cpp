#include "frontend/Wording.h"

#include <cstdio>
#include <cstring>

#include "app/OutputNaming.h"
#include "app/Verify.h"
#include "decode/AudioDecoder.h"
#include "decode/CueSheet.h"
#include "platform/Paths.h"

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

namespace {

// The verifier's finding: a VerifyProblem, then its numbers.
std::string VerifyProblemText(const std::vector<uint64_t>& v) {
    const auto at = [&v](size_t i) { return i < v.size() ? v[i] : 0; };
    switch (static_cast<VerifyProblem>(at(0))) {
        case VerifyProblem::None: return {};
        case VerifyProblem::SourceUnreadable: return "the source could not be read again";
        case VerifyProblem::OutputUnreadable: return "the output could not be read";
        case VerifyProblem::Cancelled: return "cancelled";
        case VerifyProblem::SampleDiffers: return "sample " + std::to_string(at(1)) + " differs from the source's";
        case VerifyProblem::Length:
            return "the output decodes to " + std::to_string(at(1)) + " frames, " +
                   (at(2) == at(3) ? std::to_string(at(2)) : std::to_string(at(2)) + " to " + std::to_string(at(3))) +
                   " expected";
    }
    return {};
}

// A CUE sheet's problem: a CueProblem, then the sheet's line or the track's number.
std::string CueProblemText(const Note& note) {
    const auto at = [&note](size_t i) { return i < note.values.size() ? note.values[i] : 0; };
    const std::string line = at(1) != 0 ? " (line " + std::to_string(at(1)) + ")" : std::string{};
    const std::string track = "Track " + std::to_string(at(1)) + " of the CUE sheet ";
    switch (static_cast<CueProblem>(at(0))) {
        case CueProblem::None: return {};
        case CueProblem::TooLarge: return "The CUE sheet is larger than 1 MiB";
        case CueProblem::NotText: return "The CUE sheet is not a text file";
        case CueProblem::NoAudioTracks: return "The CUE sheet has no audio tracks";
        case CueProblem::TooManyTracks: return "The CUE sheet has more than 99 tracks" + line;
        case CueProblem::BadTrack: return "The CUE sheet has a track number outside 1 to 99" + line;
        case CueProblem::BadTime: return "The CUE sheet has a time that is not mm:ss:ff" + line;
        case CueProblem::IndexOrder: return "The CUE sheet's indexes are out of order" + line;
        case CueProblem::IndexWithoutTrack: return "The CUE sheet has an index outside any track" + line;
        case CueProblem::TrackWithoutFile: return "The CUE sheet has a track before any FILE" + line;
        case CueProblem::MissingIndex01: return "A track of the CUE sheet has no INDEX 01" + line;
        case CueProblem::Unreadable: return "The CUE sheet could not be read";
        case CueProblem::FileNotFound: return "The CUE sheet's file \"" + note.text + "\" is not beside it";
        case CueProblem::TrackPastEnd: return track + "starts past the end of its file";
        case CueProblem::TrackEmpty: return track + "holds no audio";
    }
    return {};
}

}  // namespace

std::string NoteText(const Note& note) {
    switch (note.code) {
        case NoteCode::None: return {};
        case NoteCode::ReaderNote: return note.text;
        case NoteCode::ConversionFailed: return "Conversion Failure";
        case NoteCode::SystemError: return std::strerror(note.number);
        case NoteCode::NotRegularFile: return "Not a regular file";
        case NoteCode::DatFile:
            return "DAT files (Video CD tracks) are converted with Pelloran Video Converter, not with this program.";
        case NoteCode::CdaFromDisk:
            return "IMPORTANT: please DO NOT add CDA file from hard drive, but add CDA file from CD drive.";
        case NoteCode::FlashFile:
            return "SWF and FLV files are converted with Pelloran Video Converter, not with this program.";
        case NoteCode::Duplicate: return "Duplicate of an earlier input";
        case NoteCode::NeedsSoundFont: return "Failure. Requires file \"ct4mgm.sf2\".";
        case NoteCode::Skipped: return "Target exists and skipped";
        case NoteCode::TargetIsSource:
            return "Target file name is same as original file that can't be overwritten. Please output files to a "
                   "custom folder.";
        case NoteCode::TargetIsRunSource: return "Target is a source of this run";
        case NoteCode::FolderNotCreated: return "Failed to create folder \"" + note.text + "\"";
        case NoteCode::FileNotCreated: return "Failed to create file \"" + note.text + "\"";
        case NoteCode::NoWorkFile:
            return std::string("No work file in the target's folder: ") +
                   (note.number != 0 ? std::strerror(note.number) : "it stays locked");
        case NoteCode::EmptyOutput: return "The output is empty";
        case NoteCode::VerifyFailed: return "Verification failed: " + VerifyProblemText(note.values);
        case NoteCode::NoAudioDecoded: return "No audio could be decoded";
        case NoteCode::SourceHoldsNoAudio: return "The source holds no audio";
        case NoteCode::WriterSystem: return std::strerror(note.number);
        case NoteCode::RateTooHigh:
            return note.text + " holds rates up to " + std::to_string(note.values.empty() ? 0 : note.values[0]) + " Hz";
        case NoteCode::RateBrought:
            return note.text + " holds no " + std::to_string(note.values.empty() ? 0 : note.values[0]) +
                   " Hz: converted to " + std::to_string(note.values.size() < 2 ? 0 : note.values[1]) + " Hz";
        case NoteCode::TagsTooLarge:
            return "The tags are larger than the " +
                   std::to_string(((note.values.empty() ? 0 : note.values[0]) + (1 << 20) - 1) >> 20) + " MiB " +
                   note.text + " holds";
        case NoteCode::Truncated: return "The source ends early; what it holds was converted";
        case NoteCode::LargePicture: return "A picture over 16 MiB was left out";
        case NoteCode::GainTagsNotWritten: return "The ReplayGain tags could not be written into \"" + note.text + "\"";
        case NoteCode::PatternStrayClose: return "'}' without '{' in the name pattern";
        case NoteCode::PatternUnclosed: return "'{' without '}' in the name pattern";
        case NoteCode::PatternBadWidth: return "bad width '" + note.text + "' in the name pattern";
        case NoteCode::PatternUnknownField: return "unknown field {" + note.text + "} in the name pattern";
        case NoteCode::PatternAbsolute: return "the name pattern gives an absolute path";
        case NoteCode::PatternLeavesFolder: return "the name pattern leaves the output folder";
        case NoteCode::CueSheet: return CueProblemText(note);
    }
    return {};
}

std::string StatusText(const EntryStatus& status) {
    switch (status.state) {
        case EntryState::Converting: return "Converting...";
        case EntryState::Converted: return FileNamePart(status.target);
        case EntryState::Failed:
            return status.note.empty() ? "Conversion Failure" : "Conversion Failure (" + NoteText(status.note) + ")";
        case EntryState::NotConverted: return NoteText(status.note);
        case EntryState::Cancelled: return "Cancelled";
        case EntryState::NotLoaded: return "Failed to load";
    }
    return {};
}

std::string RunStepText(const RunStep& step) {
    return "Converting file " + std::to_string(step.position) + " of " + std::to_string(step.count) + " to " +
           step.format + "...";
}

std::string FileStepText(const FileStep& step) {
    std::string text = (step.stage == FileStage::Verifying ? "Verifying " : "Converting ") + step.name + "...";
    if (step.percent >= 0) text += std::to_string(step.percent) + "%";
    return text;
}

std::string DurationText(uint32_t seconds) {
    if (seconds == 0) return {};
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%02u:%02u", seconds / 60, seconds % 60);
    return text;
}

std::string BitRateText(uint32_t kbps) { return kbps == 0 ? std::string{} : std::to_string(kbps) + " kbps"; }

std::string FrequencyText(uint32_t hz) { return hz == 0 ? std::string{} : std::to_string(hz) + " Hz"; }

std::string ChannelsText(const FileItem& item) {
    if (item.formatCode == kInputMp3) {
        switch (item.channelMode) {
            case 0: return "Stereo";
            case 1: return "J-Stereo";
            case 2: return "Dual Channel";
            case 3: return "Mono";
            default: return {};
        }
    }
    switch (item.channels) {
        case 0:
        case 1: return "Mono";
        case 2: return "Stereo";
        case 6: return "5.1";
        default: return std::to_string(item.channels);
    }
}

std::string SettingProblemText(const SettingProblem& p) {
    const std::string name = "'" + p.name + "'";
    const std::string cause = p.cause ? SettingProblemText(*p.cause) : std::string{};
    switch (p.issue) {
        case SettingIssue::None: return {};
        case SettingIssue::UnknownName:
            return "unknown option " + name + (p.other.empty() ? std::string{} : "; did you mean '" + p.other + "'?");
        case SettingIssue::NeedsNumber:
            return name + " needs a number" + (p.other.empty() ? std::string{} : " or " + p.other) + ", not '" +
                   p.value + "'";
        case SettingIssue::OutOfRange: return name + " must be " + p.other + ", not " + p.value;
        case SettingIssue::StoredTextForNumber: return p.name + ": text where a number belongs";
        case SettingIssue::StoredNumberForText: return p.name + ": a number where text belongs";
        case SettingIssue::StoredOutOfRange: return p.name + ": " + p.value + " is out of range (" + p.other + ")";
        case SettingIssue::ControlNotApplicable: return p.name + " does not apply to " + p.other + " output";
        case SettingIssue::ControlRefused: return p.name + " " + p.value + ": " + cause;
        case SettingIssue::NoTags: return "--tag: " + p.other + " output holds no tags";
        case SettingIssue::TagTrackRefused: return "--tag track: " + cause;
        case SettingIssue::UnknownTagField:
            return "--tag: unknown field '" + p.value +
                   "' (title, artist, album, year, genre, comment, track, composer, copyright)";
        case SettingIssue::NoEffectOnFormat: return name + " has no effect on " + p.other + " output";
        case SettingIssue::NoEffectWhileAutomatic:
            return name + " has no effect while " + p.other + " is 1; use -b/--rate/--channels/--quality, or -s " +
                   p.other + "=0";
        case SettingIssue::NoEffectOutsideQuality:
            return name + " has no effect while " + p.other + " is " + p.value + "; use --quality";
        case SettingIssue::NoEffectInQualityMode: return name + " has no effect while " + p.other + " is 1; use -b";
        case SettingIssue::NoEffectWithoutAmplify:
            return name + " has no effect while " + p.other + " is 0; add -s " + p.other + "=1";
        case SettingIssue::NoEffectUnlessTagType:
            return name + " has no effect unless " + p.other +
                   " is custom or merge; use --tag NAME=VALUE to set a field on top of the source's tags";
    }
    return {};
}

bool SetSettingByName(ConvertSettings& settings, std::string_view name, std::string_view value, std::string& error) {
    SettingProblem problem;
    if (SetSettingByName(settings, name, value, problem)) return true;
    error = SettingProblemText(problem);
    return false;
}

bool ApplyFormatControl(ConvertSettings& settings, FormatControl control, int32_t value, std::string& error) {
    SettingProblem problem;
    if (ApplyFormatControl(settings, control, value, problem)) return true;
    error = SettingProblemText(problem);
    return false;
}

bool ApplyTagOverride(ConvertSettings& settings, std::string_view field, std::string_view value, std::string& error) {
    SettingProblem problem;
    if (ApplyTagOverride(settings, field, value, problem)) return true;
    error = SettingProblemText(problem);
    return false;
}

}  // namespace pelloran
