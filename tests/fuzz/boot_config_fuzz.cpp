// libFuzzer target: one text through every configuration parser (GRUB script and
// grubenv, systemd-boot's loader.conf and entries, fstab) and the choice of the
// default entry. `make fuzz` runs the whole-run target; this one runs by hand:
// build-fuzz/tests/fuzz/boot_config_fuzz.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bootconfig/grub_script.h"
#include "bootconfig/linux_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const GrubConfig grub = ParseGrubConfig(text, GrubEnvSavedEntry(text));
    const GrubEntry* entry = DefaultGrubEntry(grub);
    // Every search a root names was read.
    if (entry && entry->kernel.root.kind == GrubRootKind::Search &&
        entry->kernel.root.search >= grub.searches.size())
        std::abort();
    std::vector<LoaderEntry> entries = {ParseLoaderEntry("a.conf", text),
                                        ParseLoaderEntry("b.conf", text)};
    if (!DefaultLoaderEntry(ParseLoaderConf(text), entries))
        std::abort();
    for (const FstabEntry& e : ParseFstab(text))
        if (e.source.text.empty())
            std::abort();
    return 0;
}
