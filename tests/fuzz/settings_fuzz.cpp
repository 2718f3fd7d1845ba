// libFuzzer entry point: the settings file parser, on text of either form and through Load; what it keeps
// must come back unchanged, without a warning, from its own (plain) text form, its warnings stay few and
// short, and Load must agree with the parser.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/registry.h"
#include "tests/fuzz/FuzzReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using pelloran::RegistryStore;
    const std::string text(reinterpret_cast<const char*>(data), size);
    RegistryStore parsed;
    const size_t lines = parsed.Parse(text);
    const std::string once = parsed.Serialize();
    if (parsed.parseWarnings().size() > 101) std::abort();
    for (const std::string& warning : parsed.parseWarnings()) {
        if (warning.size() > 200) std::abort();
    }
    RegistryStore again;
    again.Parse(once);
    if (again.Serialize() != once || !again.parseWarnings().empty()) std::abort();

    pelloran::fuzz::MemoryFile file(data, size);
    if (!file.Ok()) return 0;
    RegistryStore loaded;
    const bool nul = text.find('\0') != std::string::npos;
    switch (loaded.Load(file.Path())) {
        case RegistryStore::LoadStatus::Loaded:
            if (nul || loaded.Serialize() != once || !loaded.writable()) std::abort();
            break;
        case RegistryStore::LoadStatus::NotSettings:
            if ((!nul && lines > 0) || loaded.writable() || loaded.Serialize() != RegistryStore().Serialize())
                std::abort();
            break;
        default:
            std::abort();  // an in-memory file of fuzzer size is always readable
    }
    return 0;
}
