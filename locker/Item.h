#pragma once
// An item of the lists, parsed once from its stored text: the text is what
// is shown and saved, the key what is compared. Two items are the same
// item when their keys are equal, however each was written.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "locker/ItemPath.h"

namespace vaultmere {

// Made from its text wherever one is given, as a path is read as an item.
class Item {
public:
    Item() : Item(std::wstring()) {}
    Item(std::wstring text) : text_(std::move(text)), parsed_(MakeItemKey(text_)) {}
    Item(const wchar_t* text) : Item(std::wstring(text)) {}

    const std::wstring& Text() const { return text_; }
    const std::wstring& Key() const { return parsed_.key; }
    const ItemKey& Parsed() const { return parsed_; }
    // Spelled exactly alike, not only the same item.
    bool SameText(const Item& other) const { return text_ == other.text_; }

    friend bool operator==(const Item& left, const Item& right) { return left.Key() == right.Key(); }
    friend bool operator!=(const Item& left, const Item& right) { return !(left == right); }
    friend bool operator<(const Item& left, const Item& right) { return left.Key() < right.Key(); }

private:
    std::wstring text_;
    ItemKey parsed_;
};

struct ItemHash {
    std::size_t operator()(const Item& item) const noexcept { return std::hash<std::wstring>()(item.Key()); }
};

std::vector<Item> ItemsOf(const std::vector<std::wstring>& texts);
std::vector<std::wstring> TextsOf(const std::vector<Item>& items);
// Each item once, in order; of two spellings of one item the first stays.
std::vector<Item> OncePerItem(std::vector<Item> items);

}  // namespace vaultmere
