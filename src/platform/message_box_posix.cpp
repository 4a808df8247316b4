// Off Windows there is no system message box: the text goes to standard error.
#include <cstdio>

#include "platform/message_box.hpp"
#include "platform/text.hpp"

namespace kiv {

void ShowSystemMessageBox(std::u16string_view text, std::u16string_view caption) {
  std::fprintf(stderr, "%s: %s\n", U16ToUtf8(caption).c_str(), U16ToUtf8(text).c_str());
}

}  // namespace kiv
