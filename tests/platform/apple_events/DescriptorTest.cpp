// NSAppleEventDescriptor and NSAppleEventManager in one process: list and
// record semantics, coercions, ownership, dispatch.
#include <gtest/gtest.h>

#include <stdexcept>

#include "AEDescStorage.h"
#include "BridgeProtocol.h"
#include "NSAppleEventDescriptor.h"
#include "NSAppleEventManager.h"

using D = NSAppleEventDescriptor;
using namespace quill::bridge;

namespace {
std::string text(const NSAppleEventDescriptorRef& d) {
    if (!d) return "<nil>";
    auto s = d->stringValue();
    return s ? s->UTF8String() : "<nil>";
}
}  // namespace

TEST(Descriptor, ListIndexingFollowsFoundation) {
    auto list = D::initListDescriptor();
    list->insertDescriptor(D::descriptorWithString(NSStr("a")), 0);
    list->insertDescriptor(D::descriptorWithString(NSStr("b")), 0);
    list->insertDescriptor(D::descriptorWithString(NSStr("c")), 3);  // count+1 appends
    ASSERT_EQ(list->numberOfItems(), 3);
    EXPECT_EQ(text(list->descriptorAtIndex(1)), "a");
    EXPECT_EQ(text(list->descriptorAtIndex(2)), "b");
    EXPECT_EQ(text(list->descriptorAtIndex(3)), "c");
    list->insertDescriptor(D::descriptorWithString(NSStr("B")), 2);  // replaces
    EXPECT_EQ(text(list->descriptorAtIndex(2)), "B");
    list->insertDescriptor(D::descriptorWithString(NSStr("x")), 9);  // out of range: silent
    list->insertDescriptor(D::descriptorWithString(NSStr("x")), -1);
    list->insertDescriptor(nullptr, 0);
    EXPECT_EQ(list->numberOfItems(), 3);
    EXPECT_EQ(list->descriptorAtIndex(0), nullptr);
    EXPECT_EQ(list->descriptorAtIndex(4), nullptr);
    // Inserting into a scalar does nothing.
    auto scalar = D::descriptorWithInt32(1);
    scalar->insertDescriptor(D::descriptorWithInt32(2), 0);
    EXPECT_EQ(scalar->numberOfItems(), 0);
}

TEST(Descriptor, ItemsAreCopiesNotShared) {
    auto item = D::initListDescriptor();
    auto list = D::listDescriptor();
    list->insertDescriptor(item, 0);
    item->insertDescriptor(D::descriptorWithInt32(5), 0);
    EXPECT_EQ(list->descriptorAtIndex(1)->numberOfItems(), 0);
    auto out = list->descriptorAtIndex(1);
    out->insertDescriptor(D::descriptorWithInt32(6), 0);
    EXPECT_EQ(list->descriptorAtIndex(1)->numberOfItems(), 0);
}

TEST(Descriptor, EventParametersAndAttributes) {
    const std::uint32_t psn[2] = {1, 2};
    auto target = D::descriptorWithDescriptorType(typeProcessSerialNumber, &psn, sizeof psn);
    auto event = D::appleEventWithEventClass(kBridgeEventClass, kSetFieldEvent, target, kAutoGenerateReturnID, 0);
    EXPECT_EQ(event->descriptorType(), typeAppleEvent);
    EXPECT_EQ(event->eventClass(), kBridgeEventClass);
    EXPECT_EQ(event->eventID(), kSetFieldEvent);
    EXPECT_NE(event->returnID(), kAutoGenerateReturnID);
    EXPECT_EQ(event->attributeDescriptorForKeyword(keyAddressAttr)->data(), target->data());

    event->setParamDescriptor(D::descriptorWithString(NSStr("one")), FourCC("cstr"));
    event->setParamDescriptor(D::descriptorWithInt32(4), FourCC("long"));
    event->setParamDescriptor(D::descriptorWithString(NSStr("two")), FourCC("cstr"));  // replaces in place
    EXPECT_EQ(event->numberOfItems(), 2);
    EXPECT_EQ(event->keywordForDescriptorAtIndex(1), FourCC("cstr"));
    EXPECT_EQ(text(event->descriptorAtIndex(1)), "two");
    EXPECT_EQ(text(event->descriptorForKeyword(FourCC("cstr"))), "two");
    EXPECT_EQ(event->paramDescriptorForKeyword(keyErrorString), nullptr);
    EXPECT_EQ(event->keywordForDescriptorAtIndex(3), 0u);

    auto noTarget = D::appleEventWithEventClass(kBridgeEventClass, kCloseDocEvent, nullptr, 9, 0);
    EXPECT_EQ(noTarget->attributeDescriptorForKeyword(keyAddressAttr), nullptr);
    EXPECT_EQ(noTarget->returnID(), 9);
    // Scalars have no parameters.
    auto s = D::descriptorWithInt32(1);
    s->setParamDescriptor(D::descriptorWithInt32(2), keyErrorString);
    EXPECT_EQ(s->paramDescriptorForKeyword(keyErrorString), nullptr);
}

TEST(Descriptor, StringValueCoercions) {
    EXPECT_EQ(text(D::descriptorWithString(NSStr("Zoë"))), "Zoë");
    EXPECT_EQ(D::descriptorWithString(NSStr("ab"))->data().size(), 4u);  // UTF-16, no BOM, no NUL
    EXPECT_EQ(text(D::descriptorWithInt32(-42)), "-42");
    EXPECT_EQ(text(D::descriptorWithBoolean(1)), "true");
    EXPECT_EQ(text(D::descriptorWithDescriptorType(typeUTF8Text, "h\xc3\xa9", 3)), "hé");
    EXPECT_EQ(text(D::descriptorWithDescriptorType(typeUTF8Text, "\xff", 1)), "<nil>");
    EXPECT_EQ(text(D::descriptorWithDescriptorType(typeChar, "caf\xe9", 4)), "café");  // not UTF-8: Latin-1
    const char16_t swapped[] = {0xFFFE, 0x4100};  // BOM of the other order, then 'A'
    EXPECT_EQ(text(D::descriptorWithDescriptorType(typeUnicodeText, swapped, sizeof swapped)), "A");
    EXPECT_EQ(text(D::descriptorWithDescriptorType(typeUnicodeText, "abc", 3)), "<nil>");  // odd size

    auto one = D::listDescriptor();
    one->insertDescriptor(D::descriptorWithString(NSStr("only")), 0);
    EXPECT_EQ(text(one), "only");
    one->insertDescriptor(D::descriptorWithString(NSStr("more")), 0);
    EXPECT_EQ(text(one), "<nil>");
    EXPECT_EQ(text(D::recordDescriptor()), "<nil>");
    EXPECT_EQ(text(D::nullDescriptor()), "<nil>");
}

TEST(Descriptor, IntegerAndBooleanCoercions) {
    EXPECT_EQ(D::descriptorWithInt32(-7)->int32Value(), -7);
    EXPECT_EQ(D::descriptorWithString(NSStr("  12 "))->int32Value(), 12);
    EXPECT_EQ(D::descriptorWithString(NSStr("-3"))->int32Value(), -3);
    EXPECT_EQ(D::descriptorWithString(NSStr("12abc"))->int32Value(), 0);
    EXPECT_EQ(D::descriptorWithString(NSStr("99999999999"))->int32Value(), 0);
    EXPECT_EQ(D::descriptorWithBoolean(1)->int32Value(), 1);
    EXPECT_EQ(D::recordDescriptor()->int32Value(), 0);
    const SInt16 s = -5;
    EXPECT_EQ(D::descriptorWithDescriptorType(typeSInt16, &s, 2)->int32Value(), -5);
    EXPECT_EQ(D::descriptorWithDescriptorType(typeSInt32, "ab", 2)->int32Value(), 0);  // wrong size

    EXPECT_TRUE(D::descriptorWithBoolean(1)->booleanValue());
    EXPECT_FALSE(D::descriptorWithBoolean(0)->booleanValue());
    EXPECT_TRUE(D::descriptorWithDescriptorType(typeTrue, nullptr, 0)->booleanValue());
    EXPECT_FALSE(D::descriptorWithDescriptorType(typeFalse, nullptr, 0)->booleanValue());
    EXPECT_TRUE(D::descriptorWithInt32(3)->booleanValue());
    EXPECT_TRUE(D::descriptorWithString(NSStr("Yes"))->booleanValue());
    EXPECT_FALSE(D::descriptorWithString(NSStr("maybe"))->booleanValue());
    // A one-item list stands for its item, even when the item is itself a list.
    auto inner = D::listDescriptor();
    inner->insertDescriptor(D::descriptorWithBoolean(1), 0);
    inner->insertDescriptor(D::descriptorWithBoolean(1), 0);
    auto outer = D::listDescriptor();
    outer->insertDescriptor(inner, 0);
    EXPECT_FALSE(outer->booleanValue());
    auto single = D::listDescriptor();
    single->insertDescriptor(D::descriptorWithBoolean(1), 0);
    EXPECT_TRUE(single->booleanValue());
}

TEST(Descriptor, CDescriptorsOwnAndHandOverTheirData) {
    const std::uint32_t psn[2] = {77, 88};
    AEDesc d;
    ASSERT_EQ(AECreateDesc(typeProcessSerialNumber, psn, sizeof psn, &d), noErr);
    EXPECT_NE(d.dataHandle, nullptr);
    EXPECT_EQ(AEGetDescDataSize(&d), 8u);

    AEDesc copy;
    ASSERT_EQ(AEDuplicateDesc(&d, &copy), noErr);
    EXPECT_NE(copy.dataHandle, d.dataHandle);

    auto wrapped = D::initWithAEDescNoCopy(&d);
    EXPECT_EQ(d.dataHandle, nullptr);  // taken over
    EXPECT_EQ(d.descriptorType, typeNull);
    EXPECT_EQ(wrapped->descriptorType(), typeProcessSerialNumber);
    EXPECT_EQ(wrapped->data().size(), 8u);
    AEDisposeDesc(&copy);
    EXPECT_EQ(copy.dataHandle, nullptr);

    AEDesc null;
    ASSERT_EQ(AEInitializeDesc(&null), noErr);
    EXPECT_NE(D::initWithAEDescNoCopy(&null), nullptr);
    EXPECT_EQ(AECreateDesc(typeSInt32, nullptr, 4, &null), paramErr);

    // Container bytes are the wire encoding of that container.
    auto list = D::listDescriptor();
    list->insertDescriptor(D::descriptorWithInt32(3), 0);
    const auto bytes = quill::ae::encode(list->aeDesc()->dataHandle->node);
    auto back = D::descriptorWithDescriptorType(typeAEList, bytes.data(), bytes.size());
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->isEqual(*list));
    EXPECT_EQ(D::descriptorWithDescriptorType(typeAERecord, bytes.data(), bytes.size()), nullptr);  // type differs
    EXPECT_EQ(D::descriptorWithDescriptorType(typeAEList, "junk", 4), nullptr);
}

TEST(Manager, DispatchFindsReplacesAndGuardsHandlers) {
    auto& m = NSAppleEventManager::sharedAppleEventManager();
    const AEEventClass cls = FourCC("TsTd");
    auto event = D::appleEventWithEventClass(cls, FourCC("one "), nullptr, 1, 0);
    auto reply = D::appleEventWithEventClass(kCoreEventClass, kAEAnswer, nullptr, 1, 0);
    EXPECT_EQ(m.dispatchRawAppleEvent(event.get(), reply.get()), errAEEventNotHandled);
    EXPECT_EQ(m.dispatchRawAppleEvent(D::descriptorWithInt32(1).get(), reply.get()), errAENotAppleEvent);

    m.setEventHandler([](D*, D* r) { r->setParamDescriptor(D::descriptorWithString(NSStr("first")), keyErrorString); },
                      cls, FourCC("one "));
    m.setEventHandler([](D*, D* r) { r->setParamDescriptor(D::descriptorWithString(NSStr("second")), keyErrorString); },
                      cls, FourCC("one "));
    EXPECT_EQ(m.dispatchRawAppleEvent(event.get(), reply.get()), noErr);
    EXPECT_EQ(text(reply->paramDescriptorForKeyword(keyErrorString)), "second");
    // No reply wanted: the handler still runs and may write into its scratch reply.
    EXPECT_EQ(m.dispatchRawAppleEvent(event.get(), nullptr), noErr);

    m.setEventHandler(
        [](D*, D* r) {
            r->setParamDescriptor(D::descriptorWithString(NSStr("partial")), keyErrorString);
            throw std::runtime_error("boom");
        },
        cls, FourCC("thrw"));
    auto bad = D::appleEventWithEventClass(cls, FourCC("thrw"), nullptr, 2, 0);
    auto reply2 = D::appleEventWithEventClass(kCoreEventClass, kAEAnswer, nullptr, 2, 0);
    EXPECT_EQ(m.dispatchRawAppleEvent(bad.get(), reply2.get()), errAEEventFailed);
    EXPECT_EQ(reply2->paramDescriptorForKeyword(keyErrorNumber)->int32Value(), errAEEventFailed);
    EXPECT_EQ(text(reply2->paramDescriptorForKeyword(keyErrorString)), "partial");

    m.removeEventHandler(cls, FourCC("one "));
    EXPECT_EQ(m.dispatchRawAppleEvent(event.get(), reply.get()), errAEEventNotHandled);
    m.removeEventHandler(cls, FourCC("thrw"));
}
