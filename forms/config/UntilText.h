#pragma once
// When an unlocked item locks itself again, as the unlocked list and the
// command line say it beside the item.
#include <cstdint>
#include <string>

namespace vaultmere {

// "until 14:35" in the user's time format, with the date before it when
// that is not today; "" for never (a relockAt of 0, a UTC file time).
std::wstring UntilText(std::uint64_t relockAt);

}  // namespace vaultmere
