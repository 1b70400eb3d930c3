// How long one password check takes: the system's PBKDF2-HMAC-SHA256 at
// the rounds a verifier is made with, and the same from Python's hashlib
// where the caller gives that figure for comparison.
// Usage: password_bench [ROUNDS] [REPEATS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/PasswordVerifier.h"
#include "common/SystemPasswordHash.h"

using namespace vaultmere;

int wmain(int argc, wchar_t** argv) {
    const auto rounds = static_cast<std::uint32_t>(argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : kPasswordIterations);
    const int repeats = argc > 2 ? _wtoi(argv[2]) : 3;
    SystemPasswordHash hash;
    std::vector<double> makes, checks;
    for (int i = 0; i < repeats; ++i) {
        LARGE_INTEGER frequency, start, made, checked;
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        const std::wstring verifier = MakePasswordVerifier(hash, L"secret", rounds);
        ::QueryPerformanceCounter(&made);
        const bool right = PasswordMatches(hash, L"SECRET", verifier);
        ::QueryPerformanceCounter(&checked);
        if (verifier.empty() || !right) {
            std::printf("the system made no usable verifier\n");
            return 1;
        }
        const auto ticksPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;
        makes.push_back(static_cast<double>(made.QuadPart - start.QuadPart) / ticksPerMs);
        checks.push_back(static_cast<double>(checked.QuadPart - made.QuadPart) / ticksPerMs);
    }
    std::sort(makes.begin(), makes.end());
    std::sort(checks.begin(), checks.end());
    std::printf("PBKDF2-HMAC-SHA256, %u rounds: make %.0f ms, check %.0f ms (median of %d)\n", rounds,
                makes[makes.size() / 2], checks[checks.size() / 2], repeats);
    return 0;
}
