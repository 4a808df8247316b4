// The result bytes that the simulated phone answers with, and the packet sizes it works
// with, shared by its command families.
#pragma once

#include <cstddef>
#include <cstdint>

namespace phonesim {

inline constexpr uint8_t kOk = 0x01;
inline constexpr uint8_t kMore = 0x02;        // more answers follow
inline constexpr uint8_t kNoFile = 0x21;      // no such file or folder
inline constexpr uint8_t kBadRequest = 0x22;  // malformed body, bad path, an answer that cannot fit
inline constexpr uint8_t kIoError = 0x23;     // the memory could not be read or written
inline constexpr uint8_t kDenied = 0x24;      // read-only folder or file, fixed folder
inline constexpr uint8_t kExists = 0x25;      // the new name or target is taken
inline constexpr uint8_t kNoSpace = 0x27;

inline constexpr std::size_t kHeader = 8;  // bytes of a packet's header
inline constexpr std::size_t kMaxBody = 65535;

}  // namespace phonesim
