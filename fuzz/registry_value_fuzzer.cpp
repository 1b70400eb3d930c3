// Decodes arbitrary registry data as each value type and checks what the
// program relies on: nothing is read past the data, text is never longer
// than the data allows, and each type gives the kind of value it should.
// Input: one byte picks the type (its low four bits, so the unknown types
// between the known ones come up too), the rest is the data.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "store/RegistryValue.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

std::uint32_t LittleEndian32(const std::vector<unsigned char>& data) {
    return static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
           (static_cast<std::uint32_t>(data[2]) << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

bool IsCodeUnit(wchar_t ch) { return static_cast<std::uint32_t>(ch) <= 0xFFFFu; }

// The text is the data's leading UTF-16LE code units, in order.
bool IsCodeUnitPrefix(const std::wstring& text, const std::vector<unsigned char>& data) {
    if (text.size() > data.size() / 2) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t unit = static_cast<std::uint32_t>(data[2 * i]) |
                                   (static_cast<std::uint32_t>(data[2 * i + 1]) << 8);
        if (static_cast<std::uint32_t>(text[i]) != unit) return false;
    }
    return true;
}

void CheckValueName(const std::wstring& name) {
    const auto digits = Registry::ItemIndexDigits(name);
    if (!digits) return;
    Check(!digits->empty(), "index digits present");
    Check(digits->size() == 1 || (*digits)[0] != L'0', "no leading zero");
    for (wchar_t ch : *digits) Check(ch >= L'0' && ch <= L'9', "digits only");
    Check(name.size() == digits->size() + 4, "name is File and the digits");
    Check(!Registry::IndexDigitsLess(*digits, *digits), "index order irreflexive");
    if (digits->size() <= 18) {
        const std::wstring canonical = Registry::ItemValueName(std::stoull(*digits));
        Check(canonical.substr(4) == *digits, "value name round trip");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size == 0) return 0;
    const std::uint32_t type = input[0] & 0x0Fu;
    // An exact-size copy, so that reading one byte past it is caught.
    const std::vector<unsigned char> data(input + 1, input + size);
    const unsigned char* bytes = data.empty() ? nullptr : data.data();

    const Registry::RegistryValue value = Registry::DecodeRegistryValue(type, bytes, data.size());
    const std::wstring text = value.ToText();
    for (wchar_t ch : text) Check(IsCodeUnit(ch), "text holds UTF-16 code units");
    Check(value == value, "value equals itself");
    Check(value == Registry::RegistryValue(value), "copy equals value");

    using Kind = Registry::RegistryValue::Kind;
    switch (type) {
    case Registry::kRegSz:
    case Registry::kRegExpandSz:
        Check(value.GetKind() == Kind::Text, "string gives text");
        Check(IsCodeUnitPrefix(text, data), "string text comes from the data");
        Check(text.find(L'\0') == std::wstring::npos, "string ends at its first null");
        Check(Registry::DecodeRegistryValue(Registry::kRegSz, Registry::EncodeRegistryText(text).data(),
                                            Registry::EncodeRegistryText(text).size()) == value,
              "string encodes and decodes to itself");
        break;
    case Registry::kRegMultiSz:
        Check(value.GetKind() == Kind::Text, "multi-string gives text");
        Check(IsCodeUnitPrefix(text, data), "multi-string text comes from the data");
        Check(text.size() + 2 >= data.size() / 2, "at most the two closing nulls dropped");
        break;
    case Registry::kRegBinary:
        Check(value.GetKind() == Kind::Bytes, "binary gives bytes");
        Check(value.Bytes() == data, "binary keeps every byte");
        Check(text.size() == (data.size() + 1) / 2, "bytes read as code units");
        break;
    case Registry::kRegDword:
        if (data.size() < 4) {
            Check(value.IsNothing(), "short number gives nothing");
        } else {
            Check(value.GetKind() == Kind::Number, "number gives a number");
            Check(static_cast<std::uint32_t>(value.Number()) == LittleEndian32(data), "number is little-endian");
            Check(text == std::to_wstring(value.Number()), "number text is decimal");
        }
        break;
    default:
        Check(value.IsNothing(), "unknown type gives nothing");
        break;
    }
    if (value.IsNothing()) Check(text.empty(), "nothing reads as empty text");

    CheckValueName(text);
    return 0;
}
