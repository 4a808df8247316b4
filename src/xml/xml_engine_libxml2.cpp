// The libxml2 engine of the XML document wrapper: a SAX reader that tells nodes to the
// wrapper as libxml2 reads them, without building a document tree.
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/SAX2.h>
#include <libxml/xmlerror.h>

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/local_names.hpp"
#include "platform/text.hpp"
#include "xml/xml_engine.hpp"

namespace kiv {
namespace {

constexpr std::size_t kNameCacheSize = 32;

// Network access off; no DTD loading, no entity substitution (neither option is given), and
// a document type declaration ends the read: the phone's lists never carry one, and nothing
// is declared, fetched or expanded on any system (MSXML refuses them too). Parser messages
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

// Reads a document from libxml2's SAX callbacks and hands every node to the sink as it
// comes, while counting nodes and nesting and stopping at the first limit crossed.
class Reader {
 public:
  enum class Pending { None, Text, Cdata };

  Reader(XmlReadSink& s, const XmlLimits& l) : sink(s), limits(l) {}

  XmlReadSink& sink;
  XmlLimits limits;
  std::size_t nodes = 0;
  int depth = 0;
  std::string overLimit;  // non-empty once a limit stopped the parse
  // Character data not yet visited: libxml2 hands a text over in pieces, and adjacent CDATA
  // sections make one node.
  std::string text;
  Pending pending = Pending::None;
  std::u16string leafText;
  // Element and attribute names converted once per distinct name. libxml2 interns names in
  // the document's dictionary, so a name is known by its pointers; the cache is small and
  // bounded, a miss converts.
  struct NameEntry {
    const xmlChar* prefix;
    const xmlChar* name;
    std::u16string text;
  };
  std::vector<NameEntry> nameCache;

  static Reader& Of(void* ctx) { return *static_cast<Reader*>(static_cast<xmlParserCtxtPtr>(ctx)->_private); }

  void Stop(void* ctx, std::string why) {
    if (overLimit.empty()) overLimit = std::move(why);
    xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
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
    sink.VisitLeaf(kind == Pending::Text ? u"#TEXT#" : u"#CDATA#", leafText);
    text.clear();
  }
  void Gather(Pending kind, const xmlChar* chars, int length) {
    if (pending != kind) Flush();
    pending = kind;
    text.append(View(chars, length));
  }

  static void StartDocument(void* ctx) {
    Reader& e = Of(ctx);
    xmlSAX2StartDocument(ctx);  // the document record that tells a finished parse
    e.sink.VisitDocument();
  }
  static void StartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar*,
                           int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int,
                           const xmlChar** attributes) {
    Reader& e = Of(ctx);
    if (++e.depth > e.limits.maxDepth) {
      e.Stop(ctx, "elements nested deeper than " + std::to_string(e.limits.maxDepth));
      return;
    }
    if (!e.Count(ctx, 1 + static_cast<std::size_t>(nbAttributes) + static_cast<std::size_t>(nbNamespaces))) return;
    e.Flush();
    e.Open(prefix, localname, nbNamespaces, namespaces, nbAttributes, attributes);
  }
  static void EndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    Reader& e = Of(ctx);
    --e.depth;
    e.Flush();
    e.sink.CloseElement();
  }
  static void Characters(void* ctx, const xmlChar* chars, int length) {
    Of(ctx).Gather(Pending::Text, chars, length);
  }
  static void Cdata(void* ctx, const xmlChar* chars, int length) {
    Reader& e = Of(ctx);
    if (!e.Count(ctx, 1)) return;
    e.Gather(Pending::Cdata, chars, length);
  }
  static void Comment(void* ctx, const xmlChar*) {
    Reader& e = Of(ctx);
    if (!e.Count(ctx, 1)) return;
    e.Flush();
    e.sink.VisitLeaf(u"#comment", {});
  }
  static void ProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar*) {
    Reader& e = Of(ctx);
    if (!e.Count(ctx, 1)) return;
    e.Flush();
    e.sink.VisitLeaf(Utf8ToU16(View(target)), {});
  }

  void AssignName(const xmlChar* prefix, const xmlChar* name, std::u16string& out) {
    for (const NameEntry& entry : nameCache) {
      if (entry.name == name && entry.prefix == prefix) {
        out = entry.text;
        return;
      }
    }
    std::string qualified;
    if (prefix) qualified.append(View(prefix)).append(":");
    qualified.append(View(name));
    out = Utf8ToU16(qualified);
    if (nameCache.size() < kNameCacheSize) nameCache.push_back({prefix, name, out});
  }

  void Open(const xmlChar* prefix, const xmlChar* localname, int nbNamespaces, const xmlChar** namespaces,
            int nbAttributes, const xmlChar** attributes) {
    AssignName(prefix, localname, sink.BeginElement());
    // Namespace declarations come as (prefix, URI) pairs, attributes as (local name, prefix,
    // URI, value, value end).
    for (int i = 0; i < nbNamespaces; ++i) {
      const xmlChar* nsPrefix = namespaces[2 * i];
      sink.NextAttributeName() = nsPrefix ? u"xmlns:" + Utf8ToU16(View(nsPrefix)) : std::u16string(u"xmlns");
      AssignUtf8(View(namespaces[2 * i + 1]), sink.NextAttributeValue());
    }
    for (int i = 0; i < nbAttributes; ++i) {
      const xmlChar** attr = attributes + 5 * i;
      AssignName(attr[1], attr[0], sink.NextAttributeName());
      AssignAttributeValue(attr[3], attr[4], sink.NextAttributeValue());
    }
    sink.OpenElement();
  }

  static void Doctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    Of(ctx).Stop(ctx, "document type declarations are not allowed");
  }

  void Install(xmlSAXHandler& sax) {
    sax.internalSubset = Doctype;
    sax.startDocument = StartDocument;
    sax.startElementNs = StartElement;
    sax.endElementNs = EndElement;
    sax.characters = Characters;
    sax.ignorableWhitespace = Characters;
    sax.cdataBlock = Cdata;
    sax.comment = Comment;
    sax.processingInstruction = ProcessingInstruction;
  }
};


// Runs one parse to its end and frees the context. False with the reason in detail.
bool Parse(xmlParserCtxtPtr ctxt, bool ignoreDeclaredEncoding, const XmlLimits& limits, XmlReadSink& sink,
           std::u16string& detail) {
  xmlCtxtUseOptions(ctxt, kParseOptions | (ignoreDeclaredEncoding ? XML_PARSE_IGNORE_ENC : 0));
  Reader reader(sink, limits);
  reader.Install(*ctxt->sax);
  ctxt->_private = &reader;
  xmlParseDocument(ctxt);
  reader.Flush();
  const bool ok = ctxt->myDoc && ctxt->wellFormed && reader.overLimit.empty();
  if (!ok) {
    if (!reader.overLimit.empty()) {
      detail = Ascii(reader.overLimit);
    } else if (const xmlError* error = xmlCtxtGetLastError(ctxt); error && error->message) {
      std::string message(error->message);
      while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
      detail = u"line " + Ascii(std::to_string(error->line)) + u": " + Utf8ToU16(message);
    } else {
      detail = u"not well-formed";
    }
  }
  // The document record is empty: its content went to the sink.
  if (ctxt->myDoc) xmlFreeDoc(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);
  return ok;
}

std::u16string OverLimit(std::size_t size, std::size_t limit) {
  return Ascii("document of " + std::to_string(size) + " bytes is over the limit of " + std::to_string(limit));
}

}  // namespace

bool ReadXmlFile(std::u16string_view path, const XmlLimits& limits, XmlReadSink& sink, std::u16string& detail) {
  DocumentFile file;
  file.stream.reset(OpenLocalFile(path, "rb", file.buffer));
  struct stat st {};
  if (!file.stream || ::fstat(::fileno(file.stream.get()), &st) != 0) {
    detail = u"cannot open " + std::u16string(path);
    return false;
  }
  const auto size = static_cast<unsigned long long>(st.st_size);
  if (size > limits.maxBytes) {
    detail = OverLimit(size, limits.maxBytes);
    return false;
  }
  if (size == 0) {
    detail = u"empty document";
    return false;
  }
  // A UTF-8 byte order mark settles the encoding, whatever the declaration names: the list
  // files are stored as UTF-8 from text that the phone sent as UTF-16.
  char head[3] = {};
  const bool utf8Bom = std::fread(head, 1, 3, file.stream.get()) == 3 && std::memcmp(head, "\xEF\xBB\xBF", 3) == 0;
  if (std::fseek(file.stream.get(), 0, SEEK_SET) != 0) {
    detail = u"cannot read " + std::u16string(path);
    return false;
  }
  file.limit = limits.maxBytes;
  // libxml2 reads the file in pieces as it parses, so that the document is never held whole.
  InitLibxml();
  xmlParserCtxtPtr ctxt =
      xmlCreateIOParserCtxt(nullptr, nullptr, DocumentFile::Read, nullptr, &file, XML_CHAR_ENCODING_NONE);
  if (!ctxt) {
    detail = u"cannot create a parser";
    return false;
  }
  if (!Parse(ctxt, utf8Bom, limits, sink, detail)) return false;
  if (file.failed) {
    detail = u"cannot read " + std::u16string(path);
    return false;
  }
  return true;
}

bool ReadXmlText(std::string_view utf8, const XmlLimits& limits, XmlReadSink& sink, std::u16string& detail) {
  if (utf8.size() > limits.maxBytes) {
    detail = OverLimit(utf8.size(), limits.maxBytes);
    return false;
  }
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
    detail = u"document too large";
    return false;
  }
  InitLibxml();
  xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(utf8.data(), static_cast<int>(utf8.size()));
  if (!ctxt) {
    detail = utf8.empty() ? u"empty document" : u"cannot create a parser";
    return false;
  }
  return Parse(ctxt, true, limits, sink, detail);
}

}  // namespace kiv
