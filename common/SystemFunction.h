#pragma once
#include <windows.h>

namespace vaultmere {

// A function of a loaded module by name, or null when the module or the
// function is missing (a newer system's function on an older system). The
// cast goes through the generic function pointer type, which compilers
// accept as a cast to any other.
template <typename Function>
Function SystemFunction(HMODULE module, const char* name) {
    const FARPROC found = module ? ::GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

}  // namespace vaultmere
