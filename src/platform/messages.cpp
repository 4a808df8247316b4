#include "platform/messages.hpp"

#include "platform/text.hpp"
#include "platform/window.hpp"

namespace kiv {

intptr_t SendReport(KivHwnd window, uint32_t code, uint32_t style, std::u16string_view text1,
                    std::u16string_view text2, float value) {
  if (!window) return 0;
  std::u16string t1(text1), t2(text2);
  KivReport report{style, AsKiv(t1.c_str()), AsKiv(t2.c_str()), value};
  return SendToWindow(window, kMsgReport, code, reinterpret_cast<intptr_t>(&report));
}

intptr_t SendProgress(KivHwnd window, const Progress& progress) {
  if (!window) return 0;
  KivProgress record{AsKiv(progress.text.c_str()), progress.itemCount, progress.bytesDone, progress.totalBytes,
                     progress.further,      progress.question,  progress.continuing};
  return SendToWindow(window, kMsgProgress, reinterpret_cast<uintptr_t>(&record), 0);
}

}  // namespace kiv
