// One mutation of a PDF's bytes, shared by the mutation runs of the tests and the fuzz targets'
// runs without libFuzzer: byte flips, truncation, a range copied over another place, PDF-ish
// junk inserted (keywords, huge lengths and counts, dangling references, signature and lock
// dictionaries), digits changed (offsets and lengths). A few of these in a row per call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <random>
#include <string>

namespace quill::test {

inline std::string mutatePdf(std::string data, std::mt19937& rng) {
    auto pick = [&](std::size_t n) { return n ? std::uniform_int_distribution<std::size_t>(0, n - 1)(rng) : 0; };
    const int rounds = 1 + static_cast<int>(pick(8));
    for (int r = 0; r < rounds && !data.empty(); ++r) {
        switch (pick(5)) {
            case 0:  // flip bytes
                for (int i = 0; i < 1 + static_cast<int>(pick(16)); ++i)
                    data[pick(data.size())] ^= static_cast<char>(1 + pick(255));
                break;
            case 1:  // truncate: anywhere, or only the end's cross-reference and trailer
                data.resize(pick(2) ? pick(data.size()) : data.size() - pick(data.size() / 4 + 1));
                break;
            case 2: {  // copy a range over another place
                const std::size_t from = pick(data.size()), to = pick(data.size());
                const std::size_t len = std::min<std::size_t>({pick(512), data.size() - from, data.size() - to});
                data.replace(to, len, data.substr(from, len));
                break;
            }
            case 3: {  // insert PDF-ish junk
                static const char* const junk[] = {"obj",
                                                   "endobj",
                                                   "<<",
                                                   ">>",
                                                   "(",
                                                   ")",
                                                   "[",
                                                   "]",
                                                   "-1",
                                                   "xref",
                                                   "trailer",
                                                   "stream\n",
                                                   "%%EOF",
                                                   "/Encrypt",
                                                   "/Size 2147483647",
                                                   "/Length 99999999",
                                                   "/Length 127",
                                                   "/XRefStm 0",
                                                   "/Prev 0",
                                                   "/Lock << /Action /All /P 1 >>",
                                                   "/ByteRange [0 1 2 3]",
                                                   "9999999999 0 R"};
                data.insert(pick(data.size()), junk[pick(std::size(junk))]);
                break;
            }
            default:  // digits changed: offsets and lengths
                for (int i = 0; i < 8; ++i) {
                    const std::size_t p = pick(data.size());
                    if (data[p] >= '0' && data[p] <= '9') data[p] = static_cast<char>('0' + pick(10));
                }
        }
    }
    return data;
}

}  // namespace quill::test
