// The whole of a file as bytes: the one reader the tests and benches share.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace quill::testsupport {

// Empty when the file cannot be read; a test that needs the bytes checks
// the file exists first.
inline std::string slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quill::testsupport
