#include <gtest/gtest.h>

#include <vector>

#include "store/RegistryValue.h"

using Registry::DecodeRegistryValue;
using Registry::RegistryValue;

namespace {

std::vector<unsigned char> Utf16(const std::wstring& text, bool terminated) {
    std::vector<unsigned char> bytes = Registry::EncodeRegistryText(text);
    if (!terminated) bytes.resize(bytes.size() - 2);
    return bytes;
}

RegistryValue Decode(std::uint32_t type, const std::vector<unsigned char>& bytes) {
    return DecodeRegistryValue(type, bytes.data(), bytes.size());
}

}  // namespace

TEST(RegistryValueDecoding, TextKeepsEveryCharacterWithOrWithoutTerminator) {
    EXPECT_EQ(L"c:\\data\\*.*", Decode(Registry::kRegSz, Utf16(L"c:\\data\\*.*", true)).ToText());
    EXPECT_EQ(L"c:\\data\\*.*", Decode(Registry::kRegSz, Utf16(L"c:\\data\\*.*", false)).ToText());
    EXPECT_EQ(L"%TEMP%\\x", Decode(Registry::kRegExpandSz, Utf16(L"%TEMP%\\x", true)).ToText());
    // Characters outside any ANSI code page survive.
    const std::wstring wide = L"c:\\\x65E5\x672C\\\x0161\x00E9\\*.*";
    EXPECT_EQ(wide, Decode(Registry::kRegSz, Utf16(wide, true)).ToText());
}

TEST(RegistryValueDecoding, EmptyOddAndEmbeddedNullTextIsSafe) {
    EXPECT_EQ(L"", Decode(Registry::kRegSz, {}).ToText());
    EXPECT_EQ(RegistryValue::Kind::Text, Decode(Registry::kRegSz, {}).GetKind());
    EXPECT_EQ(L"", Decode(Registry::kRegSz, {0x41}).ToText());
    // An odd trailing byte is not half a character.
    EXPECT_EQ(L"A", Decode(Registry::kRegSz, {0x41, 0x00, 0x42}).ToText());
    // Text ends at its first null.
    EXPECT_EQ(L"ab", Decode(Registry::kRegSz, {'a', 0, 'b', 0, 0, 0, 'c', 0}).ToText());
    EXPECT_EQ(L"", DecodeRegistryValue(Registry::kRegSz, nullptr, 12).ToText());
}

TEST(RegistryValueDecoding, MultiStringKeepsInnerNullsAndDropsTheClosingPair) {
    EXPECT_EQ(std::wstring(L"a\0b", 3), Decode(Registry::kRegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}).ToText());
    EXPECT_EQ(L"", Decode(Registry::kRegMultiSz, {0, 0}).ToText());
    EXPECT_EQ(L"", Decode(Registry::kRegMultiSz, {'x'}).ToText());
    EXPECT_EQ(L"x", Decode(Registry::kRegMultiSz, {'x', 0}).ToText());
}

TEST(RegistryValueDecoding, NumbersBytesAndUnknownTypes) {
    const RegistryValue number = Decode(Registry::kRegDword, {0xFE, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(RegistryValue::Kind::Number, number.GetKind());
    EXPECT_EQ(L"-2", number.ToText());
    EXPECT_EQ(L"305419896", Decode(Registry::kRegDword, {0x78, 0x56, 0x34, 0x12, 0xAA}).ToText());
    // Too short for a DWORD: nothing, not a read past the end.
    EXPECT_TRUE(Decode(Registry::kRegDword, {1, 2, 3}).IsNothing());

    const RegistryValue bytes = Decode(Registry::kRegBinary, {'h', 0, 'i', 0});
    EXPECT_EQ(RegistryValue::Kind::Bytes, bytes.GetKind());
    EXPECT_EQ(4u, bytes.Bytes().size());
    EXPECT_EQ(L"hi", bytes.ToText());
    EXPECT_EQ(L"", Decode(Registry::kRegBinary, {}).ToText());

    EXPECT_TRUE(Decode(Registry::kRegNone, {'a', 0}).IsNothing());
    EXPECT_TRUE(Decode(11 /* REG_QWORD */, {1, 2, 3, 4, 5, 6, 7, 8}).IsNothing());
    EXPECT_EQ(L"", Decode(0xFFFFFFFFu, {1}).ToText());
}

TEST(RegistryValueDecoding, NeverReadsPastTheGivenSize) {
    // Every type and size, from a buffer that ends exactly where the size
    // says; a sanitizer build catches any overread.
    for (std::uint32_t type : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 11u}) {
        for (size_t size = 0; size <= 9; ++size) {
            std::vector<unsigned char> data(size, 0x7F);
            const RegistryValue value = DecodeRegistryValue(type, data.data(), data.size());
            if (type != Registry::kRegDword) {
                EXPECT_LE(value.ToText().size(), (size + 1) / 2) << "type " << type << " size " << size;
            }
        }
    }
}

TEST(ItemValueNames, OnlyFileAndADecimalIndexWithoutLeadingZeros) {
    EXPECT_EQ(L"0", Registry::ItemIndexDigits(L"File0").value_or(L"-"));
    EXPECT_EQ(L"12", Registry::ItemIndexDigits(L"File12").value_or(L"-"));
    EXPECT_EQ(L"3", Registry::ItemIndexDigits(L"file3").value_or(L"-"));
    EXPECT_EQ(L"99999999999", Registry::ItemIndexDigits(L"File99999999999").value_or(L"-"));
    for (const wchar_t* name : {L"File01", L"File-1", L"File", L"Files1", L"File1a", L"", L"UserPassword", L"File 1"}) {
        EXPECT_FALSE(Registry::ItemIndexDigits(name).has_value()) << std::string(name, name + wcslen(name));
    }
    EXPECT_EQ(L"File0", Registry::ItemValueName(0));
    EXPECT_EQ(L"File1000", Registry::ItemValueName(1000));
}

TEST(ItemValueNames, IndicesOrderByValueWhateverTheirLength) {
    EXPECT_TRUE(Registry::IndexDigitsLess(L"2", L"10"));
    EXPECT_TRUE(Registry::IndexDigitsLess(L"999", L"1000"));
    EXPECT_FALSE(Registry::IndexDigitsLess(L"1000", L"999"));
    EXPECT_TRUE(Registry::IndexDigitsLess(L"99999999999999999999", L"100000000000000000000"));
    EXPECT_FALSE(Registry::IndexDigitsLess(L"5", L"5"));
}
