// An e-mail with a large attachment through the in-process simulated phone, in one run
// beside the bare exchange of the same 1000-byte pieces (raw packets of class 0x26 from
// memory, no file, no e-mail object) onto the same phone. Both end with the phone writing
// the message into its outbox. Prints MB/s of attachment bytes and the ratio.
//
//   email_bench [MiB]     (default 10)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "email/email_transfer.hpp"
#include "kivmod/kivmod.h"
#include "link/phone_link.hpp"
#include "null_link.hpp"
#include "phonesim/phone.hpp"
#include "phonesim/sim_channel.hpp"
#include "protocol/codec.hpp"

namespace {

namespace fs = std::filesystem;

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One raw request and its answer code; 0 when none came.
uint8_t Exchange(kiv::PhoneLink& link, uint8_t code, int32_t flag, const uint8_t* body, std::size_t length) {
  kiv::CGenPacket request(kiv::kEmailClass, code, flag, link.GetNextSeqNum(), 0, body,
                          static_cast<uint16_t>(length));
  static kiv::CGenPacket answer;  // its storage serves every answer
  if (!link.PktSend(request) || link.PktRead(answer) != 1) return 0;
  return answer.GetCode();
}

// The same message as raw packets: header, an empty body, the attachment from memory.
bool Bare(kiv::PhoneLink& link, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> body;
  kiv::Pack(body, 0, "dddduuuuuuuuduu",
            {0u, 0u, 1u, 0u, u"", u"bob@example.org", u"", u"", u"bench", u"", u"", u"big.bin", 0u, u"body.txt", u""},
            kiv::ByteOrder::kBig);
  if (Exchange(link, 0x13, 1, body.data(), body.size()) != 'A') return false;
  kiv::Pack(body, 0, "ud", {u"body.txt", 0u}, kiv::ByteOrder::kBig);
  if (Exchange(link, 0x14, 1, body.data(), body.size()) != 'A' || Exchange(link, 0x15, 1, nullptr, 0) != 'A')
    return false;
  kiv::Pack(body, 0, "ud", {u"big.bin", static_cast<uint32_t>(data.size())}, kiv::ByteOrder::kBig);
  if (Exchange(link, 0x16, 1, body.data(), body.size()) != 'A') return false;
  for (std::size_t offset = 0;; offset += 1000) {
    const std::size_t n = std::min<std::size_t>(1000, data.size() - offset);
    const uint8_t code = Exchange(link, 0x17, n < 1000 ? 1 : 0, data.data() + offset, n);
    if (n < 1000) return code == 'A';
    if (code != 'B') return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10;
  const fs::path top = fs::temp_directory_path() / ("kivmod-email-bench-" + std::to_string(::getpid()));
  fs::create_directories(top / "pc");
  std::vector<uint8_t> data(mib << 20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
  std::ofstream(top / "pc" / "big.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  std::ofstream(top / "pc" / "body.txt") << "";

  phonesim::Config config;
  config.mailLimits[2] = 1u << 30;  // attachment size
  config.mailLimits[0] = 1u << 30;  // message size
  auto phone = std::make_shared<phonesim::Phone>(top / "phone", config);
  auto link = std::make_shared<kivtest::SimLink>(phone);
  kiv::InstallLink(link);

  Kiv_EmailTrans_Initialize();
  if (Kiv_EmailTrans_Connect(nullptr, 0, 1, nullptr, 115200, 1) != 1 || Kiv_EmailTrans_GetEmailDBInfo() != 1) {
    std::fprintf(stderr, "no e-mail session\n");
    return 1;
  }
  const std::u16string folder = (top / "pc").u16string();
  KivEmailHeader h{};
  h.attachmentCount = 1;
  h.text2 = u"bob@example.org";
  h.text5 = u"bench";
  h.attachments = u"big.bin";
  h.bodyName = u"body.txt";

  double best[2] = {1e9, 1e9};
  for (int round = 0; round < 5; ++round) {
    double t = Now();
    if (Kiv_EmailTrans_SendEmail(&h, folder.c_str(), folder.c_str()) != KIV_EMAIL_ACCEPTED) {
      std::fprintf(stderr, "the library's send failed\n");
      return 1;
    }
    best[0] = std::min(best[0], Now() - t);
    t = Now();
    if (!Bare(*link, data)) {
      std::fprintf(stderr, "the bare exchange failed\n");
      return 1;
    }
    best[1] = std::min(best[1], Now() - t);
  }
  const double mb = static_cast<double>(data.size()) / 1e6;
  std::printf("e-mail with a %zu MiB attachment through the in-process simulated phone (best of 5, .eml written)\n",
              mib);
  std::printf("  library (Kiv_EmailTrans_SendEmail)   %8.1f MB/s\n", mb / best[0]);
  std::printf("  bare exchange of 1000-byte pieces    %8.1f MB/s\n", mb / best[1]);
  std::printf("  ratio library / bare                 %8.2f\n", best[1] / best[0]);
  kiv::InstallLink(nullptr);
  std::error_code ec;
  fs::remove_all(top, ec);
  return 0;
}
