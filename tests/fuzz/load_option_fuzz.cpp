// libFuzzer target: one boot entry's value, as a variable file holds it after its
// attributes, through the load option parser. `make fuzz` runs the whole-run
// target; this one runs by hand: build-fuzz/tests/fuzz/load_option_fuzz.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "firmware/load_option.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const LoadOption option = ParseLoadOption(data, size);
    // A partition target comes only from a whole hard drive node with a signature.
    if (option.target == LoadTarget::Partition &&
        (!option.damage.empty() || option.partition.signatureType == 0))
        std::abort();
    return 0;
}
