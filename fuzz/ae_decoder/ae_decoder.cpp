// Fuzz target for the descriptor decoder: any bytes must decode or be
// refused, never crash or over-read; what decodes must re-encode to the same
// bytes and survive the descriptor accessors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "AEDescStorage.h"
#include "NSAppleEventDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quill::ae::Node node;
    if (quill::ae::decode(data, size, node) != noErr) return 0;
    // The encoding is canonical: a decoded tree encodes to exactly its input.
    const auto again = quill::ae::encode(node);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
    AEDesc d{node.type, new AEDescStorage{std::move(node)}};
    auto desc = NSAppleEventDescriptor::initWithAEDescNoCopy(&d);
    (void)desc->stringValue();
    (void)desc->int32Value();
    (void)desc->booleanValue();
    for (long i = 1; i <= desc->numberOfItems() && i <= 16; ++i) {
        auto item = desc->descriptorAtIndex(i);
        if (item) (void)item->stringValue();
        (void)desc->keywordForDescriptorAtIndex(i);
    }
    (void)desc->descriptorForKeyword(keyErrorString);
    (void)desc->eventClass();
    return 0;
}
