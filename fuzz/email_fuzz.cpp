// Feeds scripted answers to the e-mail transfer: the capability answer first, then a whole
// message (header, body, attachments) or one file alone, in class 0x26 big-endian packets.
// The first bytes choose the operation, the attachment count and the files' lengths; the
// rest is the phone's script, whose answers carry their codes ('A', 'B', 'D', a status).
// Any crash, out-of-bounds access, leak or hang is a finding.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "answer_script.hpp"
#include "email/email_transfer.hpp"
#include "platform/text.hpp"
#include "scratch.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  fuzz::ScriptedAnswers& script = fuzz::InstalledScript();
  script.Load(data + 3, size - 3, true);
  const fuzz::ScratchFolder scratch("kivmod-email-fuzz");
  // Lengths around the 1000-byte piece: empty, one short piece, whole pieces and a rest.
  const std::size_t bodyLength = data[1] * 8u, attachLength = data[2] * 8u;
  std::ofstream(scratch / "body.txt", std::ios::binary) << std::string(bodyLength, 'b');
  std::ofstream(scratch / "a.bin", std::ios::binary) << std::string(attachLength, 'a');
  const std::u16string folder = kiv::Utf8ToU16(scratch.path().string());

  kiv::CEmailTransfer mail;
  mail.Connect(nullptr, 0, 1, u"", 115200, 1);
  mail.GetEmailDBInfo();
  switch (data[0] % 3) {
    case 0: {
      kiv::EmailHeader header;
      header.values = {1, 2, static_cast<uint32_t>(data[0] / 3 % 4), 4};
      header.texts[0] = u"me@example.org";
      header.texts[1] = u"you@example.org";
      header.texts[4] = std::u16string(data[1], u'\u00e9');
      header.texts[7] = u"a.bin;a.bin;;missing.bin";
      header.bodyName = u"body.txt";
      mail.SendEmail(header, folder, folder);
      break;
    }
    case 1:
      mail.SendEmailBody(u"body.txt", folder);
      break;
    default:
      mail.SendEmailAttachFile(u"a.bin", folder);
      break;
  }
  return 0;
}
