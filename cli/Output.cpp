#include "cli/Output.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/CliProgress.h"
#include "cli/TextOut.h"
#include "decode/DecoderFactory.h"
#include "frontend/Wording.h"
#include "media/TagRecord.h"

namespace pelloran::cli {

namespace {

using Json = nlohmann::ordered_json;

// JSON keeps names that are not UTF-8 recoverable: the text with replacement characters, plus the bytes.
void PutName(Json& j, const char* key, const std::string& name) {
    j[key] = name;
    if (!IsValidUtf8(name)) j[std::string(key) + "_bytes"] = Base64Encode(name);
}

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

EntryStatus NotLoadedStatus(const AddedFile& file) {
    if (!file.probed) return {EntryState::Cancelled, {}, {}};
    if (file.probe.notRegular) return {EntryState::NotConverted, MakeNote(NoteCode::NotRegularFile), {}};
    return {EntryState::NotLoaded, file.probe.note, {}};
}

}  // namespace

std::string FormatLine(const OutputFormatInfo& format, bool json) {
    if (json) {
        return Dump(Json{{"name", format.name},   {"extensions", format.extensions}, {"lossless", format.lossless},
                         {"max_channels", format.maxChannels}, {"tags", format.tags}, {"label", format.label}});
    }
    std::string extensions;
    for (const auto& extension : format.extensions) extensions += (extensions.empty() ? "" : ",") + extension;
    const auto yesNo = [](bool b) { return b ? "yes" : "no"; };
    return format.name + "\t" + extensions + "\t" + yesNo(format.lossless) + "\t" +
           std::to_string(format.maxChannels) + "\t" + yesNo(format.tags) + "\t" + format.label;
}

const char* StatusCodeName(StatusCode code) {
    switch (code) {
        case StatusCode::Converted: return "converted";
        case StatusCode::Planned: return "planned";
        case StatusCode::Skipped: return "skipped";
        case StatusCode::Failed: return "failed";
        case StatusCode::Cancelled: return "cancelled";
        case StatusCode::NotLoaded: return "not_loaded";
    }
    return "failed";
}

OrderedPrinter::OrderedPrinter(size_t count, CliProgress& progress)
    : lines_(count), ready_(count, false), progress_(progress) {}

void OrderedPrinter::Set(size_t index, std::string line) {
    std::lock_guard lock(mutex_);
    lines_[index] = std::move(line);
    ready_[index] = true;
    FlushReady();
}

void OrderedPrinter::FlushAll(const std::function<std::string(size_t)>& fallback) {
    std::lock_guard lock(mutex_);
    for (size_t i = next_; i < lines_.size(); ++i) {
        if (!ready_[i]) {
            lines_[i] = fallback(i);
            ready_[i] = true;
        }
    }
    FlushReady();
}

void OrderedPrinter::FlushReady() {
    bool printed = false;
    while (next_ < lines_.size() && ready_[next_]) {
        if (!printed) {
            progress_.Lock();
            progress_.Clear();
        }
        printed = true;
        std::fputs(lines_[next_].c_str(), stdout);
        std::fputc('\n', stdout);
        ++next_;
    }
    if (printed) {
        std::fflush(stdout);
        progress_.Unlock();
    }
}

std::string ConvertLine(const std::string& source, StatusCode code, const EntryStatus& status,
                        const std::string& target, const EntryResult& result, bool json) {
    if (!json) return EscapeText(source) + "\t" + EscapeText(StatusText(status));
    Json j;
    PutName(j, "source", source);
    j["ok"] = result.ok || code == StatusCode::Skipped;
    j["status_code"] = StatusCodeName(code);
    j["status"] = StatusText(status);
    PutName(j, "target", target);
    j["note"] = NoteText(result.note);
    j["truncated"] = result.truncated;
    j["verified"] = result.verified;
    if (result.verifyRan) {
        j["frames_source"] = result.framesSource;
        j["frames_output"] = result.framesOutput;
    } else {
        j["frames_source"] = nullptr;
        j["frames_output"] = nullptr;
    }
    j["tags_dropped"] = result.tagsDropped;
    return Dump(j);
}

std::string DuplicateLine(const AddedFile& file, bool json) {
    EntryResult result;
    result.skipped = true;
    result.note = MakeNote(NoteCode::Duplicate);
    return ConvertLine(file.path, StatusCode::Skipped, {EntryState::NotConverted, result.note, {}}, "", result, json);
}

std::string NotLoadedLine(const AddedFile& file, bool json) {
    EntryResult result;
    result.note = file.probe.note;
    const StatusCode code = file.probed ? StatusCode::NotLoaded : StatusCode::Cancelled;
    return ConvertLine(file.path, code, NotLoadedStatus(file), "", result, json);
}

std::string ProbeLine(const AddedFile& file, bool json, const std::optional<LoudnessResult>* loudness) {
    if (file.duplicate) return DuplicateLine(file, json);
    const FileItem& item = file.probe.item;
    // Loudness measures: absent ones are null (JSON) or empty columns (text).
    std::optional<double> lufs, range, truePeak, samplePeak;
    if (loudness != nullptr && *loudness) {
        lufs = (*loudness)->integrated;
        range = (*loudness)->range;
        truePeak = (*loudness)->TruePeakDb();
        samplePeak = (*loudness)->samplePeak;
    }
    if (json) {
        Json j;
        PutName(j, "source", file.path);
        j["ok"] = file.probe.ok;
        if (file.probe.ok) {
            j["status_code"] = "probed";
            j["duration_seconds"] = static_cast<double>(item.durationSeconds);
            j["bitrate_kbps"] = item.bitrateKbps;
            j["sample_rate"] = item.sampleRate;
            j["channels"] = file.probe.channels;
            j["channel_mode"] = file.probe.channelMode;
            j["format_code"] = item.formatCode;
            j["reader"] = file.probe.reader ? ReaderName(*file.probe.reader) : "";
            if (loudness != nullptr) {
                // Rounded as the text shows them: hundredths, millionths for the linear peak.
                const auto put = [&](const char* key, const std::optional<double>& value, double scale) {
                    j[key] = value ? Json(std::round(*value * scale) / scale) : Json(nullptr);
                };
                put("loudness_lufs", lufs, 1e2);
                put("loudness_range_lu", range, 1e2);
                put("true_peak_dbtp", truePeak, 1e2);
                put("sample_peak", samplePeak, 1e6);
            }
        } else {
            j["status_code"] = StatusCodeName(file.probed ? StatusCode::NotLoaded : StatusCode::Cancelled);
            j["status"] = StatusText(NotLoadedStatus(file));
            j["note"] = NoteText(file.probe.note);
        }
        return Dump(j);
    }
    if (!file.probe.ok) return EscapeText(file.path) + "\t" + EscapeText(StatusText(NotLoadedStatus(file)));
    std::string line = EscapeText(file.path) + "\t" + DurationText(item.durationSeconds) + "\t" +
                       BitRateText(item.bitrateKbps) + "\t" + FrequencyText(item.sampleRate) + "\t" + ChannelsText(item);
    if (loudness != nullptr) {
        const auto column = [&](const std::optional<double>& value, int decimals, const char* unit) {
            line += '\t';
            if (!value) return;
            char text[64];
            std::snprintf(text, sizeof text, "%.*f%s", decimals, *value, unit);
            line += text;
        };
        column(lufs, 2, " LUFS");
        column(range, 2, " LU");
        column(truePeak, 2, " dBTP");
        column(samplePeak, 6, "");
    }
    return line;
}

void Counts::Add(StatusCode code) {
    switch (code) {
        case StatusCode::Converted: ++converted; break;
        case StatusCode::Planned: ++planned; break;
        case StatusCode::Skipped: ++skipped; break;
        case StatusCode::Failed: ++failed; break;
        case StatusCode::Cancelled: ++cancelled; break;
        case StatusCode::NotLoaded: ++notLoaded; break;
    }
}

std::string SummaryLine(const Counts& counts, double elapsedSeconds, bool dryRun) {
    Json j;
    j["summary"] = true;
    j["dry_run"] = dryRun;
    j["converted"] = counts.converted;
    j["planned"] = counts.planned;
    j["skipped"] = counts.skipped;
    j["failed"] = counts.failed;
    j["cancelled"] = counts.cancelled;
    j["not_loaded"] = counts.notLoaded;
    j["elapsed_seconds"] = elapsedSeconds;
    return Dump(j);
}

}  // namespace pelloran::cli
