#include "store/RegistryValue.h"

namespace Registry {

RegistryValue RegistryValue::FromText(std::wstring text) {
    RegistryValue value;
    value.kind_ = Kind::Text;
    value.text_ = std::move(text);
    return value;
}

RegistryValue RegistryValue::FromBytes(std::vector<unsigned char> bytes) {
    RegistryValue value;
    value.kind_ = Kind::Bytes;
    value.bytes_ = std::move(bytes);
    return value;
}

RegistryValue RegistryValue::FromNumber(std::int32_t number) {
    RegistryValue value;
    value.kind_ = Kind::Number;
    value.number_ = number;
    return value;
}

namespace {

std::wstring CodeUnitsFrom(const unsigned char* data, std::size_t units) {
    std::wstring text;
    text.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const unsigned unit = static_cast<unsigned>(data[2 * i]) | (static_cast<unsigned>(data[2 * i + 1]) << 8);
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}

}  // namespace

std::wstring RegistryValue::ToText() const {
    switch (kind_) {
    case Kind::Text:
        return text_;
    case Kind::Number:
        return std::to_wstring(number_);
    case Kind::Bytes: {
        std::wstring text = CodeUnitsFrom(bytes_.data(), bytes_.size() / 2);
        if (bytes_.size() % 2 != 0) text.push_back(static_cast<wchar_t>(bytes_.back()));
        return text;
    }
    case Kind::Nothing:
        break;
    }
    return std::wstring();
}

bool RegistryValue::operator==(const RegistryValue& other) const {
    if (kind_ != other.kind_) return false;
    switch (kind_) {
    case Kind::Text:
        return text_ == other.text_;
    case Kind::Bytes:
        return bytes_ == other.bytes_;
    case Kind::Number:
        return number_ == other.number_;
    case Kind::Nothing:
        break;
    }
    return true;
}

RegistryValue DecodeRegistryValue(std::uint32_t type, const unsigned char* data, std::size_t size) {
    if (data == nullptr) size = 0;
    switch (type) {
    case kRegSz:
    case kRegExpandSz: {
        std::wstring text = CodeUnitsFrom(data, size / 2);
        // A REG_SZ ends at its first null; whatever follows is not text.
        const auto end = text.find(L'\0');
        if (end != std::wstring::npos) text.resize(end);
        return RegistryValue::FromText(std::move(text));
    }
    case kRegMultiSz: {
        std::wstring text = CodeUnitsFrom(data, size / 2);
        // Drop the two closing nulls; the nulls between the strings stay.
        for (int i = 0; i < 2 && !text.empty() && text.back() == L'\0'; ++i) text.pop_back();
        return RegistryValue::FromText(std::move(text));
    }
    case kRegBinary:
        return RegistryValue::FromBytes(std::vector<unsigned char>(data, data + size));
    case kRegDword: {
        if (size < 4) return RegistryValue();
        const std::uint32_t bits = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
                                   (static_cast<std::uint32_t>(data[2]) << 16) |
                                   (static_cast<std::uint32_t>(data[3]) << 24);
        return RegistryValue::FromNumber(static_cast<std::int32_t>(bits));
    }
    default:
        return RegistryValue();
    }
}

std::vector<unsigned char> EncodeRegistryText(const std::wstring& text) {
    std::vector<unsigned char> bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (wchar_t ch : text) {
        const auto unit = static_cast<std::uint32_t>(ch) & 0xFFFFu;
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::optional<std::wstring> ItemIndexDigits(const std::wstring& valueName) {
    static const wchar_t kPrefix[] = L"file";
    constexpr std::size_t kPrefixLength = 4;
    if (valueName.size() <= kPrefixLength) return std::nullopt;
    for (std::size_t i = 0; i < kPrefixLength; ++i) {
        wchar_t ch = valueName[i];
        if (ch >= L'A' && ch <= L'Z') ch = static_cast<wchar_t>(ch - L'A' + L'a');
        if (ch != kPrefix[i]) return std::nullopt;
    }
    std::wstring digits = valueName.substr(kPrefixLength);
    for (wchar_t ch : digits) {
        if (ch < L'0' || ch > L'9') return std::nullopt;
    }
    if (digits.size() > 1 && digits[0] == L'0') return std::nullopt;
    return digits;
}

bool IndexDigitsLess(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::wstring ItemValueName(std::size_t index) { return L"File" + std::to_wstring(index); }

}  // namespace Registry
