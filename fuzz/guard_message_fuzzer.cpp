// Decodes arbitrary bytes as a message between a window and the guard and
// checks what the guard and the windows rely on: nothing is read past the
// bytes, every decoded message encodes back to exactly the bytes it came
// from (so no two byte strings mean the same message), and what decodes
// stays within the limits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "channel/GuardMessage.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    // An exact-size copy, so that reading one byte past it is caught.
    const std::vector<unsigned char> bytes(input, input + size);
    const auto message = vaultmere::DecodeGuardMessage(bytes.data(), bytes.size());
    if (!message) return 0;
    Check(message->text.size() <= vaultmere::kMaxGuardTextUnits, "text within the limit");
    Check(message->locked.size() <= vaultmere::kMaxGuardListEntries, "locked list within the limit");
    Check(message->unlocked.size() <= vaultmere::kMaxGuardListEntries, "unlocked list within the limit");
    Check(vaultmere::EncodeGuardMessage(*message) == bytes, "decoded message encodes to its bytes");
    return 0;
}
