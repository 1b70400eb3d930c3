#pragma once
// A registry value as the program sees it, and the decoding of the raw bytes
// the registry returns. No Windows headers: this also builds on Linux.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Registry {

// Registry value types the decoder knows (same numbers as winnt.h).
enum RegistryType : std::uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
};

class RegistryValue {
public:
    enum class Kind { Nothing, Text, Bytes, Number };

    RegistryValue() = default;
    static RegistryValue FromText(std::wstring text);
    static RegistryValue FromBytes(std::vector<unsigned char> bytes);
    static RegistryValue FromNumber(std::int32_t number);

    Kind GetKind() const { return kind_; }
    bool IsNothing() const { return kind_ == Kind::Nothing; }
    const std::wstring& Text() const { return text_; }
    const std::vector<unsigned char>& Bytes() const { return bytes_; }
    std::int32_t Number() const { return number_; }

    // The one conversion to text every caller uses: nothing gives "", a
    // number its decimal text, bytes are taken as UTF-16 code units (as a
    // string assigned from a byte array), text as it is.
    std::wstring ToText() const;

    bool operator==(const RegistryValue& other) const;
    bool operator!=(const RegistryValue& other) const { return !(*this == other); }

private:
    Kind kind_ = Kind::Nothing;
    std::wstring text_;
    std::vector<unsigned char> bytes_;
    std::int32_t number_ = 0;
};

// Turns what the registry returned (type, data, size in bytes) into a value.
// Never reads past size. Text is UTF-16LE as the wide registry functions
// return it: one terminating null is dropped when present, a value without
// one keeps all its characters, an odd trailing byte is ignored.
RegistryValue DecodeRegistryValue(std::uint32_t type, const unsigned char* data, std::size_t size);

// Encodes text as the UTF-16LE bytes of a REG_SZ, terminating null included.
std::vector<unsigned char> EncodeRegistryText(const std::wstring& text);

// "File" followed by a decimal index without leading zeros, the name
// compared without regard to case as the registry compares value names.
// Returns the digits, or nothing when the name is not of that form.
std::optional<std::wstring> ItemIndexDigits(const std::wstring& valueName);

// Orders index digits (no leading zeros) by their numeric value without
// converting them, so any number of digits is safe.
bool IndexDigitsLess(const std::wstring& a, const std::wstring& b);

// The value name for a list position: "File0", "File1", ...
std::wstring ItemValueName(std::size_t index);

}  // namespace Registry
