#include "locker/Item.h"

#include <unordered_set>

namespace vaultmere {

std::vector<Item> ItemsOf(const std::vector<std::wstring>& texts) {
    std::vector<Item> items;
    items.reserve(texts.size());
    for (const std::wstring& text : texts) items.emplace_back(text);
    return items;
}

std::vector<std::wstring> TextsOf(const std::vector<Item>& items) {
    std::vector<std::wstring> texts;
    texts.reserve(items.size());
    for (const Item& item : items) texts.push_back(item.Text());
    return texts;
}

std::vector<Item> OncePerItem(std::vector<Item> items) {
    std::unordered_set<std::wstring> seen;
    std::vector<Item> once;
    once.reserve(items.size());
    for (Item& item : items) {
        if (seen.insert(item.Key()).second) once.push_back(std::move(item));
    }
    return once;
}

}  // namespace vaultmere
