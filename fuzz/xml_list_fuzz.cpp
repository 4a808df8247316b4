// Feeds arbitrary documents to the XML wrapper (from memory, as UTF-8 text) or to the
// file-list reader (from a file, as the work file TempXML would hold them) as a folder list
// or a sound list. The input's length picks one of the three, so that an execution costs
// one parse and a mutation that adds or drops a byte moves the same document to another.
// Any crash, out-of-bounds read, leak or hang is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/text.hpp"
#include "xml/xml_file_list.hpp"
#include "xml/xml_parser.hpp"
#include "scratch.hpp"

namespace {

const std::string& ListPath() {
  static const std::string path = fuzz::ScratchPath("kivmod-xml-fuzz") + ".xml";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kiv::XmlLimits limits;
  limits.maxNodes = 20000;
  limits.maxDepth = 64;

  const std::size_t way = size % 3;
  if (way == 0) {
    kiv::XML_PARSER parser;
    parser.Set_Limits(limits);
    kiv::XmlNodeList records;
    parser.Load_From_Buffer(kiv::Utf8ToU16(bytes), &records);
    return 0;
  }
  if (std::FILE* f = std::fopen(ListPath().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  kiv::CXmlFileList list;
  list.SetLimits(limits);
  auto ignore = [](kiv::XML_FILE_ITEM&) {};
  const std::u16string path = kiv::Utf8ToU16(ListPath());
  if (way == 1) list.VisitFolderList(path, ignore);
  else list.VisitSoundList(path, ignore);
  // Each input's file goes with it, so that a run leaves nothing behind.
  std::remove(ListPath().c_str());
  return 0;
}
