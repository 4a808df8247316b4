// Feeds arbitrary documents to the XML wrapper (from memory, as UTF-8 text) and to the
// file-list reader (from a file, as the work file TempXML would hold them), both parses.
// Any crash, out-of-bounds read, leak or hang is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/text.hpp"
#include "xml/xml_file_list.hpp"
#include "xml/xml_parser.hpp"

namespace {

const std::string& ListPath() {
  static const std::string path = "/tmp/kivmod-xml-fuzz-" + std::to_string(::getpid()) + ".xml";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kiv::XmlLimits limits;
  limits.maxNodes = 20000;
  limits.maxDepth = 64;

  kiv::XML_PARSER parser;
  parser.Set_Limits(limits);
  kiv::XmlNodeList records;
  parser.Load_From_Buffer(kiv::Utf8ToU16(bytes), &records);

  if (std::FILE* f = std::fopen(ListPath().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  const std::u16string path = kiv::Utf8ToU16(ListPath());
  for (bool sound : {false, true}) {
    kiv::CXmlFileList list;
    list.SetLimits(limits);
    if (!list.Load(path)) continue;
    kiv::XmlFileItems items;
    if (sound) list.ParseSoundList(items);
    else list.ParseFolderList(items);
  }
  // Each input's file goes with it, so that a run leaves nothing in /tmp.
  std::remove(ListPath().c_str());
  return 0;
}
