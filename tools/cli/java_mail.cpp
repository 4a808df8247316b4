#include "java_mail.hpp"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "system.hpp"
#include "text.hpp"

namespace cli {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kCableMethod = 1;
constexpr int32_t kBluetoothMethod = 0x17;
constexpr uint32_t kNoticeMessage = 0x8100;

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "kivmod: %s\nrun 'kivmod --help' for the commands and options\n", problem.c_str());
  return kExitUsage;
}

void UseLink(const LinkOptions& link) {
  if (!link.link.empty()) SetEnv("KIVMOD_LINK", link.link, true);
}

// Splits "--name VALUE" / "--name=VALUE" options (each may repeat) from the plain arguments.
struct Parsed {
  std::vector<std::string> plain;
  std::multimap<std::string, std::string> values;
  std::string error;
  std::string Last(const std::string& name) const {
    auto range = values.equal_range(name);
    return range.first == range.second ? std::string() : std::prev(range.second)->second;
  }
  std::vector<std::string> All(const std::string& name) const {
    std::vector<std::string> out;
    for (auto [it, end] = values.equal_range(name); it != end; ++it) out.push_back(it->second);
    return out;
  }
};

Parsed Parse(const std::vector<std::string>& args, std::initializer_list<const char*> names, LinkOptions& link) {
  Parsed p;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 3 || a.compare(0, 2, "--") != 0) {
      p.plain.push_back(a);
      continue;
    }
    std::string name = a.substr(0, a.find('=')), value;
    bool known = name == "--link";
    for (const char* n : names) known = known || name == n;
    if (!known) {
      p.error = "unknown option " + name;
      return p;
    }
    if (a.find('=') != std::string::npos) {
      value = a.substr(a.find('=') + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      p.error = name + " needs a value";
      return p;
    }
    if (name == "--link") {
      link.link = value;
    } else {
      p.values.emplace(name, value);
    }
  }
  return p;
}

// ---- Java ----

// MIDlet-Name and MIDlet-Version of a JAR's manifest or a JAD's text; empty when unreadable
// (why says so when it is not the file's fault).
std::pair<std::string, std::string> MidletOf(const fs::path& path, std::string& why) {
  std::string text;
  std::string ext = path.extension().string();
  if (SameNoCase(ext, ".jad")) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
  } else if (!JarManifest(path, text, why)) {
    return {};
  }
  std::pair<std::string, std::string> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto value = [&](const char* key) {
      std::string k = std::string(key) + ":";
      if (line.compare(0, k.size(), k) != 0) return false;
      return true;
    };
    auto trimmed = [&] {
      std::string v = line.substr(line.find(':') + 1);
      v.erase(0, v.find_first_not_of(" \t"));
      return v;
    };
    if (value("MIDlet-Name")) out.first = trimmed();
    if (value("MIDlet-Version")) out.second = trimmed();
  }
  return out;
}

int JavaConnect(Host& host, const LinkOptions& link) {
  UseLink(link);
  Kiv_JavaInstaller_Initalize(host.Window());
  if (Kiv_Java_Connect(link.port, host.Window(), kCableMethod) == 1) return kExitOk;
  Complain("could not connect to the phone (check the cable, --port or --link)");
  return kExitConnect;
}

int JavaInstall(Host& host, const fs::path& file, const std::string& folder) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec) {
    Complain("cannot read " + file.string());
    return kExitNotFound;
  }
  const std::string name = file.filename().string();
  const KivText name16 = Utf16(name), folder16 = Utf16(PhonePath(folder)), path16 = Utf16(file.string());
  host.BeginTransfer("put", {{name, static_cast<int64_t>(size)}}, PhonePath(folder));
  const int32_t sent = Kiv_Java_SendFile(name16.c_str(), path16.c_str(), folder16.c_str(), host.Window());
  host.EndTransfer(sent == 1);
  if (sent == -9 || Cancelled()) return kExitCancelled;
  if (sent == -6) {
    Complain("not enough free space in " + folder + " for " + name);
    return kExitFailed;
  }
  if (sent != 1) {
    if (host.reports == 0) Complain("the phone did not take " + name);
    return kExitFailed;
  }
  if (Kiv_Java_InstallCommand(folder16.c_str(), name16.c_str()) != 1) {
    Complain("the phone did not install " + name + " (not a Java application it accepts?)");
    return kExitFailed;
  }
  std::string why;
  auto [midlet, version] = MidletOf(file, why);
  if (!why.empty() && !Quiet()) std::fprintf(stderr, "kivmod: note: %s\n", why.c_str());
  std::printf("installed %s%s%s\n", midlet.empty() ? name.c_str() : midlet.c_str(), version.empty() ? "" : " ",
              version.c_str());
  return kExitOk;
}

// Asks the phone about folder/name: 1 it holds held bytes of it, 0 it has no such file, -1
// no usable answer.
int JavaHeld(const std::string& name, uint32_t size, const std::string& folder, uint32_t& held) {
  const KivText name16 = Utf16(name), folder16 = Utf16(PhonePath(folder));
  uint8_t result = 0;
  if (Kiv_Java_IsFileExist(0, folder16.c_str(), name16.c_str(), size, &held, &result) == 1) return 1;
  return result ? 0 : -1;
}

}  // namespace

int RunJava(const std::vector<std::string>& args, const LinkOptions& linkIn) {
  LinkOptions link = linkIn;
  Parsed p = Parse(args, {"--folder"}, link);
  if (!p.error.empty()) return UsageError("java: " + p.error);
  if (link.bluetooth) return UsageError("java works over the cable or --link only");
  if (p.plain.size() != 2 || (p.plain[0] != "install" && p.plain[0] != "check" && p.plain[0] != "rm"))
    return UsageError("usage: kivmod java install|check FILE [--folder PHONEDIR], kivmod java rm NAME");
  const std::string folder = p.values.count("--folder") ? p.Last("--folder") : "Java";
  const std::string& verb = p.plain[0];
  CancelHandlerScope cancelHandler;
  Host host;
  int result = JavaConnect(host, link);
  if (result != kExitOk) return result;
  if (verb == "install") {
    result = JavaInstall(host, PcPath(p.plain[1]), folder);
  } else if (verb == "check") {
    std::error_code ec;
    const auto size = fs::file_size(PcPath(p.plain[1]), ec);
    if (ec) {
      Complain("cannot read " + p.plain[1]);
      result = kExitNotFound;
    } else {
      const std::string name = PcPath(p.plain[1]).filename().string();
      uint32_t held = 0;
      const int known = JavaHeld(name, static_cast<uint32_t>(size), folder, held);
      if (known == 1) {
        std::printf("%s: on the phone, %u of %llu bytes\n", name.c_str(), held, static_cast<unsigned long long>(size));
        result = held == size ? kExitOk : kExitNotFound;
      } else {
        if (known == 0) std::printf("%s: not on the phone\n", name.c_str());
        if (known < 0) Complain("the phone did not answer about " + name);
        result = known == 0 ? kExitNotFound : kExitFailed;
      }
    }
  } else {
    const std::string name = p.plain[1];
    uint32_t held = 0;
    const int known = JavaHeld(name, 0, folder, held);
    if (known != 1) {
      Complain(known == 0 ? "no " + name + " in " + folder + " on the phone" : "the phone did not answer about " + name);
      result = known == 0 ? kExitNotFound : kExitFailed;
    } else {
      const KivText name16 = Utf16(name), folder16 = Utf16(PhonePath(folder));
      Kiv_Java_DeleteFile(folder16.c_str(), name16.c_str());
      std::printf("deleted %s/%s\n", folder.c_str(), name.c_str());
    }
  }
  Kiv_Java_DisConnect();
  if (result == kExitCancelled) Complain("cancelled");
  return result;
}

// ---- E-mail ----

namespace {

struct MailNotices {
  std::vector<std::string> attachments;
  std::string body;
};

intptr_t NoticeProc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (msg != kNoticeMessage) return 0;
  auto* n = static_cast<MailNotices*>(user);
  auto attachment = [&] {
    return lParam >= 0 && static_cast<std::size_t>(lParam) < n->attachments.size() ? n->attachments[lParam] : "?";
  };
  switch (wParam) {
    case KIV_EMAIL_HEADER_ACCEPTED: std::fprintf(stderr, "header: accepted\n"); break;
    case KIV_EMAIL_HEADER_FAILED: std::fprintf(stderr, "header: failed\n"); break;
    case KIV_EMAIL_BODY_ACCEPTED: std::fprintf(stderr, "body %s: sent\n", n->body.c_str()); break;
    case KIV_EMAIL_BODY_FAILED: std::fprintf(stderr, "body %s: failed\n", n->body.c_str()); break;
    case KIV_EMAIL_ATTACH_START:
      std::fprintf(stderr, "attachment %ld/%zu %s: sending\n", static_cast<long>(lParam) + 1, n->attachments.size(),
                   attachment().c_str());
      break;
    case KIV_EMAIL_ATTACH_ACCEPTED:
      std::fprintf(stderr, "attachment %ld/%zu %s: sent\n", static_cast<long>(lParam) + 1, n->attachments.size(),
                   attachment().c_str());
      break;
    case KIV_EMAIL_ATTACH_FAILED:
      std::fprintf(stderr, "attachment %ld/%zu %s: failed\n", static_cast<long>(lParam) + 1, n->attachments.size(),
                   attachment().c_str());
      break;
    default: break;
  }
  return 0;
}

std::string StatusSentence(int32_t status) {
  switch (status) {
    case KIV_EMAIL_ACCEPTED: return "accepted";
    case KIV_EMAIL_NOT_SENT: return "not sent (no answer, an unreadable file, or a header over the phone's limits)";
    case KIV_EMAIL_CANCELLED: return "cancelled";
    case 0: return "the phone answered in another protocol";
    case 0x44: return "refused by the phone";
    default: return "refused by the phone with status " + std::to_string(status);
  }
}

int MailConnect(const LinkOptions& link) {
  UseLink(link);
  Kiv_EmailTrans_Initialize();
  KivText address;
  if (link.bluetooth) {
    char hex[13];
    std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X%02X%02X", link.address[0], link.address[1], link.address[2],
                  link.address[3], link.address[4], link.address[5]);
    address = Utf16(hex);
  }
  const int32_t method = link.bluetooth ? kBluetoothMethod : kCableMethod;
  if (Kiv_EmailTrans_Connect(nullptr, method, link.port, address.c_str(), 115200, 0) == 1) return kExitOk;
  Complain("could not connect to the phone (check the cable, --port, --bt or --link)");
  return kExitConnect;
}

std::string MailDate() { return MailTime(std::time(nullptr)); }

// Stands the attachments side by side in one folder (the library sends them from one):
// their own folder when they share it, else links in a temporary folder.
struct AttachmentFolder {
  fs::path folder;
  fs::path temporary;
  ~AttachmentFolder() {
    std::error_code ec;
    if (!temporary.empty()) fs::remove_all(temporary, ec);
  }
};

bool Gather(const std::vector<fs::path>& files, AttachmentFolder& out, std::string& error) {
  if (files.empty()) return true;
  fs::path shared = fs::absolute(files[0]).parent_path();
  bool same = true;
  for (const auto& f : files) same = same && fs::absolute(f).parent_path() == shared;
  if (same) {
    out.folder = shared;
    return true;
  }
  std::error_code ec;
  const fs::path temporary = MakeUniqueFolder(fs::temp_directory_path(ec), "kivmod-mail-");
  if (temporary.empty()) {
    error = "cannot make a temporary folder";
    return false;
  }
  out.temporary = out.folder = temporary;
  for (const auto& f : files) {
    PlaceFile(fs::absolute(f), out.folder / f.filename(), ec);
    if (ec) {
      error = "two attachments are named " + f.filename().string();
      return false;
    }
  }
  return true;
}

int MailLimits() {
  if (Kiv_EmailTrans_GetEmailDBInfo() != 1) {
    Complain("the phone did not tell its e-mail limits");
    return kExitFailed;
  }
  uint32_t v[27] = {};
  Kiv_EmailTrans_GetEmailInfo(v);
  static const char* const kLabels[27] = {
      "largest message (bytes)", "attachments per message", "largest attachment (bytes)", "largest body (bytes)",
      "outbox capacity (messages)", "messages in the outbox", "(not used)", "(not used)", "value 9", "value 10",
      "value 11", "value 12", "recipients (To)", "bytes per To address", "recipients (Cc)", "bytes per Cc address",
      "recipients (Bcc)", "bytes per Bcc address", "attachment names", "bytes per attachment name", "subjects",
      "bytes per subject", "bytes of the sender", "bytes of the date", "bytes of the reply address", "value 26",
      "value 27"};
  for (int i = 0; i < 27; ++i) std::printf("%2d  %-28s %u\n", i + 1, kLabels[i], v[i]);
  uint64_t b = uint64_t{v[12]} * v[13] + uint64_t{v[14]} * v[15] + uint64_t{v[16]} * v[17] +
               uint64_t{v[18]} * v[19] + uint64_t{v[20]} * v[21] + v[22] + v[23] + v[24] + 528;
  std::printf("header buffer: %llu bytes\n", static_cast<unsigned long long>(b));
  return kExitOk;
}

int MailSend(const Parsed& p) {
  const std::vector<std::string> to = p.All("--to"), cc = p.All("--cc"), attach = p.All("--attach");
  const std::string body = p.Last("--body");
  if (to.empty() || body.empty() || !p.values.count("--subject"))
    return UsageError("mail send needs --to ADDR, --subject TEXT and --body FILE");
  auto join = [](const std::vector<std::string>& list) {
    std::string out;
    for (const auto& a : list) out += (out.empty() ? "" : "; ") + a;
    return out;
  };
  std::vector<fs::path> files;
  for (const auto& a : attach) files.push_back(PcPath(a));
  MailNotices notices;
  std::string names;
  for (const auto& f : files) {
    const std::string name = f.filename().string();
    if (name.find(';') != std::string::npos) return UsageError("an attachment's name may not hold \";\": " + name);
    notices.attachments.push_back(name);
    names += (names.empty() ? "" : ";") + name;
  }
  const fs::path bodyPath = fs::absolute(PcPath(body));
  notices.body = bodyPath.filename().string();
  AttachmentFolder folder;
  std::string error;
  if (!Gather(files, folder, error)) {
    Complain(error);
    return kExitFailed;
  }
  // The header texts: sender, To, Cc, Bcc, subject, date, reply address (docs/wire.md).
  const KivText from = Utf16(p.Last("--from")), to16 = Utf16(join(to)), cc16 = Utf16(join(cc)),
                       subject = Utf16(p.Last("--subject")), date = Utf16(MailDate()), names16 = Utf16(names),
                       body16 = Utf16(notices.body), bodyFolder = Utf16(bodyPath.parent_path().string()),
                       attachFolder = Utf16(folder.folder.string()), empty;
  KivEmailHeader h{};
  h.attachmentCount = static_cast<uint32_t>(files.size());
  h.text1 = from.c_str();
  h.text2 = to16.c_str();
  h.text3 = cc16.c_str();
  h.text4 = empty.c_str();
  h.text5 = subject.c_str();
  h.text6 = date.c_str();
  h.text7 = empty.c_str();
  h.attachments = names16.c_str();
  h.bodyName = body16.c_str();
  h.text10 = empty.c_str();

  if (Kiv_EmailTrans_GetEmailDBInfo() != 1) {
    Complain("the phone did not tell its e-mail limits");
    return kExitFailed;
  }
  KivHwnd window = Kiv_CreateWindow(&NoticeProc, &notices);
  Kiv_EmailTrans_SetMsgWnd(window);
  Kiv_EmailTrans_SetMsgID(kNoticeMessage);
  const int32_t status = Kiv_EmailTrans_SendEmail(&h, bodyFolder.c_str(), attachFolder.c_str());
  Kiv_EmailTrans_SetMsgWnd(nullptr);
  Kiv_DestroyWindow(window);
  if (status == KIV_EMAIL_ACCEPTED) {
    std::printf("sent to %s\n", join(to).c_str());
    return kExitOk;
  }
  if (status == KIV_EMAIL_CANCELLED) return kExitCancelled;
  Complain("message " + StatusSentence(status));
  return kExitFailed;
}

}  // namespace

int RunMail(const std::vector<std::string>& args, const LinkOptions& linkIn) {
  LinkOptions link = linkIn;
  Parsed p = Parse(args, {"--to", "--cc", "--from", "--subject", "--body", "--attach"}, link);
  if (!p.error.empty()) return UsageError("mail: " + p.error);
  const bool send = p.plain.size() == 1 && p.plain[0] == "send";
  const bool limits = p.plain.size() == 1 && p.plain[0] == "limits" && p.values.empty();
  if (!send && !limits)
    return UsageError("usage: kivmod mail send --to ADDR [--cc ADDR] --subject TEXT --body FILE [--attach FILE]...,"
                      " kivmod mail limits");
  CancelHandlerScope cancelHandler;
  int result = MailConnect(link);
  if (result != kExitOk) return result;
  result = send ? MailSend(p) : MailLimits();
  Kiv_EmailTrans_Disconnect(0);
  if (result == kExitCancelled) Complain("cancelled");
  return result;
}

}  // namespace cli
