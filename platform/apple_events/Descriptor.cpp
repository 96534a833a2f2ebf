// Descriptor: the AEDesc calls and NSAppleEventDescriptor over the tree of
// AEDescStorage.h, with the coercions to text, integer and boolean.
#include "NSAppleEventDescriptor.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "AEDescStorage.h"

using quill::ae::Kind;
using quill::ae::Node;

namespace {

// The node behind a desc, with the desc's own type (which a caller may have
// changed by hand) taken as the truth.
Node nodeOf(const AEDesc& d) {
    Node n = d.dataHandle ? d.dataHandle->node : Node{};
    n.type = d.descriptorType;
    return n;
}

AEDesc descFor(Node n) {
    AEDesc d{n.type, nullptr};
    if (n.type == typeNull && n.data.empty()) return d;
    d.dataHandle = new AEDescStorage{std::move(n)};
    return d;
}

NSAppleEventDescriptorRef wrap(Node n) {
    AEDesc d = descFor(std::move(n));
    return NSAppleEventDescriptor::initWithAEDescNoCopy(&d);
}

template <class T>
bool readScalar(const Node& n, T& out) {
    if (n.data.size() != sizeof(T)) return false;
    std::memcpy(&out, n.data.data(), sizeof(T));
    return true;
}

char16_t swap16(char16_t c) {
    return static_cast<char16_t>(((c & 0xFF) << 8) | ((c >> 8) & 0xFF));
}

// UTF-16 units from bytes in host order (bigEndian false) or big-endian; a
// leading BOM of either order overrides. Odd sizes are refused.
std::optional<std::u16string> utf16From(const std::vector<std::uint8_t>& data, bool bigEndian) {
    if (data.size() % 2) return std::nullopt;
    std::u16string units(data.size() / 2, u'\0');
    if (!units.empty()) std::memcpy(units.data(), data.data(), data.size());
    const bool hostBig = std::endian::native == std::endian::big;
    bool swap = bigEndian != hostBig;
    if (!units.empty()) {
        char16_t first = units[0];
        if (first == 0xFEFF || first == 0xFFFE) {
            swap = first == 0xFFFE;
            units.erase(0, 1);
        }
    }
    if (swap)
        for (auto& c : units) c = swap16(c);
    return units;
}

std::optional<std::int64_t> integerOf(const Node& n) {
    SInt32 l;
    SInt16 s;
    UInt32 m;
    SInt64 c;
    switch (n.type) {
        case typeSInt32:
            if (readScalar(n, l)) return l;
            return std::nullopt;
        case typeSInt16:
            if (readScalar(n, s)) return s;
            return std::nullopt;
        case typeUInt32:
            if (readScalar(n, m)) return m;
            return std::nullopt;
        case typeSInt64:
            if (readScalar(n, c)) return c;
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<bool> booleanOf(const Node& n) {
    if (n.type == typeTrue) return true;
    if (n.type == typeFalse) return false;
    if (n.type == typeBoolean && n.data.size() == 1) return n.data[0] != 0;
    return std::nullopt;
}

std::string fourChars(OSType code) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return s;
}

NSStringOrNil textOf(const Node& n) {
    switch (n.kind()) {
        case Kind::List:
            if (n.items.size() == 1) return textOf(n.items[0].value);
            return std::nullopt;
        case Kind::Record:
        case Kind::Event:
            return std::nullopt;
        case Kind::Scalar:
            break;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(n.data.data()), n.data.size());
    switch (n.type) {
        case typeUnicodeText:
            if (auto u = utf16From(n.data, false)) return NSString(std::move(*u));
            return std::nullopt;
        case typeUTF16ExternalRepresentation:
            if (auto u = utf16From(n.data, true)) return NSString(std::move(*u));
            return std::nullopt;
        case typeUTF8Text:
            if (auto u = quill::utf::utf8ToUtf16(bytes)) return NSString(std::move(*u));
            return std::nullopt;
        case typeChar: {
            if (auto u = quill::utf::utf8ToUtf16(bytes)) return NSString(std::move(*u));
            std::u16string latin1(bytes.begin(), bytes.end());  // each byte is its own code point
            for (std::size_t i = 0; i < bytes.size(); ++i) latin1[i] = static_cast<unsigned char>(bytes[i]);
            return NSString(std::move(latin1));
        }
        case typeEnumerated:
        case typeType: {
            OSType code;
            if (!readScalar(n, code)) return std::nullopt;
            return NSStr(fourChars(code));
        }
        case typeIEEE64BitFloatingPoint: {
            double d;
            if (!readScalar(n, d) || !std::isfinite(d)) return std::nullopt;
            char buf[64];
            auto r = std::to_chars(buf, buf + sizeof buf, d);
            return NSStr(std::string(buf, r.ptr));
        }
        default:
            break;
    }
    if (auto i = integerOf(n)) return NSStr(std::to_string(*i));
    if (auto b = booleanOf(n)) return NSStr(*b ? "true" : "false");
    return std::nullopt;
}

// A whole text holding a decimal integer (white space around it allowed).
std::optional<std::int64_t> parseInteger(const std::u16string& units) {
    std::string s;
    for (char16_t c : units) {
        if (c > 0x7F) return std::nullopt;
        s.push_back(static_cast<char>(c));
    }
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    if (b < e && s[b] == '+') ++b;
    std::int64_t v = 0;
    auto r = std::from_chars(s.data() + b, s.data() + e, v);
    if (r.ec != std::errc() || r.ptr != s.data() + e || b == e) return std::nullopt;
    return v;
}

std::optional<std::int64_t> int64Of(const Node& n) {
    if (n.kind() == Kind::List) {
        if (n.items.size() == 1) return int64Of(n.items[0].value);
        return std::nullopt;
    }
    if (n.kind() != Kind::Scalar) return std::nullopt;
    if (auto i = integerOf(n)) return i;
    if (auto b = booleanOf(n)) return *b ? 1 : 0;
    if (n.type == typeIEEE64BitFloatingPoint) {
        double d;
        if (!readScalar(n, d) || !std::isfinite(d) || std::fabs(d) > 9.0e18) return std::nullopt;
        return static_cast<std::int64_t>(std::llround(d));
    }
    if (n.type == typeUnicodeText || n.type == typeUTF8Text || n.type == typeChar ||
        n.type == typeUTF16ExternalRepresentation) {
        if (auto t = textOf(n)) return parseInteger(t->units());
    }
    return std::nullopt;
}

std::atomic<int> gNextReturnID{1};

AEReturnID freshReturnID() {
    // 1..32767, cycling; never kAutoGenerateReturnID or 0.
    int id = gNextReturnID.fetch_add(1, std::memory_order_relaxed);
    return static_cast<AEReturnID>(1 + (id - 1) % 32767);
}

}  // namespace

// ---- C calls ----

OSErr AECreateDesc(DescType typeCode, const void* dataPtr, std::size_t dataSize, AEDesc* result) {
    if (!result) return paramErr;
    *result = AEDesc{typeNull, nullptr};
    if (!dataPtr && dataSize) return paramErr;
    try {
        Node n;
        if (quill::ae::kindOf(typeCode) != Kind::Scalar) {
            if (dataSize) {
                if (quill::ae::decode(static_cast<const std::uint8_t*>(dataPtr), dataSize, n) != noErr ||
                    n.type != typeCode)
                    return errAECorruptData;
            } else {
                n.type = typeCode;
                if (typeCode == typeAppleEvent) n = quill::ae::eventNode(0, 0, 0, 0);
            }
        } else {
            n = quill::ae::scalar(typeCode, dataPtr, dataSize);
        }
        *result = descFor(std::move(n));
        return noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    } catch (...) {
        return paramErr;
    }
}

OSErr AEInitializeDesc(AEDesc* desc) {
    if (!desc) return paramErr;
    *desc = AEDesc{typeNull, nullptr};
    return noErr;
}

OSErr AEDisposeDesc(AEDesc* desc) {
    if (!desc) return paramErr;
    delete desc->dataHandle;
    *desc = AEDesc{typeNull, nullptr};
    return noErr;
}

OSErr AEDuplicateDesc(const AEDesc* from, AEDesc* to) {
    if (!from || !to) return paramErr;
    try {
        AEDesc copy{from->descriptorType, nullptr};
        if (from->dataHandle) copy.dataHandle = new AEDescStorage{*from->dataHandle};
        *to = copy;
        return noErr;
    } catch (...) {
        *to = AEDesc{typeNull, nullptr};
        return memFullErr;
    }
}

std::size_t AEGetDescDataSize(const AEDesc* desc) {
    if (!desc || !desc->dataHandle || quill::ae::kindOf(desc->descriptorType) != Kind::Scalar) return 0;
    return desc->dataHandle->node.data.size();
}

OSErr AEGetDescData(const AEDesc* desc, void* dataPtr, std::size_t maximumSize) {
    if (!desc || (!dataPtr && maximumSize)) return paramErr;
    if (quill::ae::kindOf(desc->descriptorType) != Kind::Scalar) return errAEWrongDataType;
    if (!desc->dataHandle) return noErr;
    const auto& d = desc->dataHandle->node.data;
    if (!d.empty() && maximumSize) std::memcpy(dataPtr, d.data(), std::min(maximumSize, d.size()));
    return noErr;
}

// ---- NSAppleEventDescriptor ----

NSAppleEventDescriptor::NSAppleEventDescriptor() : desc_{typeNull, nullptr} {}
NSAppleEventDescriptor::~NSAppleEventDescriptor() {
    AEDisposeDesc(&desc_);
}

NSAppleEventDescriptorRef NSAppleEventDescriptor::initWithAEDescNoCopy(AEDesc* desc) {
    if (!desc) return nullptr;
    auto d = std::make_shared<NSAppleEventDescriptor>();
    d->desc_ = *desc;
    *desc = AEDesc{typeNull, nullptr};
    return d;
}

NSAppleEventDescriptorRef NSAppleEventDescriptor::descriptorWithAEDesc(const AEDesc* desc) {
    if (!desc) return nullptr;
    return wrap(nodeOf(*desc));
}

NSAppleEventDescriptorRef NSAppleEventDescriptor::appleEventWithEventClass(AEEventClass eventClass, AEEventID eventID,
                                                                           const NSAppleEventDescriptorRef& target,
                                                                           AEReturnID returnID,
                                                                           AETransactionID transactionID) {
    if (returnID == kAutoGenerateReturnID) returnID = freshReturnID();
    Node n = quill::ae::eventNode(eventClass, eventID, returnID, transactionID);
    if (target) n.putAttribute(keyAddressAttr, nodeOf(target->desc_));
    return wrap(std::move(n));
}

NSAppleEventDescriptorRef NSAppleEventDescriptor::descriptorWithString(const NSString& s) {
    return wrap(quill::ae::textNode(s.units()));
}
NSAppleEventDescriptorRef NSAppleEventDescriptor::descriptorWithInt32(SInt32 v) {
    return wrap(quill::ae::int32Node(v));
}
NSAppleEventDescriptorRef NSAppleEventDescriptor::descriptorWithBoolean(Boolean v) {
    return wrap(quill::ae::boolNode(v != 0));
}
NSAppleEventDescriptorRef NSAppleEventDescriptor::descriptorWithEnumCode(OSType v) {
    return wrap(quill::ae::scalar(typeEnumerated, &v, sizeof v));
}
NSAppleEventDescriptorRef NSAppleEventDescriptor::descriptorWithTypeCode(OSType v) {
    return wrap(quill::ae::typeCodeNode(v));
}

NSAppleEventDescriptorRef NSAppleEventDescriptor::descriptorWithDescriptorType(DescType t, const void* bytes,
                                                                               std::size_t length) {
    AEDesc d;
    if (AECreateDesc(t, bytes, length, &d) != noErr) return nullptr;
    return initWithAEDescNoCopy(&d);
}

NSAppleEventDescriptorRef NSAppleEventDescriptor::listDescriptor() {
    Node n;
    n.type = typeAEList;
    return wrap(std::move(n));
}
NSAppleEventDescriptorRef NSAppleEventDescriptor::initListDescriptor() {
    return listDescriptor();
}
NSAppleEventDescriptorRef NSAppleEventDescriptor::recordDescriptor() {
    Node n;
    n.type = typeAERecord;
    return wrap(std::move(n));
}
NSAppleEventDescriptorRef NSAppleEventDescriptor::initRecordDescriptor() {
    return recordDescriptor();
}
NSAppleEventDescriptorRef NSAppleEventDescriptor::nullDescriptor() {
    return std::make_shared<NSAppleEventDescriptor>();
}

const AEDesc* NSAppleEventDescriptor::aeDesc() const {
    return &desc_;
}
DescType NSAppleEventDescriptor::descriptorType() const {
    return desc_.descriptorType;
}

std::vector<std::uint8_t> NSAppleEventDescriptor::data() const {
    if (!desc_.dataHandle || quill::ae::kindOf(desc_.descriptorType) != Kind::Scalar) return {};
    return desc_.dataHandle->node.data;
}

namespace {
// The storage of a container desc, made when missing; null for scalars.
Node* containerOf(AEDesc& d, Kind want) {
    if (quill::ae::kindOf(d.descriptorType) != want) return nullptr;
    if (!d.dataHandle) {
        Node n;
        n.type = d.descriptorType;
        d.dataHandle = new AEDescStorage{std::move(n)};
    }
    d.dataHandle->node.type = d.descriptorType;
    return &d.dataHandle->node;
}
const Node* viewOf(const AEDesc& d) {
    return d.dataHandle ? &d.dataHandle->node : nullptr;
}
bool keyed(DescType t) {
    return t == typeAERecord || t == typeAppleEvent;
}
}  // namespace

void NSAppleEventDescriptor::insertDescriptor(const NSAppleEventDescriptorRef& d, long index) {
    if (!d) return;
    try {
        Node* list = containerOf(desc_, Kind::List);
        if (!list) return;
        const long count = static_cast<long>(list->items.size());
        if (index < 0 || index > count + 1) return;
        Node value = nodeOf(d->desc_);
        if (index == 0 || index == count + 1)
            list->items.push_back(Node::Item{0, std::move(value)});
        else
            list->items[static_cast<std::size_t>(index - 1)].value = std::move(value);
    } catch (...) {
        // Errors are silent, as the Foundation method's are.
    }
}

NSAppleEventDescriptorRef NSAppleEventDescriptor::descriptorAtIndex(long index) const {
    const Node* n = viewOf(desc_);
    if (!n || quill::ae::kindOf(desc_.descriptorType) == Kind::Scalar) return nullptr;
    if (index < 1 || index > static_cast<long>(n->items.size())) return nullptr;
    return wrap(n->items[static_cast<std::size_t>(index - 1)].value);
}

void NSAppleEventDescriptor::removeDescriptorAtIndex(long index) {
    if (quill::ae::kindOf(desc_.descriptorType) == Kind::Scalar || !desc_.dataHandle) return;
    auto& items = desc_.dataHandle->node.items;
    if (index < 1 || index > static_cast<long>(items.size())) return;
    items.erase(items.begin() + (index - 1));
}

long NSAppleEventDescriptor::numberOfItems() const {
    const Node* n = viewOf(desc_);
    if (!n || quill::ae::kindOf(desc_.descriptorType) == Kind::Scalar) return 0;
    return static_cast<long>(n->items.size());
}

AEKeyword NSAppleEventDescriptor::keywordForDescriptorAtIndex(long index) const {
    const Node* n = viewOf(desc_);
    if (!n || quill::ae::kindOf(desc_.descriptorType) == Kind::Scalar) return 0;
    if (index < 1 || index > static_cast<long>(n->items.size())) return 0;
    if (desc_.descriptorType == typeAEList) return typeWildCard;
    return n->items[static_cast<std::size_t>(index - 1)].key;
}

void NSAppleEventDescriptor::setParamDescriptor(const NSAppleEventDescriptorRef& d, AEKeyword keyword) {
    if (!d || !keyed(desc_.descriptorType)) return;
    try {
        Node* n = containerOf(desc_, quill::ae::kindOf(desc_.descriptorType));
        n->put(keyword, nodeOf(d->desc_));
    } catch (...) {
    }
}

NSAppleEventDescriptorRef NSAppleEventDescriptor::paramDescriptorForKeyword(AEKeyword keyword) const {
    const Node* n = viewOf(desc_);
    if (!n || !keyed(desc_.descriptorType)) return nullptr;
    const Node* v = n->find(keyword);
    return v ? wrap(*v) : nullptr;
}

void NSAppleEventDescriptor::removeParamDescriptorWithKeyword(AEKeyword keyword) {
    if (desc_.dataHandle && keyed(desc_.descriptorType)) desc_.dataHandle->node.remove(keyword);
}

void NSAppleEventDescriptor::setDescriptor(const NSAppleEventDescriptorRef& d, AEKeyword keyword) {
    setParamDescriptor(d, keyword);
}
NSAppleEventDescriptorRef NSAppleEventDescriptor::descriptorForKeyword(AEKeyword keyword) const {
    return paramDescriptorForKeyword(keyword);
}
void NSAppleEventDescriptor::removeDescriptorWithKeyword(AEKeyword keyword) {
    removeParamDescriptorWithKeyword(keyword);
}

void NSAppleEventDescriptor::setAttributeDescriptor(const NSAppleEventDescriptorRef& d, AEKeyword keyword) {
    if (!d || desc_.descriptorType != typeAppleEvent) return;
    try {
        containerOf(desc_, Kind::Event)->putAttribute(keyword, nodeOf(d->desc_));
    } catch (...) {
    }
}

NSAppleEventDescriptorRef NSAppleEventDescriptor::attributeDescriptorForKeyword(AEKeyword keyword) const {
    const Node* n = viewOf(desc_);
    if (!n || desc_.descriptorType != typeAppleEvent) return nullptr;
    const Node* v = n->findAttribute(keyword);
    return v ? wrap(*v) : nullptr;
}

AEEventClass NSAppleEventDescriptor::eventClass() const {
    OSType code = 0;
    if (desc_.descriptorType == typeAppleEvent && desc_.dataHandle)
        quill::ae::readCode(desc_.dataHandle->node.findAttribute(keyEventClassAttr), code);
    return code;
}
AEEventID NSAppleEventDescriptor::eventID() const {
    OSType code = 0;
    if (desc_.descriptorType == typeAppleEvent && desc_.dataHandle)
        quill::ae::readCode(desc_.dataHandle->node.findAttribute(keyEventIDAttr), code);
    return code;
}
AEReturnID NSAppleEventDescriptor::returnID() const {
    SInt16 v = 0;
    if (desc_.descriptorType == typeAppleEvent && desc_.dataHandle)
        quill::ae::readInt16(desc_.dataHandle->node.findAttribute(keyReturnIDAttr), v);
    return v;
}
AETransactionID NSAppleEventDescriptor::transactionID() const {
    SInt32 v = 0;
    if (desc_.descriptorType == typeAppleEvent && desc_.dataHandle)
        quill::ae::readInt32(desc_.dataHandle->node.findAttribute(keyTransactionIDAttr), v);
    return v;
}

NSStringOrNil NSAppleEventDescriptor::stringValue() const {
    try {
        return textOf(nodeOf(desc_));
    } catch (...) {
        return std::nullopt;
    }
}

SInt32 NSAppleEventDescriptor::int32Value() const {
    try {
        auto v = int64Of(nodeOf(desc_));
        if (!v || *v < std::numeric_limits<SInt32>::min() || *v > std::numeric_limits<SInt32>::max()) return 0;
        return static_cast<SInt32>(*v);
    } catch (...) {
        return 0;
    }
}

Boolean NSAppleEventDescriptor::booleanValue() const {
    try {
        Node n = nodeOf(desc_);
        if (n.kind() == Kind::List && n.items.size() == 1) {
            Node item = std::move(n.items[0].value);  // not n = n.items[0].value: that frees its own source
            n = std::move(item);
        }
        if (auto b = booleanOf(n)) return *b;
        if (auto i = integerOf(n)) return *i != 0;
        if (auto t = textOf(n)) {
            const std::string s = t->lowercaseString().UTF8String();
            if (s == "true" || s == "yes") return 1;
            if (s == "false" || s == "no") return 0;
            if (auto i = parseInteger(t->units())) return *i != 0;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

OSType NSAppleEventDescriptor::typeCodeValue() const {
    if (quill::ae::kindOf(desc_.descriptorType) != Kind::Scalar || !desc_.dataHandle) return 0;
    OSType code = 0;
    if (!readScalar(desc_.dataHandle->node, code)) return 0;
    return code;
}
OSType NSAppleEventDescriptor::enumCodeValue() const {
    return typeCodeValue();
}

bool NSAppleEventDescriptor::isEqual(const NSAppleEventDescriptor& other) const {
    return nodeOf(desc_) == nodeOf(other.desc_);
}
