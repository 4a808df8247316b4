// The MSXML engine's own paths: work files as the library stores them (UTF-8 with a byte order
// mark under the phone's UTF-16 declaration), other encodings, and documents with a DTD, which
// never load on Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "platform/text.hpp"
#include "xml/xml_parser.hpp"

namespace kiv {
namespace {

namespace fs = std::filesystem;

std::string Records(const XmlNodeList& list) {
  std::string out;
  for (const auto& r : list)
    out += U16ToUtf8(r.m_strName + u" " + r.m_strAttrName + u"=" + r.m_strAttrValue + u" '" + r.m_strText + u"';");
  return out;
}

TEST(MsxmlEngineTest, FilesLoadWhateverTheirEncodingOrFailWithAReason) {
  const std::string body = "<l><file name=\"\xC3\xA4 \xE2\x82\xAC\"/></l>";
  std::string utf16;  // UTF-16LE without a byte order mark
  for (char16_t c : Utf8ToU16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + body))
    utf16 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  const std::string records = "<l> = '';<file> name=\xC3\xA4 \xE2\x82\xAC '';";
  const std::pair<std::string, std::string> cases[] = {
      {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" + body, records},
      {utf16, records},
      {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><l><file name=\"\xE4 \x80\"/></l>", records},
      // Without a byte order mark a declared UTF-16 in 8-bit bytes is refused.
      {"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + body, ""},
      // An external DTD after a comment is refused before anything is fetched.
      {"<?xml version=\"1.0\"?><!-- c --><!DOCTYPE l SYSTEM \"http://127.0.0.1:9/l.dtd\"><l/>", ""},
  };
  const fs::path dir = fs::temp_directory_path() / ("kivmod-msxml-" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(dir);
  for (const auto& [bytes, expected] : cases) {
    std::ofstream(dir / "doc.xml", std::ios::binary | std::ios::trunc) << bytes;
    XML_PARSER parser;
    XmlNodeList list;
    const bool loaded = parser.Load_From_File(Utf8ToU16((dir / "doc.xml").string()), &list);
    EXPECT_EQ(loaded, !expected.empty()) << bytes << " " << U16ToUtf8(parser.Get_LoadErrorDetail());
    EXPECT_EQ(parser.Get_LoadErrorDetail().empty(), loaded);
    EXPECT_EQ(Records(list), expected) << bytes;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kiv
