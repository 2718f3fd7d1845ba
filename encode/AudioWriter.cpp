#include "encode/AudioWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace pelloran {

void RemoveRegularFile(const std::string& path) {
    struct stat st {};
    if (!path.empty() && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
}

AudioWriter::~AudioWriter() {
    if (open_) RemoveRegularFile(path_);
}

bool AudioWriter::Open(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    Abort();
    failed_ = false;
    finished_ = false;
    frames_ = 0;
    failure_ = {};
    if (!format.Valid() || path.empty()) return false;
    path_ = path;
    format_ = format;
    if (!Begin(path, format, tags)) {
        Release();
        RemoveRegularFile(path);
        return false;
    }
    open_ = true;
    return true;
}

bool AudioWriter::Write(const int32_t* const* planes, int frames) {
    if (!open_ || failed_ || frames < 0) return false;
    if (frames == 0) return true;
    if (planes == nullptr) return false;
    for (int c = 0; c < format_.channels; ++c)
        if (planes[c] == nullptr) return false;
    if (!Put(planes, frames)) failed_ = true;
    else frames_ += static_cast<uint64_t>(frames);
    return !failed_;
}

bool AudioWriter::Lend(Room&) { return false; }

bool AudioWriter::Commit(int frames) {
    if (!open_ || failed_ || frames < 0) return false;
    if (frames == 0) return true;
    if (!PutLent(frames)) failed_ = true;
    else frames_ += static_cast<uint64_t>(frames);
    return !failed_;
}

bool AudioWriter::PutLent(int) { return false; }

bool AudioWriter::Fail(WriterError error, int64_t value, std::string text) {
    if (failure_.error == WriterError::None) failure_ = {error, value, std::move(text)};
    return false;
}

bool AudioWriter::FailWith(int systemError, const std::string& text) {
    if (systemError != 0) return Fail(WriterError::System, systemError);
    return text.empty() ? false : Fail(WriterError::Library, 0, text);
}

bool AudioWriter::Io(bool done) {
    const int error = errno;
    if (done) return true;
    return error != 0 ? Fail(WriterError::System, error) : false;
}

bool AudioWriter::Finish() {
    if (finished_) return true;
    if (!open_) return false;
    const bool ok = !failed_ && End();
    Release();
    open_ = false;
    if (ok) finished_ = true;
    else RemoveRegularFile(path_);
    return ok;
}

void AudioWriter::Abort() {
    if (!open_) return;
    Release();
    open_ = false;
    RemoveRegularFile(path_);
}

}  // namespace pelloran
