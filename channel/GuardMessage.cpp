#include "channel/GuardMessage.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vaultmere {

namespace {

constexpr unsigned char kMagic[4] = {'V', 'M', 'G', 'D'};
// A status on the wire: locked, folder state, refusal, then files held,
// waiting, denied, failed and over the limit, then set by policy.
constexpr std::size_t kStatusBytes = 1 + 1 + 1 + 6 * 4 + 1;

enum class Fields { None, Text, Code, CodeAndText, Lists, Invalid };

Fields FieldsOf(GuardMessageKind kind) {
    switch (kind) {
    case GuardMessageKind::ReadLists:
    case GuardMessageKind::Leave:
    case GuardMessageKind::Close:
        return Fields::None;
    case GuardMessageKind::Authenticate:
    case GuardMessageKind::LockFolder:
    case GuardMessageKind::UnlockItem:
    case GuardMessageKind::UnlockForSession:
    case GuardMessageKind::RelockItem:
    case GuardMessageKind::RemoveItem:
    case GuardMessageKind::SetPassword:
        return Fields::Text;
    case GuardMessageKind::Done:
        return Fields::Code;
    case GuardMessageKind::Refused:
        return Fields::CodeAndText;
    case GuardMessageKind::Lists:
        return Fields::Lists;
    }
    return Fields::Invalid;
}

class Writer {
public:
    void U8(std::uint8_t value) { bytes_.push_back(value); }
    void U16(std::uint16_t value) {
        U8(static_cast<std::uint8_t>(value));
        U8(static_cast<std::uint8_t>(value >> 8));
    }
    void U32(std::uint32_t value) {
        U16(static_cast<std::uint16_t>(value));
        U16(static_cast<std::uint16_t>(value >> 16));
    }
    void U64(std::uint64_t value) {
        U32(static_cast<std::uint32_t>(value));
        U32(static_cast<std::uint32_t>(value >> 32));
    }
    bool Text(const std::wstring& text) {
        if (text.size() > kMaxGuardTextUnits || text.find(L'\0') != std::wstring::npos) return false;
        U32(static_cast<std::uint32_t>(text.size()));
        for (wchar_t unit : text) {
            if ((static_cast<std::uint32_t>(unit) >> 16) != 0) return false;  // wider than UTF-16 (Linux)
            U16(static_cast<std::uint16_t>(unit));
        }
        return Fits();
    }
    bool Fits() const { return bytes_.size() <= kMaxGuardMessageBytes; }
    std::vector<unsigned char>& Bytes() { return bytes_; }

private:
    std::vector<unsigned char> bytes_;
};

class Reader {
public:
    Reader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    bool U8(std::uint8_t& value) {
        if (size_ - offset_ < 1) return false;
        value = data_[offset_++];
        return true;
    }
    bool U16(std::uint16_t& value) {
        std::uint8_t low = 0;
        std::uint8_t high = 0;
        if (!U8(low) || !U8(high)) return false;
        value = static_cast<std::uint16_t>(low | (high << 8));
        return true;
    }
    bool U32(std::uint32_t& value) {
        std::uint16_t low = 0;
        std::uint16_t high = 0;
        if (!U16(low) || !U16(high)) return false;
        value = static_cast<std::uint32_t>(low) | (static_cast<std::uint32_t>(high) << 16);
        return true;
    }
    bool U64(std::uint64_t& value) {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        if (!U32(low) || !U32(high)) return false;
        value = static_cast<std::uint64_t>(low) | (static_cast<std::uint64_t>(high) << 32);
        return true;
    }
    bool Text(std::wstring& text) {
        std::uint32_t count = 0;
        if (!U32(count) || count > kMaxGuardTextUnits || (size_ - offset_) / 2 < count) return false;
        text.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint16_t unit = 0;
            U16(unit);
            if (unit == 0) return false;
            text[i] = static_cast<wchar_t>(unit);
        }
        return true;
    }
    // A count of entries each at least minBytes long, checked against what is left.
    bool Count(std::uint32_t& count, std::size_t minBytes) {
        return U32(count) && count <= kMaxGuardListEntries && (size_ - offset_) / minBytes >= count;
    }
    bool AtEnd() const { return offset_ == size_; }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

void WriteStatus(Writer& out, const ItemStatus& status) {
    out.U8(status.locked ? 1 : 0);
    out.U8(static_cast<std::uint8_t>(status.folder));
    out.U8(static_cast<std::uint8_t>(status.refusal));
    out.U32(static_cast<std::uint32_t>(status.filesHeld));
    out.U32(static_cast<std::uint32_t>(status.filesWaiting));
    out.U32(static_cast<std::uint32_t>(status.filesDenied));
    out.U32(static_cast<std::uint32_t>(status.filesFailed));
    out.U32(static_cast<std::uint32_t>(status.filesOverLimit));
    out.U32(static_cast<std::uint32_t>(status.linksLeft));
    out.U8(status.setByPolicy ? 1 : 0);
}

bool ReadStatus(Reader& in, ItemStatus& status) {
    std::uint8_t locked = 0;
    std::uint8_t folder = 0;
    std::uint8_t refusal = 0;
    std::uint8_t byPolicy = 0;
    std::uint32_t counts[6] = {};
    if (!in.U8(locked) || !in.U8(folder) || !in.U8(refusal)) return false;
    for (std::uint32_t& count : counts) {
        if (!in.U32(count)) return false;
    }
    if (!in.U8(byPolicy) || byPolicy > 1) return false;
    if (locked > 1 || folder > static_cast<std::uint8_t>(ItemStatus::Folder::OutOfHandles) ||
        refusal > static_cast<std::uint8_t>(ItemStatus::Refusal::Redirected)) {
        return false;
    }
    status.locked = locked == 1;
    status.folder = static_cast<ItemStatus::Folder>(folder);
    status.refusal = static_cast<ItemStatus::Refusal>(refusal);
    status.filesHeld = counts[0];
    status.filesWaiting = counts[1];
    status.filesDenied = counts[2];
    status.filesFailed = counts[3];
    status.filesOverLimit = counts[4];
    status.linksLeft = counts[5];
    status.setByPolicy = byPolicy == 1;
    return true;
}

bool StatusFits(const ItemStatus& status) {
    for (std::size_t count : {status.filesHeld, status.filesWaiting, status.filesDenied, status.filesFailed,
                              status.filesOverLimit, status.linksLeft}) {
        if ((static_cast<std::uint64_t>(count) >> 32) != 0) return false;
    }
    return true;
}

}  // namespace

bool ListedItem::operator==(const ListedItem& other) const {
    return item.SameText(other.item) && status.locked == other.status.locked && status.folder == other.status.folder &&
           status.refusal == other.status.refusal && status.filesHeld == other.status.filesHeld &&
           status.filesWaiting == other.status.filesWaiting && status.filesDenied == other.status.filesDenied &&
           status.filesFailed == other.status.filesFailed && status.filesOverLimit == other.status.filesOverLimit &&
           status.linksLeft == other.status.linksLeft && status.setByPolicy == other.status.setByPolicy;
}

bool GuardMessage::operator==(const GuardMessage& other) const {
    return kind == other.kind && text == other.text && code == other.code && locked == other.locked &&
           std::equal(unlocked.begin(), unlocked.end(), other.unlocked.begin(), other.unlocked.end(),
                      [](const Item& left, const Item& right) { return left.SameText(right); }) &&
           unlockedRelockAt == other.unlockedRelockAt && relocksOnSessionLock == other.relocksOnSessionLock &&
           waitMs == other.waitMs;
}

GuardMessage GuardMessage::Request(GuardMessageKind kind, std::wstring text) {
    GuardMessage message;
    message.kind = kind;
    message.text = std::move(text);
    return message;
}

GuardMessage GuardMessage::Refusal(GuardRefusal why, std::wstring text) {
    GuardMessage message;
    message.kind = GuardMessageKind::Refused;
    message.code = static_cast<std::uint32_t>(why);
    message.text = std::move(text);
    return message;
}

GuardMessage GuardMessage::Done(bool listsChanged) {
    GuardMessage message;
    message.kind = GuardMessageKind::Done;
    message.code = listsChanged ? 1 : 0;
    return message;
}

bool IsGuardRequest(GuardMessageKind kind) {
    return static_cast<std::uint16_t>(kind) < static_cast<std::uint16_t>(GuardMessageKind::Done) &&
           FieldsOf(kind) != Fields::Invalid;
}

std::vector<unsigned char> EncodeGuardMessage(const GuardMessage& message) {
    const Fields fields = FieldsOf(message.kind);
    if (fields == Fields::Invalid) return {};
    Writer out;
    for (unsigned char ch : kMagic) out.U8(ch);
    out.U16(kGuardProtocolVersion);
    out.U16(static_cast<std::uint16_t>(message.kind));
    out.U32(0);  // the body's size, filled in below
    bool ok = true;
    switch (fields) {
    case Fields::None:
        break;
    case Fields::Text:
        ok = out.Text(message.text);
        break;
    case Fields::Code:
        out.U32(message.code);
        break;
    case Fields::CodeAndText:
        out.U32(message.code);
        ok = out.Text(message.text);
        out.U32(message.waitMs);
        break;
    case Fields::Lists:
        ok = message.locked.size() <= kMaxGuardListEntries && message.unlocked.size() <= kMaxGuardListEntries &&
             message.unlockedRelockAt.size() == message.unlocked.size();
        if (ok) out.U32(static_cast<std::uint32_t>(message.locked.size()));
        for (const ListedItem& item : message.locked) {
            if (!ok) break;
            ok = StatusFits(item.status) && out.Text(item.item.Text());
            WriteStatus(out, item.status);
        }
        if (ok) out.U32(static_cast<std::uint32_t>(message.unlocked.size()));
        for (std::size_t i = 0; ok && i < message.unlocked.size(); ++i) {
            ok = out.Text(message.unlocked[i].Text());
            out.U64(message.unlockedRelockAt[i]);
        }
        out.U8(message.relocksOnSessionLock ? 1 : 0);
        break;
    case Fields::Invalid:
        ok = false;
        break;
    }
    std::vector<unsigned char>& bytes = out.Bytes();
    if (!ok || !out.Fits()) return {};
    const std::uint32_t body = static_cast<std::uint32_t>(bytes.size() - kGuardHeaderBytes);
    for (int i = 0; i < 4; ++i) bytes[8 + i] = static_cast<unsigned char>(body >> (8 * i));
    return std::move(bytes);
}

std::optional<GuardMessage> DecodeGuardMessage(const unsigned char* data, std::size_t size) {
    if (size < kGuardHeaderBytes || size > kMaxGuardMessageBytes) return std::nullopt;
    if (std::memcmp(data, kMagic, sizeof kMagic) != 0) return std::nullopt;
    Reader in(data + sizeof kMagic, size - sizeof kMagic);
    std::uint16_t version = 0;
    std::uint16_t kind = 0;
    std::uint32_t body = 0;
    in.U16(version);
    in.U16(kind);
    in.U32(body);
    if (version != kGuardProtocolVersion || body != size - kGuardHeaderBytes) return std::nullopt;

    GuardMessage message;
    message.kind = static_cast<GuardMessageKind>(kind);
    bool ok = true;
    switch (FieldsOf(message.kind)) {
    case Fields::None:
        break;
    case Fields::Text:
        ok = in.Text(message.text);
        break;
    case Fields::Code:
        ok = in.U32(message.code);
        break;
    case Fields::CodeAndText:
        ok = in.U32(message.code) && in.Text(message.text) && in.U32(message.waitMs);
        break;
    case Fields::Lists: {
        std::uint32_t count = 0;
        ok = in.Count(count, 4 + kStatusBytes);
        for (std::uint32_t i = 0; ok && i < count; ++i) {
            std::wstring path;
            ItemStatus status;
            ok = in.Text(path) && ReadStatus(in, status);
            if (ok) message.locked.push_back({Item(std::move(path)), status});
        }
        ok = ok && in.Count(count, 4 + 8);
        for (std::uint32_t i = 0; ok && i < count; ++i) {
            std::wstring path;
            std::uint64_t relockAt = 0;
            ok = in.Text(path) && in.U64(relockAt);
            if (!ok) break;
            message.unlocked.emplace_back(std::move(path));
            message.unlockedRelockAt.push_back(relockAt);
        }
        std::uint8_t relocks = 0;
        ok = ok && in.U8(relocks) && relocks <= 1;
        message.relocksOnSessionLock = relocks == 1;
        break;
    }
    case Fields::Invalid:
        ok = false;
        break;
    }
    if (!ok || !in.AtEnd()) return std::nullopt;
    return message;
}

}  // namespace vaultmere
