// Stand-in for the engine's error type while the engine library is not in the tree.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
namespace quill::pdf {
constexpr int32_t errCode(int sev, int sys, int num) {
  return static_cast<int32_t>((static_cast<uint32_t>(sev) << 28) | (static_cast<uint32_t>(sys) << 16) |
                              (static_cast<uint32_t>(num) & 0xFFFF));
}
class Error : public std::runtime_error {
public:
  Error(int32_t code, std::string message) : std::runtime_error(std::move(message)), code_(code) {}
  int32_t code() const { return code_; }
private:
  int32_t code_;
};
}  // namespace quill::pdf
