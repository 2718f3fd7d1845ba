#include "platform/amr.h"

#include <cstring>

#include "platform/File.h"

extern "C" {
#include <opencore-amrnb/interf_enc.h>
#include <vo-amrwbenc/enc_if.h>
}

namespace pelloran {

namespace {

constexpr size_t kMaxFrameBytes = 64;  // 32 for 12.2 kbit/s narrow-band, 61 for 23.85 kbit/s wide-band

struct NbStateFreer {
    void operator()(void* s) const { Encoder_Interface_exit(s); }
};
struct WbStateFreer {
    void operator()(void* s) const { E_IF_exit(s); }
};

// One encoder state and its file; the file is complete once Close succeeds.
template <typename StateFreer>
struct AmrFile {
    std::unique_ptr<void, StateFreer> state;
    File file;
    int mode = 0;
    int dtx = 0;
    bool failed = false;

    bool Begin(const std::string& path, const char* magic) {
        return file.Open(path, "wb") && file.Write(magic, std::strlen(magic));
    }
    int Append(const unsigned char* bytes, int n) {
        if (failed || n <= 0 || static_cast<size_t>(n) > kMaxFrameBytes || !file.Write(bytes, static_cast<size_t>(n))) {
            failed = true;
            return -1;
        }
        return n;
    }
    bool Close() {
        const bool ok = file.Close() && !failed;
        state.reset();
        return ok;
    }
};

}  // namespace

class AmrNbEncoder : public AmrFile<NbStateFreer> {};
class AmrWbEncoder : public AmrFile<WbStateFreer> {};

AmrNbEncoder* amrnbenc_init(const std::string& path, int dtx, int mode) {
    if (mode < MR475 || mode > MR122) return nullptr;
    auto encoder = std::make_unique<AmrNbEncoder>();
    encoder->state.reset(Encoder_Interface_init(dtx != 0 ? 1 : 0));
    if (!encoder->state || !encoder->Begin(path, "#!AMR\n")) return nullptr;
    encoder->mode = mode;
    encoder->dtx = dtx != 0 ? 1 : 0;
    return encoder.release();
}

AmrWbEncoder* amrwbenc_init(const std::string& path, int dtx, int mode) {
    if (mode < 0 || mode > 8) return nullptr;
    auto encoder = std::make_unique<AmrWbEncoder>();
    encoder->state.reset(E_IF_init());
    if (!encoder->state || !encoder->Begin(path, "#!AMR-WB\n")) return nullptr;
    encoder->mode = mode;
    encoder->dtx = dtx != 0 ? 1 : 0;
    return encoder.release();
}

int amrnbenc_encode(AmrNbEncoder* encoder, const int16_t* frame) {
    if (encoder == nullptr || frame == nullptr || !encoder->state) return -1;
    unsigned char out[kMaxFrameBytes * 2];
    const int n = Encoder_Interface_Encode(encoder->state.get(), static_cast<Mode>(encoder->mode), frame, out, 0);
    return encoder->Append(out, n);
}

int amrwbenc_encode(AmrWbEncoder* encoder, const int16_t* frame) {
    if (encoder == nullptr || frame == nullptr || !encoder->state) return -1;
    unsigned char out[kMaxFrameBytes * 2];
    const int n = E_IF_encode(encoder->state.get(), encoder->mode, frame, out, encoder->dtx);
    return encoder->Append(out, n);
}

bool amrnbenc_quit(AmrNbEncoder* encoder) {
    if (encoder == nullptr) return false;
    const bool ok = encoder->Close();
    delete encoder;
    return ok;
}

bool amrwbenc_quit(AmrWbEncoder* encoder) {
    if (encoder == nullptr) return false;
    const bool ok = encoder->Close();
    delete encoder;
    return ok;
}

}  // namespace pelloran
