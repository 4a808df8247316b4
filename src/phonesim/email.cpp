// The phone's e-mail service (packet class 0x26, big-endian numbers, UTF-16BE texts). It
// answers the capability request from its configured limits, takes a message's header,
// body and attachments in pieces of at most 1000 bytes ('B' for each full piece, 'A' for the
// last), and writes each complete message into the outbox folder as a MIME .eml file.
// Which header text is which (From, To, Cc, ...) is fixed in docs/wire.md.
#include <fcntl.h>
#include <gmime/gmime.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "phonesim/families.hpp"
#include "platform/text.hpp"

namespace phonesim {

struct MailPart {
  std::u16string name;
  uint32_t size = 0;
  std::vector<uint8_t> data;
};

struct MailSession {
  std::array<uint32_t, 5> values{};  // H1..H5
  std::array<std::u16string, 10> texts;  // T1..T10
  std::optional<MailPart> body;
  std::vector<MailPart> attachments;
  std::optional<MailPart> receiving;  // the file whose pieces are coming in
  bool receivingBody = false;
};

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kCapability = 0x10;
constexpr uint8_t kHeader = 0x13;
constexpr uint8_t kBodyStart = 0x14;
constexpr uint8_t kBodyPiece = 0x15;
constexpr uint8_t kAttachStart = 0x16;
constexpr uint8_t kAttachPiece = 0x17;

constexpr uint8_t kAccepted = 'A';
constexpr uint8_t kContinue = 'B';
constexpr uint8_t kDenied = 'D';
constexpr uint8_t kStatus = 'S';  // a status number follows

constexpr uint32_t kStatusWriteFailed = 0x102;

constexpr std::size_t kPiece = 1000;

// Indexes into the configured limits (the capability answer's order).
constexpr std::size_t kLimitMessage = 0;
constexpr std::size_t kLimitAttachments = 1;
constexpr std::size_t kLimitAttachment = 2;
constexpr std::size_t kLimitBody = 3;

class BigReader {
 public:
  explicit BigReader(std::span<const uint8_t> body) : body_(body) {}
  bool U32(uint32_t& v) {
    if (pos_ + 4 > body_.size()) return false;
    v = (uint32_t{body_[pos_]} << 24) | (uint32_t{body_[pos_ + 1]} << 16) | (uint32_t{body_[pos_ + 2]} << 8) |
        body_[pos_ + 3];
    pos_ += 4;
    return true;
  }
  bool Text(std::u16string& out) {
    out.clear();
    for (;;) {
      if (pos_ + 2 > body_.size()) return false;
      char16_t c = static_cast<char16_t>((body_[pos_] << 8) | body_[pos_ + 1]);
      pos_ += 2;
      if (c == 0) return true;
      out.push_back(c);
    }
  }
  bool AtEnd() const { return pos_ == body_.size(); }

 private:
  std::span<const uint8_t> body_;
  std::size_t pos_ = 0;
};

Packet Reply(const Packet& request, uint8_t code) {
  Packet answer;
  answer.cls = kMailClass;
  answer.code = code;
  answer.flag = 1;
  answer.seq = request.seq;
  return answer;
}

Packet StatusReply(const Packet& request, uint32_t status) {
  Packet answer = Reply(request, kStatus);
  for (int shift = 24; shift >= 0; shift -= 8) answer.body.push_back(static_cast<uint8_t>(status >> shift));
  return answer;
}

Packet Capability(const Phone& phone, const Packet& request) {
  Packet answer = Reply(request, kAccepted);
  for (uint32_t v : phone.config().mailLimits)
    for (int shift = 24; shift >= 0; shift -= 8) answer.body.push_back(static_cast<uint8_t>(v >> shift));
  return answer;
}

// A new header starts a new message; whatever came before and was not finished is dropped.
Packet Header(Phone& phone, const Packet& request) {
  phone.mail.reset();
  auto mail = std::make_shared<MailSession>();
  BigReader r(request.body);
  bool ok = true;
  for (int i = 0; i < 4; ++i) ok = ok && r.U32(mail->values[i]);
  for (int i = 0; i < 8; ++i) ok = ok && r.Text(mail->texts[i]);
  ok = ok && r.U32(mail->values[4]) && r.Text(mail->texts[8]) && r.Text(mail->texts[9]) && r.AtEnd();
  if (!ok || mail->values[2] > phone.config().mailLimits[kLimitAttachments]) return Reply(request, kDenied);
  phone.mail = std::move(mail);
  return Reply(request, kAccepted);
}

Packet Start(Phone& phone, const Packet& request, bool body) {
  MailSession* mail = phone.mail.get();
  if (!mail) return Reply(request, kDenied);
  mail->receiving.reset();
  const auto& limits = phone.config().mailLimits;
  // The body comes once, after the header; attachments after the body, as many as counted.
  if (body ? mail->body.has_value() : (!mail->body || mail->attachments.size() >= mail->values[2]))
    return Reply(request, kDenied);
  BigReader r(request.body);
  MailPart part;
  if (!r.Text(part.name) || !r.U32(part.size) || !r.AtEnd() || part.name.empty()) return Reply(request, kDenied);
  uint64_t total = part.size;
  if (mail->body) total += mail->body->size;
  for (const auto& a : mail->attachments) total += a.size;
  if (part.size > limits[body ? kLimitBody : kLimitAttachment] || total > limits[kLimitMessage])
    return Reply(request, kDenied);
  part.data.reserve(part.size);
  mail->receiving = std::move(part);
  mail->receivingBody = body;
  return Reply(request, kAccepted);
}

// Texts of the header as UTF-8; recipient lists may be separated by ";" or ",".
std::string Utf8(const std::u16string& text) { return kiv::U16ToUtf8(text); }

void AddAddresses(GMimeMessage* message, GMimeAddressType type, const std::u16string& text) {
  std::string list = Utf8(text);
  std::replace(list.begin(), list.end(), ';', ',');
  if (list.find_first_not_of(" ,") == std::string::npos) return;
  InternetAddressList* parsed = internet_address_list_parse(nullptr, list.c_str());
  if (!parsed) return;
  internet_address_list_append(g_mime_message_get_addresses(message, type), parsed);
  g_object_unref(parsed);
}

GMimePart* BinaryPart(const MailPart& part, const char* type, const char* subtype) {
  GMimePart* mime = g_mime_part_new_with_type(type, subtype);
  // GMime takes no buffer for an empty part: an empty stream stands for it.
  GMimeStream* stream = part.data.empty() ? g_mime_stream_mem_new()
                                          : g_mime_stream_mem_new_with_buffer(
                                                reinterpret_cast<const char*>(part.data.data()), part.data.size());
  GMimeDataWrapper* content = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
  g_mime_part_set_content(mime, content);
  g_object_unref(content);
  g_object_unref(stream);
  return mime;
}

// The next free outbox file name: message-0001.eml, message-0002.eml, ...
std::optional<fs::path> NextOutboxFile(const fs::path& outbox) {
  std::error_code ec;
  fs::create_directories(outbox, ec);
  for (int n = 1; n < 1000000; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "message-%04d.eml", n);
    fs::path path = outbox / name;
    if (!fs::exists(path, ec)) return path;
  }
  return std::nullopt;
}

bool WriteMessage(const Phone& phone, const MailSession& mail) {
  static std::once_flag init;
  std::call_once(init, [] { g_mime_init(); });

  std::unique_ptr<GMimeMessage, decltype(&g_object_unref)> message(g_mime_message_new(TRUE), &g_object_unref);
  AddAddresses(message.get(), GMIME_ADDRESS_TYPE_FROM, mail.texts[0]);
  AddAddresses(message.get(), GMIME_ADDRESS_TYPE_TO, mail.texts[1]);
  AddAddresses(message.get(), GMIME_ADDRESS_TYPE_CC, mail.texts[2]);
  AddAddresses(message.get(), GMIME_ADDRESS_TYPE_BCC, mail.texts[3]);
  AddAddresses(message.get(), GMIME_ADDRESS_TYPE_REPLY_TO, mail.texts[6]);
  g_mime_message_set_subject(message.get(), Utf8(mail.texts[4]).c_str(), "utf-8");
  GDateTime* date = nullptr;
  if (!mail.texts[5].empty()) date = g_mime_utils_header_decode_date(Utf8(mail.texts[5]).c_str());
  if (!date) date = g_date_time_new_now_local();
  g_mime_message_set_date(message.get(), date);
  g_date_time_unref(date);

  GMimeMultipart* multipart = g_mime_multipart_new_with_subtype("mixed");
  g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(multipart));
  g_object_unref(multipart);

  // The body: a UTF-8 text part, or an octet stream when its bytes are no UTF-8 text.
  const MailPart& body = *mail.body;
  GMimePart* text = nullptr;
  if (g_utf8_validate(reinterpret_cast<const char*>(body.data.data()), static_cast<gssize>(body.data.size()),
                      nullptr)) {
    text = BinaryPart(body, "text", "plain");
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(text), "charset", "utf-8");
    g_mime_part_set_content_encoding(text, g_mime_part_get_best_content_encoding(text, GMIME_ENCODING_CONSTRAINT_7BIT));
  } else {
    text = BinaryPart(body, "application", "octet-stream");
    g_mime_part_set_filename(text, Utf8(body.name).c_str());
    g_mime_part_set_content_encoding(text, GMIME_CONTENT_ENCODING_BASE64);
  }
  g_mime_multipart_add(multipart, GMIME_OBJECT(text));
  g_object_unref(text);

  for (const MailPart& a : mail.attachments) {
    GMimePart* part = BinaryPart(a, "application", "octet-stream");
    g_mime_object_set_disposition(GMIME_OBJECT(part), GMIME_DISPOSITION_ATTACHMENT);
    g_mime_part_set_filename(part, Utf8(a.name).c_str());
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_multipart_add(multipart, GMIME_OBJECT(part));
    g_object_unref(part);
  }

  fs::path outbox = phone.config().outbox.empty() ? phone.root() / "Outbox" : fs::path(phone.config().outbox);
  auto path = NextOutboxFile(outbox);
  if (!path) return false;
  GError* error = nullptr;
  GMimeStream* out = g_mime_stream_fs_open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644, &error);
  if (!out) {
    if (error) g_error_free(error);
    return false;
  }
  bool ok = g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), nullptr, out) >= 0 &&
            g_mime_stream_flush(out) == 0;
  g_object_unref(out);
  if (!ok) fs::remove(*path);
  return ok;
}

Packet Piece(Phone& phone, const Packet& request, bool body) {
  MailSession* mail = phone.mail.get();
  if (!mail || !mail->receiving || mail->receivingBody != body) return Reply(request, kDenied);
  MailPart& part = *mail->receiving;
  const bool last = request.body.size() < kPiece;
  // A piece over 1000 bytes, a last piece not marked as such, or more bytes than announced
  // ends the file as failed.
  if (request.body.size() > kPiece || (request.flag == 1) != last ||
      part.data.size() + request.body.size() > part.size) {
    mail->receiving.reset();
    return Reply(request, kDenied);
  }
  part.data.insert(part.data.end(), request.body.begin(), request.body.end());
  if (!last) return Reply(request, kContinue);
  if (part.data.size() != part.size) {
    mail->receiving.reset();
    return Reply(request, kDenied);
  }
  if (body) {
    mail->body = std::move(part);
  } else {
    mail->attachments.push_back(std::move(part));
  }
  mail->receiving.reset();
  if (mail->attachments.size() == mail->values[2]) {
    std::shared_ptr<MailSession> done = std::move(phone.mail);
    if (!WriteMessage(phone, *done)) return StatusReply(request, kStatusWriteFailed);
  }
  return Reply(request, kAccepted);
}

}  // namespace

std::optional<Packet> HandleEmailCommands(Phone& phone, const Packet& request) {
  if (request.cls != kMailClass) return std::nullopt;
  switch (request.code) {
    case kCapability: return Capability(phone, request);
    case kHeader: return Header(phone, request);
    case kBodyStart: return Start(phone, request, true);
    case kBodyPiece: return Piece(phone, request, true);
    case kAttachStart: return Start(phone, request, false);
    case kAttachPiece: return Piece(phone, request, false);
    default: return Reply(request, kDenied);
  }
}

}  // namespace phonesim
