// The Java installer's protocol commands: ask how much of an application file the phone
// holds, and tell the phone to install one.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/transactions.hpp"

namespace kiv {

class JavaCommands {
 public:
  explicit JavaCommands(Transactions& session) : session_(session) {}

  // Asks about folder\name of size bytes (protocol version 3 or later). result (when given)
  // gets the phone's result byte whenever a non-refused answer with a body arrived; value
  // (when given) gets the answer's 32-bit number when the byte means success. 1 or 0.
  int JavaExistFileCheck(std::u16string_view folder, std::u16string_view name, uint32_t size, uint32_t* value,
                         uint8_t* result);
  // Asks the phone to install folder\name: 1 accepted, 0 not.
  int JavaInstall(std::u16string_view folder, std::u16string_view name);

 private:
  Transactions& session_;
};

}  // namespace kiv
