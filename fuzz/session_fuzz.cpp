// Feeds arbitrary answer bodies to the session's answer readers (handshake, root folders)
// and to the codec's Unpack. Any crash, out-of-bounds read or hang is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "filemanager/record_lists.hpp"
#include "null_link.hpp"
#include "protocol/codec.hpp"
#include "protocol/pfileman.hpp"

namespace {

// Answers every request with the bytes under test.
class OneAnswerLink : public kivtest::NullLink {
 public:
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  int PktRead(kiv::CGenPacket& answer) override {
    answer.SetHeader(0x20, 0x01, 1, 1);
    answer.MutableBody().assign(data, data + size);
    return 1;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1 || size > 65536) return 0;
  static auto link = std::make_shared<OneAnswerLink>();
  static bool installed = (kiv::InstallLink(link), true);
  (void)installed;
  link->data = data + 1;
  link->size = size - 1;
  kiv::CPFileMan protocol;
  switch (data[0] % 3) {
    case 0: {
      uint32_t packet = 0;
      kiv::MemoryRecord internal, external;
      std::u16string name;
      kiv::TypeArray types;
      protocol.OpenSession({}, packet, internal, external, name, types);
      break;
    }
    case 1: {
      std::vector<kiv::RootFolderEntry> folders;
      std::u16string list;
      protocol.GetRootFolders(folders, list);
      break;
    }
    default: {
      uint8_t b;
      uint16_t w;
      uint32_t d;
      std::string s, u;
      kiv::Unpack({data + 1, size - 1}, "bwdsu", {&b, &w, &d, &s, &u});
      break;
    }
  }
  return 0;
}
