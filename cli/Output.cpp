#include "cli/Output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/CliProgress.h"
#include "cli/Mirror.h"
#include "cli/TextOut.h"
#include "decode/DecoderFactory.h"
#include "frontend/Wording.h"
#include "media/TagRecord.h"
#include "platform/Paths.h"

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

void Counts::Add(const Counts& other) {
    converted += other.converted;
    planned += other.planned;
    skipped += other.skipped;
    failed += other.failed;
    cancelled += other.cancelled;
    notLoaded += other.notLoaded;
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

CliObserver::CliObserver(OrderedPrinter& printer, CliProgress& progress, std::vector<size_t> lineOf,
                         std::vector<FileItem*>& items, bool json, bool dryRun, FailureReport* report)
    : printer_(printer), progress_(progress), lineOf_(std::move(lineOf)), items_(items), statuses_(items.size()),
      json_(json), dryRun_(dryRun), report_(report) {}

void CliObserver::SetStatus(size_t index, const EntryStatus& status) {
    std::lock_guard lock(mutex_);
    statuses_[index] = status;
    if (status.state == EntryState::Converting) progress_.EntryStarted(index, FileNamePart(items_[index]->sourcePath));
}

void CliObserver::EntryProgress(size_t index, double fraction) { progress_.EntryProgress(index, fraction); }

void CliObserver::EntryFinished(size_t index, const EntryResult& result) {
    EntryStatus status;
    StatusCode code = StatusCode::Failed;
    {
        std::lock_guard lock(mutex_);
        status = statuses_[index];
        if (result.ok) code = dryRun_ ? StatusCode::Planned : StatusCode::Converted;
        else if (result.skipped) code = StatusCode::Skipped;
        else if (result.notLoaded) code = StatusCode::NotLoaded;
        else if (status.state == EntryState::Cancelled) code = StatusCode::Cancelled;
        counts_.Add(code);
    }
    progress_.EntryFinished(index);
    const FileItem& item = *items_[index];
    Finishing(index, item, result);
    // Text mode: what a user should know of an entry also goes to standard error, as sox and flac warn.
    if (!json_ && !result.note.empty() && code != StatusCode::Cancelled) {
        progress_.Lock();
        progress_.Clear();
        std::cerr << EscapeText(item.sourcePath) << ": " << EscapeText(NoteText(result.note)) << "\n";
        progress_.Unlock();
    }
    const std::string target = code == StatusCode::NotLoaded ? std::string{} : item.targetPath;
    printer_.Set(lineOf_[index], ConvertLine(item.sourcePath, code, status, target, result, json_));
    if (report_ != nullptr && (code == StatusCode::Failed || code == StatusCode::NotLoaded))
        report_->Add(ConvertLine(item.sourcePath, code, status, target, result, true));
}

bool CliObserver::Ask(Question question, const QuestionData& data) {
    std::lock_guard lock(mutex_);
    std::cerr << EscapeText(QuestionText(question, data)) << "\n(answered No)\n";
    return false;
}

Counts CliObserver::counts() {
    std::lock_guard lock(mutex_);
    return counts_;
}

}  // namespace pelloran::cli

// Streams: standard input and standard output through a private folder.

namespace pelloran::cli {

namespace {

// The stream folder's path for the signal handler: removed with system calls only.
char streamFolderPath[PATH_MAX];

// Removes name (below the open folder parent) and everything below it, with system calls only so that a
// signal handler may call it; depth bounded.
void RemoveTreeAt(int parent, const char* name, int depth) {
    if (unlinkat(parent, name, 0) == 0) return;
    if ((errno != EISDIR && errno != EPERM) || depth > 16) {
        unlinkat(parent, name, AT_REMOVEDIR);
        return;
    }
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buffer[4096];
        // Removing entries while reading can skip some: read again from the start until a pass removes none.
        for (int pass = 0; pass < 64; ++pass) {
            bool removed = false;
            lseek(fd, 0, SEEK_SET);
            for (ssize_t got; (got = getdents64(fd, buffer, sizeof buffer)) > 0;) {
                for (ssize_t at = 0; at < got;) {
                    const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
                    at += entry->d_reclen;
                    const char* n = entry->d_name;
                    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
                    RemoveTreeAt(fd, n, depth + 1);
                    removed = true;
                }
            }
            if (!removed) break;
        }
        close(fd);
    }
    unlinkat(parent, name, AT_REMOVEDIR);
}

void RemoveStreamFolder() {
    if (streamFolderPath[0] != '\0') RemoveTreeAt(AT_FDCWD, streamFolderPath, 0);
    streamFolderPath[0] = '\0';
}

bool StartsWith(const std::string& data, std::string_view magic, size_t at = 0) {
    return data.size() >= at + magic.size() && data.compare(at, magic.size(), magic) == 0;
}

}  // namespace

OwnedFd::~OwnedFd() { Reset(); }

void OwnedFd::Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
}

bool StreamFolder::Create() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/pelloran-stream-XXXXXX";
    if (pattern.size() >= sizeof streamFolderPath || mkdtemp(pattern.data()) == nullptr) return false;
    path_ = pattern;
    std::memcpy(streamFolderPath, path_.c_str(), path_.size() + 1);
    CliProgress::SetLastWords(RemoveStreamFolder);
    return mkdir(OutputFolder().c_str(), 0700) == 0;
}

void StreamFolder::Remove() {
    if (path_.empty()) return;
    RemoveStreamFolder();
    path_.clear();
}

std::string SniffAudioExtension(const std::function<std::string(uint64_t, size_t)>& readAt) {
    uint64_t offset = 0;
    // Tags in front: ID3v2 (an MP3's, sometimes a FLAC's), a few at most.
    for (int tags = 0;; ++tags) {
        const std::string head = readAt(offset, 10);
        if (tags == 4 || !StartsWith(head, "ID3") || head.size() < 10) break;
        uint64_t size = 0;
        for (int i = 6; i < 10; ++i) size = (size << 7) | (static_cast<uint8_t>(head[i]) & 0x7F);
        offset += 10 + size + ((static_cast<uint8_t>(head[5]) & 0x10) != 0 ? 10 : 0);
    }
    const std::string d = readAt(offset, 64);
    const auto byte = [&](size_t i) { return i < d.size() ? static_cast<uint8_t>(d[i]) : 0; };
    static const struct {
        std::string_view magic;
        size_t at;
        const char* extension;
    } kinds[] = {
        {"fLaC", 0, ".flac"},        {"WAVE", 8, ".wav"},        {"RF64", 0, ".wav"},       {"BW64", 0, ".wav"},
        {"AIFF", 8, ".aiff"},        {"AIFC", 8, ".aiff"},       {"OpusHead", 28, ".opus"}, {"\x01vorbis", 28, ".ogg"},
        {"\x7f" "FLAC", 28, ".oga"}, {"Speex   ", 28, ".spx"},   {"OggS", 0, ".ogg"},       {".snd", 0, ".au"},
        {"MThd", 0, ".mid"},         {"wvpk", 0, ".wv"},         {"MAC ", 0, ".ape"},       {"TTA1", 0, ".tta"},
        {"MPCK", 0, ".mpc"},         {"MP+", 0, ".mpc"},         {"#!AMR-WB\n", 0, ".awb"}, {"#!AMR\n", 0, ".amr"},
        {"ftyp", 4, ".m4a"},         {"\x1a\x45\xdf\xa3", 0, ".mka"}, {"Creative Voice File", 0, ".voc"},
        {"\x30\x26\xb2\x75\x8e\x66\xcf\x11", 0, ".wma"}, {"\x0b\x77", 0, ".ac3"}, {"\x7f\xfe\x80\x01", 0, ".dts"},
    };
    for (const auto& kind : kinds) {
        if (StartsWith(d, kind.magic, kind.at) && (kind.at != 8 || StartsWith(d, "RIFF") || StartsWith(d, "FORM")))
            return kind.extension;
    }
    // An MPEG audio frame: layer bits 00 are AAC in ADTS, 10 Layer II, else Layer III (or I).
    if (byte(0) == 0xFF && (byte(1) & 0xE0) == 0xE0) {
        const int layer = (byte(1) >> 1) & 3;
        return layer == 0 ? ".aac" : layer == 2 ? ".mp2" : ".mp3";
    }
    return offset > 0 ? ".mp3" : "";
}

std::string StreamFolder::SpoolStandardInput(const std::string& extension, const std::function<bool()>& cancelled,
                                             std::string& error) {
    const std::string spool = path_ + "/stdin";
    OwnedFd fd(open(spool.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    const auto fail = [&](int code) {
        error = std::strerror(code);
        return std::string{};
    };
    if (fd.get() < 0) return fail(errno);
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0 && errno == EINTR) {
            if (cancelled && cancelled()) return fail(EINTR);
            continue;
        }
        if (got < 0) return fail(errno);
        for (ssize_t done = 0; done < got;) {
            const ssize_t wrote = write(fd.get(), buffer + done, static_cast<size_t>(got - done));
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) return fail(wrote < 0 ? errno : ENOSPC);
            done += wrote;
        }
        if (cancelled && cancelled()) return fail(EINTR);
    }
    std::string ext = extension.empty() ? std::string{} : "." + extension;
    if (ext.empty()) {
        ext = SniffAudioExtension([&fd](uint64_t offset, size_t size) {
            std::string data(size, '\0');
            const ssize_t got =
                pread(fd.get(), data.data(), size, static_cast<off_t>(std::min<uint64_t>(offset, INT64_MAX)));
            data.resize(got > 0 ? static_cast<size_t>(got) : 0);
            return data;
        });
    }
    if (ext.empty()) {
        error = "not a kind of audio file known by its first bytes (--input-format EXT names it)";
        return {};
    }
    if (std::rename(spool.c_str(), (spool + ext).c_str()) != 0) {
        error = std::strerror(errno);
        return {};
    }
    return spool + ext;
}

bool CopyFileTo(const std::string& path, int fd) {
    const OwnedFd in(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return false;
    char buffer[1 << 16];
    bool ok = true;
    for (ssize_t got; ok && (got = read(in.get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            ok = errno == EINTR;
            continue;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t wrote = write(fd, buffer + done, static_cast<size_t>(got - done));
            if (wrote < 0 && errno == EINTR) continue;
            ok = wrote > 0;
            if (ok) done += wrote;
        }
    }
    return ok;
}

}  // namespace pelloran::cli
