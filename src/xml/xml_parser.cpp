#include "xml/xml_parser.hpp"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <fstream>
#include <mutex>

#include "filemanager/local_names.hpp"
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

// Counts nodes and nesting while libxml2 parses, and stops the parser at the first limit
// crossed, before the tree grows any further.
struct LoadGuard {
  XmlLimits limits;
  std::size_t nodes = 0;
  int depth = 0;
  std::string overLimit;  // non-empty once a limit stopped the parse
  startElementNsSAX2Func startElement = nullptr;
  endElementNsSAX2Func endElement = nullptr;
  commentSAXFunc comment = nullptr;
  cdataBlockSAXFunc cdataBlock = nullptr;
  processingInstructionSAXFunc processingInstruction = nullptr;
  referenceSAXFunc reference = nullptr;

  static LoadGuard& Of(void* ctx) {
    return *static_cast<LoadGuard*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
  }
  bool Stop(void* ctx, std::string why) {
    if (overLimit.empty()) overLimit = std::move(why);
    xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
    return false;
  }
  bool Count(void* ctx, std::size_t n) {
    nodes += n;
    if (nodes > limits.maxNodes) return Stop(ctx, "more than " + std::to_string(limits.maxNodes) + " nodes");
    return true;
  }
};

void GuardStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                       int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int nbDefaulted,
                       const xmlChar** attributes) {
  LoadGuard& guard = LoadGuard::Of(ctx);
  if (++guard.depth > guard.limits.maxDepth) {
    guard.Stop(ctx, "elements nested deeper than " + std::to_string(guard.limits.maxDepth));
    return;
  }
  if (!guard.Count(ctx, 1 + static_cast<std::size_t>(nbAttributes) + static_cast<std::size_t>(nbNamespaces))) return;
  guard.startElement(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes, nbDefaulted, attributes);
}

void GuardEndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
  LoadGuard& guard = LoadGuard::Of(ctx);
  --guard.depth;
  guard.endElement(ctx, localname, prefix, uri);
}

void GuardComment(void* ctx, const xmlChar* value) {
  LoadGuard& guard = LoadGuard::Of(ctx);
  if (guard.Count(ctx, 1)) guard.comment(ctx, value);
}

void GuardCdata(void* ctx, const xmlChar* value, int len) {
  LoadGuard& guard = LoadGuard::Of(ctx);
  if (guard.Count(ctx, 1)) guard.cdataBlock(ctx, value, len);
}

void GuardProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
  LoadGuard& guard = LoadGuard::Of(ctx);
  if (guard.Count(ctx, 1)) guard.processingInstruction(ctx, target, data);
}

void GuardReference(void* ctx, const xmlChar* name) {
  LoadGuard& guard = LoadGuard::Of(ctx);
  if (guard.Count(ctx, 1)) guard.reference(ctx, name);
}

void InitLibxml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

bool IsBlank(const xmlChar* text) {
  if (!text) return true;
  for (; *text; ++text)
    if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
  return true;
}

// An attribute's value as written: text pieces joined, an entity reference kept as
// "&name;" instead of being expanded.
std::u16string AttributeValue(const xmlAttr* attr) {
  const xmlNode* child = attr->children;
  if (!child) return {};
  if (!child->next && child->type == XML_TEXT_NODE) return Utf8ToU16(View(child->content));
  std::string value;
  for (; child; child = child->next) {
    if (child->type == XML_ENTITY_REF_NODE) {
      value.append("&").append(View(child->name)).append(";");
    } else {
      value.append(View(child->content));
    }
  }
  return Utf8ToU16(value);
}

}  // namespace

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
  std::ifstream file(LocalPath(path), std::ios::binary | std::ios::ate);
  if (!file) return Fail(u"cannot open " + std::u16string(path));
  const std::streamoff size = file.tellg();
  if (size < 0) return Fail(u"cannot read " + std::u16string(path));
  if (static_cast<unsigned long long>(size) > m_limits.maxBytes)
    return Fail(Ascii("document of " + std::to_string(size) + " bytes is over the limit of " +
                      std::to_string(m_limits.maxBytes)));
  std::string data(static_cast<std::size_t>(size), '\0');
  file.seekg(0);
  if (!file.read(data.data(), size)) return Fail(u"cannot read " + std::u16string(path));
  // A UTF-8 byte order mark settles the encoding, whatever the declaration names: the list
  // files are stored as UTF-8 from text that the phone sent as UTF-16.
  const bool utf8Bom = data.size() >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0;
  return Load(data.data(), data.size(), utf8Bom);
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
  xmlCtxtUseOptions(ctxt, kParseOptions | (ignoreDeclaredEncoding ? XML_PARSE_IGNORE_ENC : 0));

  LoadGuard guard;
  guard.limits = m_limits;
  xmlSAXHandler* sax = ctxt->sax;
  guard.startElement = sax->startElementNs;
  guard.endElement = sax->endElementNs;
  guard.comment = sax->comment;
  guard.cdataBlock = sax->cdataBlock;
  guard.processingInstruction = sax->processingInstruction;
  guard.reference = sax->reference;
  if (guard.startElement) sax->startElementNs = GuardStartElement;
  if (guard.endElement) sax->endElementNs = GuardEndElement;
  if (guard.comment) sax->comment = GuardComment;
  if (guard.cdataBlock) sax->cdataBlock = GuardCdata;
  if (guard.processingInstruction) sax->processingInstruction = GuardProcessingInstruction;
  if (guard.reference) sax->reference = GuardReference;
  ctxt->_private = &guard;

  xmlParseDocument(ctxt);
  xmlDocPtr doc = ctxt->myDoc;
  ctxt->myDoc = nullptr;
  const bool ok = doc && ctxt->wellFormed && guard.overLimit.empty();
  std::u16string detail;
  if (!ok) {
    if (!guard.overLimit.empty()) {
      detail = Ascii(guard.overLimit);
    } else if (const xmlError* error = xmlCtxtGetLastError(ctxt); error && error->message) {
      std::string message(error->message);
      while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
      detail = u"line " + Ascii(std::to_string(error->line)) + u": " + Utf8ToU16(message);
    } else {
      detail = u"not well-formed";
    }
  }
  xmlFreeParserCtxt(ctxt);
  if (!ok) {
    if (doc) xmlFreeDoc(doc);
    return Fail(std::move(detail));
  }

  if (m_pRecords) m_pRecords->reserve(m_pRecords->size() + guard.nodes);
  m_nDepth = -2;
  m_strCurrentPath.clear();
  m_nameCache.clear();  // names are known by pointers into this document's dictionary
  Walk(reinterpret_cast<xmlNodePtr>(doc));
  xmlFreeDoc(doc);
  m_nameCache.clear();
  m_nCurrentAttribute = -1;
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

void XML_PARSER::MakeCurrent(xmlNodePtr node) {
  m_AttrNames.clear();
  m_AttrValues.clear();
  m_nCurrentAttribute = -1;
  m_strCurrentText.clear();
  switch (node->type) {
    case XML_ELEMENT_NODE: {
      AssignName(node->ns ? node->ns->prefix : nullptr, node->name, m_strCurrentTag);
      for (const xmlNs* ns = node->nsDef; ns; ns = ns->next) {
        m_AttrNames.push_back(ns->prefix ? u"xmlns:" + Utf8ToU16(View(ns->prefix)) : std::u16string(u"xmlns"));
        m_AttrValues.push_back(Utf8ToU16(View(ns->href)));
      }
      for (const xmlAttr* attr = node->properties; attr; attr = attr->next) {
        m_AttrNames.emplace_back();
        AssignName(attr->ns ? attr->ns->prefix : nullptr, attr->name, m_AttrNames.back());
        m_AttrValues.push_back(AttributeValue(attr));
      }
      break;
    }
    case XML_TEXT_NODE:
      m_strCurrentTag = u"#TEXT#";
      m_strCurrentText = Utf8ToU16(View(node->content));
      break;
    case XML_CDATA_SECTION_NODE:
      m_strCurrentTag = u"#CDATA#";
      m_strCurrentText = Utf8ToU16(View(node->content));
      break;
    case XML_COMMENT_NODE:
      m_strCurrentTag = u"#comment";
      break;
    case XML_PI_NODE:
      m_strCurrentTag = Utf8ToU16(View(node->name));
      break;
    case XML_ENTITY_REF_NODE:
      // Bracketed as "<&name;>" so that a reference never passes for an element.
      m_strCurrentTag = u"&" + Utf8ToU16(View(node->name)) + u";";
      break;
    default:
      m_strCurrentTag = u"#document";
      break;
  }
  m_strCurrentName.assign(1, u'<').append(m_strCurrentTag).push_back(u'>');
}

void XML_PARSER::Walk(xmlNodePtr node) {
  switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE:
    case XML_DOCUMENT_NODE:
      break;
    case XML_TEXT_NODE:
      // Blank text between elements is layout, not content.
      if (IsBlank(node->content)) return;
      break;
    default:
      // Document type and declarations, XInclude markers: not part of the content.
      return;
  }
  ++m_nDepth;
  MakeCurrent(node);
  On_Node();
  if (node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE) {
    // The document node has no name in the path: the root element's path is empty.
    const std::size_t pathLength = m_strCurrentPath.size();
    if (node->type == XML_ELEMENT_NODE) m_strCurrentPath.append(m_strCurrentName);
    // An entity reference's children are the entity's own content: never descended into.
    for (xmlNodePtr child = node->children; child; child = child->next) Walk(child);
    m_strCurrentPath.resize(pathLength);
  }
  --m_nDepth;
}

void XML_PARSER::On_Node() {
  if (!m_pRecords || m_strCurrentName == u"<#document>") return;
  const auto depth = static_cast<uint32_t>(m_nDepth);
  if (m_AttrNames.empty()) {
    m_pRecords->push_back({m_strCurrentName, depth, m_strCurrentPath, m_strCurrentText, {}, {}, 0, 0});
    return;
  }
  const auto count = static_cast<uint32_t>(m_AttrNames.size());
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
  for (std::size_t i = 0; i < m_AttrNames.size(); ++i) {
    if (m_AttrNames[i] == name) {
      m_nCurrentAttribute = static_cast<int>(i);
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
