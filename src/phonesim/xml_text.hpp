// Text written into the XML documents that the simulated phone sends (folder listings, the
// sound list).
#pragma once

#include <string>
#include <string_view>

namespace phonesim {

// Appends text as attribute content: the five XML escapes, tab and line ends as character
// references (so that a reader's attribute normalisation keeps them), and the other control
// characters, which XML cannot carry, left out.
inline void AppendEscaped(std::u16string& out, std::u16string_view text) {
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      case u'\'': out += u"&apos;"; break;
      case u'\t': out += u"&#9;"; break;
      case u'\n': out += u"&#10;"; break;
      case u'\r': out += u"&#13;"; break;
      default:
        if (c >= 0x20) out.push_back(c);
    }
  }
}

}  // namespace phonesim
