// Descriptor: the AEDesc calls and NSAppleEventDescriptor over the tree of
// AEDescStorage.h (the coercions of its values are in Coercions.cpp).
#include "NSAppleEventDescriptor.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "AEDescStorage.h"

using quill::ae::Kind;
using quill::ae::Node;
using quill::ae::nodeOf;

namespace {

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

bool NSAppleEventDescriptor::isEqual(const NSAppleEventDescriptor& other) const {
    return nodeOf(desc_) == nodeOf(other.desc_);
}
