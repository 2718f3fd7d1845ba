#include "platform/wm.h"

#include <atomic>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace pelloran {

namespace {
std::atomic<bool> wmaRuntimeReady{false};
}

const char* const kWmaRuntimeDownloadAddress = "https://pelloran.org/wma-runtime";

bool WmaRuntimeReady() { return wmaRuntimeReady.load(); }

bool LoadWmaRuntime() {
    if (wmaRuntimeReady.load()) return true;
    const bool present = avcodec_find_decoder(AV_CODEC_ID_WMAV2) != nullptr &&
                         avcodec_find_encoder(AV_CODEC_ID_WMAV2) != nullptr &&
                         av_guess_format("asf", nullptr, nullptr) != nullptr &&
                         av_find_input_format("asf") != nullptr;
    if (present) wmaRuntimeReady.store(true);
    return present;
}

}  // namespace pelloran
