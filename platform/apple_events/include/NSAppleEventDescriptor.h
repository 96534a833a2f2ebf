// NSAppleEventDescriptor: Foundation's object face of an AEDesc — scalars,
// lists, records and Apple events, with the coercions the plug-ins rely on.
//
// Each object owns one AEDesc (released with the object). Descriptors put
// into a list, record or event are copied in; descriptors taken out are
// fresh copies, so a change to one never shows in another. A Foundation nil
// is a null NSAppleEventDescriptorRef. Not thread-safe per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "AppleEvents.h"
#include "NSString.h"

class NSAppleEventDescriptor;
using NSAppleEventDescriptorRef = std::shared_ptr<NSAppleEventDescriptor>;  // nil == nullptr

class NSAppleEventDescriptor {
public:
    // An Apple event with the given attributes; a null target leaves the
    // event without an address. kAutoGenerateReturnID picks a fresh ID.
    static NSAppleEventDescriptorRef appleEventWithEventClass(AEEventClass eventClass, AEEventID eventID,
                                                              const NSAppleEventDescriptorRef& targetDescriptor,
                                                              AEReturnID returnID, AETransactionID transactionID);
    static NSAppleEventDescriptorRef descriptorWithString(const NSString& s);  // 'utxt', UTF-16 host order, no BOM
    static NSAppleEventDescriptorRef descriptorWithInt32(SInt32 v);            // 'long'
    static NSAppleEventDescriptorRef descriptorWithBoolean(Boolean v);         // 'bool'
    static NSAppleEventDescriptorRef descriptorWithEnumCode(OSType v);         // 'enum'
    static NSAppleEventDescriptorRef descriptorWithTypeCode(OSType v);         // 'type'
    // A copy of the bytes under the type; nil on error (null bytes with a
    // length, or container bytes that do not decode).
    static NSAppleEventDescriptorRef descriptorWithDescriptorType(DescType t, const void* bytes, std::size_t length);
    static NSAppleEventDescriptorRef listDescriptor();      // empty 'list'
    static NSAppleEventDescriptorRef initListDescriptor();  // the same
    static NSAppleEventDescriptorRef recordDescriptor();    // empty 'reco'
    static NSAppleEventDescriptorRef initRecordDescriptor();
    static NSAppleEventDescriptorRef nullDescriptor();  // 'null'
    // Wraps *desc and takes it over: desc is left {typeNull, nullptr}.
    // Never nil for a non-null desc.
    static NSAppleEventDescriptorRef initWithAEDescNoCopy(AEDesc* desc);
    // Wraps a deep copy of *desc.
    static NSAppleEventDescriptorRef descriptorWithAEDesc(const AEDesc* desc);

    NSAppleEventDescriptor();  // a null descriptor
    ~NSAppleEventDescriptor();
    NSAppleEventDescriptor(const NSAppleEventDescriptor&) = delete;
    NSAppleEventDescriptor& operator=(const NSAppleEventDescriptor&) = delete;

    const AEDesc* aeDesc() const;
    DescType descriptorType() const;
    std::vector<std::uint8_t> data() const;  // raw bytes of a scalar; empty for containers

    // Lists; for descriptorAtIndex, numberOfItems and keywordForDescriptorAtIndex
    // also records and Apple events, whose items are their parameters in
    // insertion order.
    // 1-based; 0 or count+1 appends; an existing index is replaced. Silent on
    // error (not a list, index out of range, nil descriptor).
    void insertDescriptor(const NSAppleEventDescriptorRef& d, long index);
    NSAppleEventDescriptorRef descriptorAtIndex(long index) const;  // 1-based; nil when out of range
    void removeDescriptorAtIndex(long index);
    long numberOfItems() const;                               // 0 for scalars
    AEKeyword keywordForDescriptorAtIndex(long index) const;  // 0 on error

    // Apple events and records (a parameter of an event is a keyed item of
    // its record part; setting an existing keyword replaces it in place).
    void setParamDescriptor(const NSAppleEventDescriptorRef& d, AEKeyword keyword);
    NSAppleEventDescriptorRef paramDescriptorForKeyword(AEKeyword keyword) const;
    void removeParamDescriptorWithKeyword(AEKeyword keyword);
    void setDescriptor(const NSAppleEventDescriptorRef& d, AEKeyword keyword);
    NSAppleEventDescriptorRef descriptorForKeyword(AEKeyword keyword) const;
    void removeDescriptorWithKeyword(AEKeyword keyword);
    // Apple events only.
    void setAttributeDescriptor(const NSAppleEventDescriptorRef& d, AEKeyword keyword);
    NSAppleEventDescriptorRef attributeDescriptorForKeyword(AEKeyword keyword) const;
    AEEventClass eventClass() const;  // 0 when not an Apple event
    AEEventID eventID() const;
    AEReturnID returnID() const;
    AETransactionID transactionID() const;

    // Coercions.
    // Text: 'utxt' (UTF-16 host order; a leading BOM of either order is
    // honoured), 'utf8', 'TEXT' (UTF-8, else Latin-1), 'ut16' (BOM, else big
    // endian); numbers ('long', 'shor', 'magn', 'comp') and booleans as text
    // ("42", "true"/"false"); 'enum'/'type' as their four characters; a
    // one-item list as its item. Anything else: nil.
    NSStringOrNil stringValue() const;
    // 'long', 'shor', 'magn' (when it fits), 'comp' (when it fits), booleans
    // (1/0) and text holding a decimal integer; 0 on error.
    SInt32 int32Value() const;
    // 'bool', 'true', 'fals', integers (non-zero is true) and the texts
    // "true"/"false"/"yes"/"no"; false on error.
    Boolean booleanValue() const;
    OSType typeCodeValue() const;  // 'type', 'enum' and any 4-byte scalar; 0 on error
    OSType enumCodeValue() const;

    bool isEqual(const NSAppleEventDescriptor& other) const;  // same type and same contents

private:
    AEDesc desc_;
};
