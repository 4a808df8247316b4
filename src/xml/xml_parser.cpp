#include "xml/xml_parser.hpp"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/SAX2.h>
#include <libxml/xmlerror.h>

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <cstdint>
#include <utility>
#include <mutex>

#include "platform/local_names.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"

namespace kiv {
namespace {

constexpr std::size_t kNameCacheSize = 32;

// Network access off; no DTD loading, no entity substitution (neither option is given), so
// external entities are never fetched and internal ones stay references. Parser messages
// go to the last error, not to standard error. libxml2's own hard limits (no
// XML_PARSE_HUGE) stay in force behind ours.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::string_view View(const xmlChar* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

std::string_view View(const xmlChar* text, int length) {
  return std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
}

struct DocumentFile {
  struct Close {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<char[]> buffer;  // declared before the stream: freed after it is closed
  std::unique_ptr<std::FILE, Close> stream;
  std::size_t limit = 0;
  std::size_t read = 0;
  bool failed = false;

  static int Read(void* context, char* into, int length) {
    auto& file = *static_cast<DocumentFile*>(context);
    const std::size_t got = std::fread(into, 1, static_cast<std::size_t>(length), file.stream.get());
    file.read += got;
    if ((got == 0 && std::ferror(file.stream.get())) || file.read > file.limit) {
      file.failed = true;
      return -1;
    }
    return static_cast<int>(got);
  }
};

void InitLibxml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

bool IsBlank(std::string_view text) {
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
  return true;
}

// A character reference's code ("#65", "#x41"); 0 when it is not one.
uint32_t CharacterReference(std::string_view ref) {
  if (ref.size() < 2 || ref[0] != '#') return 0;
  const bool hex = ref[1] == 'x';
  std::string_view digits = ref.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return 0;
  uint32_t code = 0;
  for (char c : digits) {
    int d = c >= '0' && c <= '9' ? c - '0' : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10 : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return 0;
    code = code * (hex ? 16 : 10) + static_cast<uint32_t>(d);
  }
  return code <= 0x10FFFF ? code : 0;
}

char PredefinedEntity(std::string_view name) {
  if (name == "lt") return '<';
  if (name == "gt") return '>';
  if (name == "amp") return '&';
  if (name == "apos") return '\'';
  if (name == "quot") return '"';
  return 0;
}

// An attribute's value as written, an entity reference kept as "&name;" instead of being
// expanded. Without entity substitution libxml2 hands over a value that holds a reference as
// its own NUL-terminated copy, with references kept and a literal ampersand written "&#38;";
// any other value is a slice of the input, ending at its quote.
void AssignAttributeValue(const xmlChar* value, const xmlChar* end, std::u16string& out) {
  std::string_view raw(reinterpret_cast<const char*>(value), static_cast<std::size_t>(end - value));
  if (*end != 0 || raw.find('&') == std::string_view::npos) return AssignUtf8(raw, out);
  std::string decoded;
  decoded.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size();) {
    const std::size_t amp = raw.find('&', i);
    decoded.append(raw.substr(i, amp - i));
    if (amp == std::string_view::npos) break;
    const std::size_t semi = raw.find(';', amp);
    if (semi == std::string_view::npos) {
      decoded.append(raw.substr(amp));
      break;
    }
    const std::string_view ref = raw.substr(amp + 1, semi - amp - 1);
    if (uint32_t code = CharacterReference(ref)) AppendUtf8(decoded, code);
    else if (char c = PredefinedEntity(ref)) decoded += c;
    else decoded.append(raw.substr(amp, semi - amp + 1));
    i = semi + 1;
  }
  AssignUtf8(decoded, out);
}

}  // namespace

// Reads a document from libxml2's SAX callbacks and hands every node to the parser as it
// comes, while counting nodes and nesting and stopping at the first limit crossed. The
// content of an entity is parsed by libxml2 in a context of its own, on the first
// reference; those callbacks go to libxml2's own tree builders, so the entity keeps its
// content and is not parsed again for every later reference.
struct XML_PARSER::Events {
  enum class Pending { None, Text, Cdata };

  Events(XML_PARSER& p, xmlParserCtxtPtr context, const XmlLimits& l) : parser(p), main(context), limits(l) {}

  XML_PARSER& parser;
  xmlParserCtxtPtr main;
  xmlSAXHandler builders{};  // libxml2's handlers as the context came, for entity content
  XmlLimits limits;
  std::size_t nodes = 0;
  int depth = 0;
  std::string overLimit;  // non-empty once a limit stopped the parse
  // Character data not yet visited: libxml2 hands a text over in pieces, and adjacent CDATA
  // sections make one node.
  std::string text;
  Pending pending = Pending::None;
  std::u16string leafText;

  static Events& Of(void* ctx) { return *static_cast<Events*>(static_cast<xmlParserCtxtPtr>(ctx)->_private); }

  void Stop(void* ctx, std::string why) {
    if (overLimit.empty()) overLimit = std::move(why);
    xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
    if (ctx != main) xmlStopParser(main);
  }
  bool Count(void* ctx, std::size_t n) {
    nodes += n;
    if (nodes <= limits.maxNodes) return true;
    Stop(ctx, "more than " + std::to_string(limits.maxNodes) + " nodes");
    return false;
  }
  void Flush() {
    const Pending kind = std::exchange(pending, Pending::None);
    if (kind == Pending::None) return;
    // Blank text between elements is layout, not content.
    if (kind == Pending::Text && IsBlank(text)) {
      text.clear();
      return;
    }
    AssignUtf8(text, leafText);
    parser.VisitLeaf(kind == Pending::Text ? u"#TEXT#" : u"#CDATA#", leafText);
    text.clear();
  }
  void Gather(Pending kind, const xmlChar* chars, int length) {
    if (pending != kind) Flush();
    pending = kind;
    text.append(View(chars, length));
  }

  static void StartDocument(void* ctx) {
    Events& e = Of(ctx);
    if (e.builders.startDocument) e.builders.startDocument(ctx);
    if (ctx == e.main) e.parser.VisitDocument();
  }
  static void StartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                           int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int nbDefaulted,
                           const xmlChar** attributes) {
    Events& e = Of(ctx);
    if (++e.depth > e.limits.maxDepth) {
      e.Stop(ctx, "elements nested deeper than " + std::to_string(e.limits.maxDepth));
      return;
    }
    if (!e.Count(ctx, 1 + static_cast<std::size_t>(nbAttributes) + static_cast<std::size_t>(nbNamespaces))) return;
    if (ctx != e.main) {
      e.builders.startElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes, nbDefaulted,
                                attributes);
      return;
    }
    e.Flush();
    e.parser.OpenElement(prefix, localname, nbNamespaces, namespaces, nbAttributes, attributes);
  }
  static void EndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    Events& e = Of(ctx);
    --e.depth;
    if (ctx != e.main) {
      e.builders.endElementNs(ctx, localname, prefix, uri);
      return;
    }
    e.Flush();
    e.parser.CloseElement();
  }
  static void Characters(void* ctx, const xmlChar* chars, int length) {
    Events& e = Of(ctx);
    if (ctx != e.main) e.builders.characters(ctx, chars, length);
    else e.Gather(Pending::Text, chars, length);
  }
  static void Cdata(void* ctx, const xmlChar* chars, int length) {
    Events& e = Of(ctx);
    if (!e.Count(ctx, 1)) return;
    if (ctx != e.main) e.builders.cdataBlock(ctx, chars, length);
    else e.Gather(Pending::Cdata, chars, length);
  }
  static void Comment(void* ctx, const xmlChar* value) {
    Events& e = Of(ctx);
    if (!e.Count(ctx, 1)) return;
    if (ctx != e.main) return e.builders.comment(ctx, value);
    e.Flush();
    e.parser.VisitLeaf(u"#comment", {});
  }
  static void ProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
    Events& e = Of(ctx);
    if (!e.Count(ctx, 1)) return;
    if (ctx != e.main) return e.builders.processingInstruction(ctx, target, data);
    e.Flush();
    e.parser.VisitLeaf(Utf8ToU16(View(target)), {});
  }
  static void Reference(void* ctx, const xmlChar* name) {
    Events& e = Of(ctx);
    if (!e.Count(ctx, 1)) return;
    if (ctx != e.main) return e.builders.reference(ctx, name);
    e.Flush();
    // Bracketed as "<&name;>" so that a reference never passes for an element.
    e.parser.VisitLeaf(u"&" + Utf8ToU16(View(name)) + u";", {});
  }

  void Install(xmlSAXHandler& sax) {
    builders = sax;
    sax.startDocument = StartDocument;
    sax.startElementNs = StartElement;
    sax.endElementNs = EndElement;
    sax.characters = Characters;
    sax.ignorableWhitespace = Characters;
    sax.cdataBlock = Cdata;
    sax.comment = Comment;
    sax.processingInstruction = ProcessingInstruction;
    sax.reference = Reference;
  }
};

XML_PARSER::XML_PARSER() : m_strLastError(u"Success") {}

XML_PARSER::~XML_PARSER() = default;

bool XML_PARSER::Fail(std::u16string detail) {
  m_strLastError = m_szFailure;
  m_strErrorDetail = std::move(detail);
  Trace(u"XML_PARSER: " + m_strLastError + u": " + m_strErrorDetail + u"\n");
  return false;
}

bool XML_PARSER::Load_From_File(std::u16string_view path, XmlNodeList* records) {
  m_strLastError = u"Success";
  m_strErrorDetail.clear();
  m_szFailure = u"XML Document FAILED to load";
  m_pRecords = records;
  DocumentFile file;
  file.stream.reset(OpenLocalFile(path, "rb", file.buffer));
  struct stat st {};
  if (!file.stream || ::fstat(::fileno(file.stream.get()), &st) != 0)
    return Fail(u"cannot open " + std::u16string(path));
  const auto size = static_cast<unsigned long long>(st.st_size);
  if (size > m_limits.maxBytes)
    return Fail(Ascii("document of " + std::to_string(size) + " bytes is over the limit of " +
                      std::to_string(m_limits.maxBytes)));
  if (size == 0) return Fail(u"empty document");
  // A UTF-8 byte order mark settles the encoding, whatever the declaration names: the list
  // files are stored as UTF-8 from text that the phone sent as UTF-16.
  char head[3] = {};
  const bool utf8Bom = std::fread(head, 1, 3, file.stream.get()) == 3 && std::memcmp(head, "\xEF\xBB\xBF", 3) == 0;
  if (std::fseek(file.stream.get(), 0, SEEK_SET) != 0) return Fail(u"cannot read " + std::u16string(path));
  file.limit = m_limits.maxBytes;
  // libxml2 reads the file in pieces as it parses, so that the document is never held whole.
  InitLibxml();
  xmlParserCtxtPtr ctxt =
      xmlCreateIOParserCtxt(nullptr, nullptr, DocumentFile::Read, nullptr, &file, XML_CHAR_ENCODING_NONE);
  if (!ctxt) return Fail(u"cannot create a parser");
  if (!Parse(ctxt, utf8Bom)) return false;
  if (file.failed) return Fail(u"cannot read " + std::u16string(path));
  return true;
}

bool XML_PARSER::Load_From_Buffer(std::u16string_view text, XmlNodeList* records) {
  m_strLastError = u"Success";
  m_strErrorDetail.clear();
  m_szFailure = u"XML Buffer FAILED to load";
  m_pRecords = records;
  // The text is handed to libxml2 as UTF-8, so an encoding in its declaration is ignored.
  const std::string data = U16ToUtf8(text);
  if (data.size() > m_limits.maxBytes)
    return Fail(Ascii("document of " + std::to_string(data.size()) + " bytes is over the limit of " +
                      std::to_string(m_limits.maxBytes)));
  return Load(data.data(), data.size(), true);
}

bool XML_PARSER::Load(const char* data, std::size_t size, bool ignoreDeclaredEncoding) {
  if (size > static_cast<std::size_t>(INT_MAX)) return Fail(u"document too large");
  InitLibxml();
  xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(data, static_cast<int>(size));
  if (!ctxt) return Fail(size == 0 ? u"empty document" : u"cannot create a parser");
  return Parse(ctxt, ignoreDeclaredEncoding);
}

bool XML_PARSER::Parse(_xmlParserCtxt* ctxt, bool ignoreDeclaredEncoding) {
  xmlCtxtUseOptions(ctxt, kParseOptions | (ignoreDeclaredEncoding ? XML_PARSE_IGNORE_ENC : 0));

  Events events(*this, ctxt, m_limits);
  events.Install(*ctxt->sax);
  ctxt->_private = &events;
  const std::size_t recordsBefore = m_pRecords ? m_pRecords->size() : 0;
  m_nDepth = -2;
  m_nOpenElements = 0;
  m_PathLengths.clear();
  m_strCurrentPath.clear();
  m_nameCache.clear();  // names are known by pointers into this document's dictionary

  xmlParseDocument(ctxt);
  events.Flush();
  const bool ok = ctxt->myDoc && ctxt->wellFormed && events.overLimit.empty();
  std::u16string detail;
  if (!ok) {
    if (!events.overLimit.empty()) {
      detail = Ascii(events.overLimit);
    } else if (const xmlError* error = xmlCtxtGetLastError(ctxt); error && error->message) {
      std::string message(error->message);
      while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
      detail = u"line " + Ascii(std::to_string(error->line)) + u": " + Utf8ToU16(message);
    } else {
      detail = u"not well-formed";
    }
  }
  // The document holds only what the entity declarations needed; its content was visited.
  if (ctxt->myDoc) xmlFreeDoc(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);
  m_nameCache.clear();
  m_nDepth = -2;
  m_strCurrentPath.clear();
  m_nCurrentAttribute = -1;
  if (!ok) {
    if (m_pRecords) m_pRecords->resize(recordsBefore);
    return Fail(std::move(detail));
  }
  return true;
}

void XML_PARSER::AssignName(const unsigned char* prefix, const unsigned char* name, std::u16string& out) {
  for (const NameEntry& entry : m_nameCache) {
    if (entry.name == name && entry.prefix == prefix) {
      out = entry.text;
      return;
    }
  }
  std::string qualified;
  if (prefix) qualified.append(View(prefix)).append(":");
  qualified.append(View(name));
  out = Utf8ToU16(qualified);
  if (m_nameCache.size() < kNameCacheSize) m_nameCache.push_back({prefix, name, out});
}

void XML_PARSER::MakeCurrent(std::u16string_view tag) {
  m_strCurrentTag.assign(tag);
  m_strCurrentName.assign(1, u'<').append(m_strCurrentTag).push_back(u'>');
}

void XML_PARSER::ClearAttributes() {
  m_nAttributes = 0;
  m_nCurrentAttribute = -1;
}

std::u16string& XML_PARSER::NextAttributeName() {
  const auto at = static_cast<std::size_t>(m_nAttributes);
  if (at == m_AttrNames.size()) {
    m_AttrNames.emplace_back();
    m_AttrValues.emplace_back();
  }
  return m_AttrNames[at];
}

std::u16string& XML_PARSER::NextAttributeValue() { return m_AttrValues[static_cast<std::size_t>(m_nAttributes++)]; }

void XML_PARSER::VisitDocument() {
  m_nDepth = -1;
  ClearAttributes();
  m_strCurrentText.clear();
  MakeCurrent(u"#document");
  On_Node();
}

void XML_PARSER::OpenElement(const unsigned char* prefix, const unsigned char* localname, int nbNamespaces,
                             const unsigned char** namespaces, int nbAttributes, const unsigned char** attributes) {
  m_nDepth = m_nOpenElements;
  ClearAttributes();
  m_strCurrentText.clear();
  AssignName(prefix, localname, m_strCurrentTag);
  m_strCurrentName.assign(1, u'<').append(m_strCurrentTag).push_back(u'>');
  // Namespace declarations come as (prefix, URI) pairs, attributes as (local name, prefix,
  // URI, value, value end).
  for (int i = 0; i < nbNamespaces; ++i) {
    const xmlChar* nsPrefix = namespaces[2 * i];
    NextAttributeName() = nsPrefix ? u"xmlns:" + Utf8ToU16(View(nsPrefix)) : std::u16string(u"xmlns");
    AssignUtf8(View(namespaces[2 * i + 1]), NextAttributeValue());
  }
  for (int i = 0; i < nbAttributes; ++i) {
    const xmlChar** attr = attributes + 5 * i;
    AssignName(attr[1], attr[0], NextAttributeName());
    AssignAttributeValue(attr[3], attr[4], NextAttributeValue());
  }
  On_Node();
  m_PathLengths.push_back(m_strCurrentPath.size());
  m_strCurrentPath.append(m_strCurrentName);
  ++m_nOpenElements;
}

void XML_PARSER::CloseElement() {
  if (m_PathLengths.empty()) return;
  m_strCurrentPath.resize(m_PathLengths.back());
  m_PathLengths.pop_back();
  --m_nOpenElements;
}

void XML_PARSER::VisitLeaf(std::u16string_view tag, std::u16string_view text) {
  m_nDepth = m_nOpenElements;
  ClearAttributes();
  m_strCurrentText.assign(text);
  MakeCurrent(tag);
  On_Node();
}

void XML_PARSER::On_Node() {
  if (!m_pRecords || m_strCurrentName == u"<#document>") return;
  const auto depth = static_cast<uint32_t>(m_nDepth);
  if (m_nAttributes == 0) {
    m_pRecords->push_back({m_strCurrentName, depth, m_strCurrentPath, m_strCurrentText, {}, {}, 0, 0});
    return;
  }
  const auto count = static_cast<uint32_t>(m_nAttributes);
  for (uint32_t i = 0; i < count; ++i) {
    m_pRecords->push_back(
        {m_strCurrentName, depth, m_strCurrentPath, m_strCurrentText, m_AttrNames[i], m_AttrValues[i], count, i + 1});
  }
}

bool XML_PARSER::Is_Child_of(std::u16string_view pathEnd) const {
  return m_strCurrentPath.size() >= pathEnd.size() &&
         std::u16string_view(m_strCurrentPath).substr(m_strCurrentPath.size() - pathEnd.size()) == pathEnd;
}

const std::u16string& XML_PARSER::Get_Attribute_Name(int index) {
  if (index < 0 || index >= Get_Attribute_Count()) {
    m_strLastError = u"XML_PARSER::Get_Attribute_Name(int) failed";
    return m_strEmpty;
  }
  return m_AttrNames[static_cast<std::size_t>(index)];
}

const std::u16string& XML_PARSER::Get_Attribute_Value(int index) {
  if (index < 0 || index >= Get_Attribute_Count()) {
    m_strLastError = u"XML_PARSER::Get_Attribute_Value(int) failed";
    return m_strEmpty;
  }
  return m_AttrValues[static_cast<std::size_t>(index)];
}

bool XML_PARSER::Is_Having_Attribute(std::u16string_view name) {
  for (int i = 0; i < m_nAttributes; ++i) {
    if (m_AttrNames[static_cast<std::size_t>(i)] == name) {
      m_nCurrentAttribute = i;
      return true;
    }
  }
  m_nCurrentAttribute = -1;
  return false;
}

const std::u16string& XML_PARSER::Get_Attribute_Value() {
  if (m_nCurrentAttribute < 0 || m_nCurrentAttribute >= Get_Attribute_Count()) {
    m_strLastError = u"XML_PARSER::Get_Attribute_Value()  : Can't Retrieve an Attribute";
    return m_strEmpty;
  }
  return m_AttrValues[static_cast<std::size_t>(m_nCurrentAttribute)];
}

}  // namespace kiv
