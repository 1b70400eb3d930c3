#pragma once
// A file the component holds, as the plain state sees it: an opaque value
// it never passes to the system. Move-only, so that one file has one
// holder; the Win32 layer makes a token of each handle it opens and turns
// the tokens the state lets go back into handles to close. A token dropped
// while it still holds a value leaks that handle: the state hands every
// one out instead.
#include <cstdint>
#include <utility>

namespace vaultmere {

class FileToken {
public:
    FileToken() noexcept = default;
    explicit FileToken(std::uintptr_t value) noexcept : value_(value) {}
    FileToken(const FileToken&) = delete;
    FileToken& operator=(const FileToken&) = delete;
    FileToken(FileToken&& other) noexcept : value_(other.Release()) {}
    FileToken& operator=(FileToken&& other) noexcept {
        if (this != &other) value_ = other.Release();
        return *this;
    }
    ~FileToken() = default;

    std::uintptr_t Value() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != 0; }
    std::uintptr_t Release() noexcept { return std::exchange(value_, 0); }

private:
    std::uintptr_t value_ = 0;
};

}  // namespace vaultmere
