#include "app/AddFiles.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "platform/Paths.h"

namespace pelloran {

std::vector<AddedFile> AddFiles(const std::vector<AddPath>& paths, const ConvertSettings& settings, PathIndex& seen,
                                const AddFilesOptions& options, const AddFilesEvents& events) {
    const auto cancelled = [&events] { return events.cancelled && events.cancelled(); };

    // Scan and filter, keeping input order; one file reached twice is listed once.
    std::vector<AddedFile> files;
    for (const AddPath& entry : paths) {
        std::vector<std::string> found;
        std::string root;
        const bool folder = entry.kind != AddPath::Kind::File && IsFolder(entry.path);
        if (cancelled()) {
            // Named files stay listed (as not probed) so that each gets its answer; unscanned folders add nothing.
            if (entry.kind == AddPath::Kind::File && (!events.accept || events.accept(entry.path)))
                files.push_back(AddedFile{entry.path, {}, {}, false});
            continue;
        }
        if (folder) {
            root = ResolveFolderPath(entry.path);
            ScanFolder(found, root, settings, cancelled, options.scan);
        } else {
            std::string path = ResolveSourcePath(entry.path);
            if (entry.kind == AddPath::Kind::File || FilterStep(path, settings)) found.push_back(path);
        }
        for (auto& path : found) {
            if (events.accept && !events.accept(path)) continue;
            if (!seen.Insert(path)) {
                if (options.reportDuplicates && entry.kind == AddPath::Kind::File) {
                    AddedFile file;
                    file.path = std::move(path);
                    file.duplicate = true;
                    files.push_back(std::move(file));
                }
                continue;
            }
            AddedFile file;
            file.path = std::move(path);
            file.root = root;
            files.push_back(std::move(file));
        }
    }
    if (events.found) events.found(files.size());

    // Probe in parallel; hand the results on in input order.
    std::atomic<size_t> next{0};
    std::mutex readyMutex;
    std::vector<bool> done(files.size(), false);
    size_t nextReady = 0;
    const auto worker = [&] {
        for (size_t i; !cancelled() && (i = next.fetch_add(1)) < files.size();) {
            if (!files[i].duplicate)
                files[i].probe =
                    ProbeFile(files[i].path, options.preferredReader, options.readTags, cancelled, options.openReaders);
            files[i].probed = true;
            std::lock_guard lock(readyMutex);
            done[i] = true;
            for (; nextReady < files.size() && done[nextReady]; ++nextReady) {
                if (events.ready) events.ready(nextReady, files[nextReady]);
            }
        }
    };
    const int jobs = std::clamp(options.jobs, 1, 64);
    std::vector<std::thread> threads;
    for (int t = 1; t < jobs && static_cast<size_t>(t) < files.size(); ++t) threads.emplace_back(worker);
    worker();
    for (auto& t : threads) t.join();

    // Files refused or never probed are not listed.
    for (const AddedFile& file : files) {
        if (!file.probe.ok && !file.duplicate) seen.Erase(file.path);
    }
    return files;
}

}  // namespace pelloran
