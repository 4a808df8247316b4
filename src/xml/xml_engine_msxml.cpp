// The MSXML engine of the XML document wrapper (Windows): the document is decoded here into
// UTF-16, parsed by an MSXML DOM document created through COM, and its tree walked into the
// sink in document order.
//
// MSXML is given text, not files: a work file stored as UTF-8 may still declare
// encoding="UTF-16" (the phone's own declaration), which MSXML refuses to read from bytes.
// So the bytes are decoded here (a byte order mark first, then the declaration) and the
// declared encoding is dropped before loadXML. Only encodings other than UTF-8, UTF-16 and
// Latin-1 go to MSXML as bytes, for it to decode.
//
// Documents with a document type declaration do not load: DTDs are prohibited where MSXML
// knows the property, and checked for here as well, so that versions without it behave the
// same (no entity is ever expanded or fetched).
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/local_names.hpp"
#include "xml/xml_engine.hpp"

namespace kiv {
namespace {

// IXMLDOMDocument2 {2933BF95-7B36-11d2-B20E-00C04F983E60}: mingw-w64 declares it but its
// import libraries do not define it.
constexpr IID kIidDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// Newest first; each version's own ProgID, then the version-independent one.
constexpr const wchar_t* kProgIds[] = {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument.4.0",
                                       L"Msxml2.DOMDocument.3.0", L"Msxml2.DOMDocument.2.6", L"Msxml2.DOMDocument"};

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::u16string Number(unsigned long long n) { return Ascii(std::to_string(n)); }

// An interface pointer released on scope exit.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T** Out() {
    Reset();
    return &p_;
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }

  BSTR* Out() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  BSTR Get() const { return b_; }
  std::u16string_view View() const {
    return b_ ? std::u16string_view(reinterpret_cast<const char16_t*>(b_), SysStringLen(b_)) : std::u16string_view();
  }

 private:
  BSTR b_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }

  VARIANT* Out() {
    VariantClear(&v_);
    return &v_;
  }
  VARIANT& Get() { return v_; }
  std::u16string_view Text() const {
    return V_VT(&v_) == VT_BSTR && V_BSTR(&v_)
               ? std::u16string_view(reinterpret_cast<const char16_t*>(V_BSTR(&v_)), SysStringLen(V_BSTR(&v_)))
               : std::u16string_view();
  }

 private:
  VARIANT v_;
};

// COM on the calling thread for the time of one read. A thread that already runs COM keeps
// its own apartment; only an initialisation made here is undone.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

std::wstring_view Wide(std::u16string_view text) {
  return std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::u16string OverLimit(unsigned long long size, std::size_t limit) {
  return u"document of " + Number(size) + u" bytes is over the limit of " + Number(limit);
}

// ---- Decoding --------------------------------------------------------------------------

bool IsSpace(char32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

template <class Char>
bool StartsWithAscii(std::basic_string_view<Char> text, std::size_t at, std::string_view ascii) {
  if (text.size() < at || text.size() - at < ascii.size()) return false;
  for (std::size_t i = 0; i < ascii.size(); ++i)
    if (static_cast<char32_t>(text[at + i]) != static_cast<unsigned char>(ascii[i])) return false;
  return true;
}

template <class Char>
std::size_t FindAscii(std::basic_string_view<Char> text, std::size_t from, std::string_view ascii) {
  for (std::size_t i = from; i < text.size(); ++i)
    if (StartsWithAscii(text, i, ascii)) return i;
  return std::basic_string_view<Char>::npos;
}

// Where the XML declaration's encoding pseudo-attribute lies: [start, end) from the blank
// before it to its closing quote, the value in between. Nothing when there is none.
struct EncodingSpan {
  std::size_t start = 0, end = 0, valueStart = 0, valueEnd = 0;
};

template <class Char>
bool FindDeclaredEncoding(std::basic_string_view<Char> text, EncodingSpan& span) {
  if (!StartsWithAscii(text, 0, "<?xml") || text.size() < 6 || !IsSpace(static_cast<char32_t>(text[5]))) return false;
  const std::size_t close = FindAscii(text, 5, "?>");
  if (close == std::basic_string_view<Char>::npos) return false;
  const std::size_t key = FindAscii(text.substr(0, close), 5, "encoding");
  if (key == std::basic_string_view<Char>::npos) return false;
  std::size_t i = key + 8;
  while (i < close && IsSpace(static_cast<char32_t>(text[i]))) ++i;
  if (i >= close || text[i] != '=') return false;
  ++i;
  while (i < close && IsSpace(static_cast<char32_t>(text[i]))) ++i;
  if (i >= close || (text[i] != '"' && text[i] != '\'')) return false;
  const Char quote = text[i];
  std::size_t end = i + 1;
  while (end < close && text[end] != quote) ++end;
  if (end >= close) return false;
  span.start = key;
  while (span.start > 5 && IsSpace(static_cast<char32_t>(text[span.start - 1]))) --span.start;
  span.valueStart = i + 1;
  span.valueEnd = end;
  span.end = end + 1;
  return true;
}

// True when the prolog holds a document type declaration.
template <class Char>
bool DeclaresDoctype(std::basic_string_view<Char> text) {
  constexpr auto npos = std::basic_string_view<Char>::npos;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsSpace(static_cast<char32_t>(text[i])) || static_cast<char32_t>(text[i]) == 0xFEFF) {
      ++i;
    } else if (StartsWithAscii(text, i, "<?")) {
      const std::size_t end = FindAscii(text, i + 2, "?>");
      if (end == npos) return false;
      i = end + 2;
    } else if (StartsWithAscii(text, i, "<!--")) {
      const std::size_t end = FindAscii(text, i + 4, "-->");
      if (end == npos) return false;
      i = end + 3;
    } else {
      return StartsWithAscii(text, i, "<!DOCTYPE");
    }
  }
  return false;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool Utf8ToWide(std::string_view bytes, std::u16string& out, std::u16string& detail) {
  out.clear();
  if (bytes.empty()) return true;
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
    detail = u"document too large";
    return false;
  }
  const int length = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (units <= 0) {
    detail = u"the document is not valid UTF-8";
    return false;
  }
  out.resize(static_cast<std::size_t>(units));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, reinterpret_cast<wchar_t*>(out.data()),
                      units);
  return true;
}

bool Utf16ToWide(std::string_view bytes, bool bigEndian, std::u16string& out, std::u16string& detail) {
  if (bytes.size() % 2 != 0) {
    detail = u"the document is not valid UTF-16 (odd length)";
    return false;
  }
  out.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]), b = static_cast<unsigned char>(bytes[2 * i + 1]);
    out[i] = static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  }
  return true;
}

// A document ready for MSXML: decoded text for loadXML, or bytes for load() to decode.
struct Prepared {
  std::u16string text;
  bool asBytes = false;
};

// Decodes a stored document. A byte order mark settles the encoding; without one a UTF-16
// document shows by its first character, and an 8-bit one is UTF-8 unless its declaration
// names another encoding. A declared UTF-16 in 8-bit bytes without a mark does not load.
bool DecodeFile(std::string_view bytes, Prepared& out, std::u16string& detail) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return Utf8ToWide(bytes.substr(3), out.text, detail);
  if (bytes.starts_with("\xFF\xFE")) return Utf16ToWide(bytes.substr(2), false, out.text, detail);
  if (bytes.starts_with("\xFE\xFF")) return Utf16ToWide(bytes.substr(2), true, out.text, detail);
  if (bytes.starts_with(std::string_view("<\0?\0", 4))) return Utf16ToWide(bytes, false, out.text, detail);
  if (bytes.starts_with(std::string_view("\0<\0?", 4))) return Utf16ToWide(bytes, true, out.text, detail);
  EncodingSpan span;
  if (!FindDeclaredEncoding(bytes, span)) return Utf8ToWide(bytes, out.text, detail);
  const std::string name = LowerAscii(bytes.substr(span.valueStart, span.valueEnd - span.valueStart));
  if (name == "utf-8" || name == "utf8") return Utf8ToWide(bytes, out.text, detail);
  if (name == "utf-16" || name == "utf16") {
    detail = u"document labelled UTF-16 but has UTF-8 content";
    return false;
  }
  if (name == "iso-8859-1" || name == "iso_8859-1" || name == "latin1" || name == "l1") {
    out.text.resize(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) out.text[i] = static_cast<unsigned char>(bytes[i]);
    return true;
  }
  out.asBytes = true;
  return true;
}

// Makes decoded text ready for loadXML: no byte order mark, no declared encoding.
void DropDeclaredEncoding(std::u16string& text) {
  if (text.starts_with(u'\uFEFF')) text.erase(0, 1);
  EncodingSpan span;
  if (FindDeclaredEncoding(std::u16string_view(text), span)) text.erase(span.start, span.end - span.start);
}

// ---- Walking the tree ---------------------------------------------------------------------

class Walker {
 public:
  Walker(XmlReadSink& sink, const XmlLimits& limits) : sink_(sink), limits_(limits) {}

  // Tells the document's nodes to the sink; false with the reason in detail.
  bool Walk(IXMLDOMDocument2* doc, std::u16string& detail) {
    sink_.VisitDocument();
    ComPtr<IXMLDOMNode> node;
    if (FAILED(doc->get_firstChild(node.Out()))) return Fail(u"cannot read the document", detail);
    while (node) {
      DOMNodeType type = NODE_INVALID;
      if (FAILED(node->get_nodeType(&type))) return Fail(u"cannot read a node", detail);
      ComPtr<IXMLDOMNode> child;
      if (!Visit(node.Get(), type, child)) return Fail(std::move(why_), detail);
      if (child) {
        node = std::move(child);
        continue;
      }
      // Up to the next sibling, closing the elements that end on the way.
      for (;;) {
        ComPtr<IXMLDOMNode> next;
        if (FAILED(node->get_nextSibling(next.Out()))) return Fail(u"cannot read a node", detail);
        if (next) {
          node = std::move(next);
          break;
        }
        if (depth_ == 0) {
          node.Reset();
          break;
        }
        ComPtr<IXMLDOMNode> parent;
        if (FAILED(node->get_parentNode(parent.Out())) || !parent) return Fail(u"cannot read a node", detail);
        node = std::move(parent);
        Close();
      }
    }
    Flush();
    return true;
  }

 private:
  enum class Pending { None, Text, Cdata };

  bool Fail(std::u16string why, std::u16string& detail) {
    detail = std::move(why);
    return false;
  }
  bool Stop(std::u16string why) {
    why_ = std::move(why);
    return false;
  }
  bool Count(std::size_t n) {
    nodes_ += n;
    return nodes_ <= limits_.maxNodes || Stop(u"more than " + Number(limits_.maxNodes) + u" nodes");
  }

  void Flush() {
    const Pending kind = std::exchange(pending_, Pending::None);
    if (kind == Pending::None) return;
    // Blank text between elements is layout, not content.
    if (kind == Pending::Text && text_.find_first_not_of(u" \t\r\n") == std::u16string::npos) {
      text_.clear();
      return;
    }
    sink_.VisitLeaf(kind == Pending::Text ? u"#TEXT#" : u"#CDATA#", text_);
    text_.clear();
  }
  bool Gather(Pending kind, IXMLDOMNode* node) {
    if (pending_ != kind) Flush();
    pending_ = kind;
    Variant value;
    if (FAILED(node->get_nodeValue(value.Out()))) return Stop(u"cannot read a text");
    text_.append(value.Text());
    return true;
  }
  void Close() {
    Flush();
    sink_.CloseElement();
    --depth_;
  }

  // Visits one node; for an element with content, child receives its first child.
  bool Visit(IXMLDOMNode* node, DOMNodeType type, ComPtr<IXMLDOMNode>& child) {
    switch (type) {
      case NODE_ELEMENT:
        if (!Open(node)) return false;
        if (FAILED(node->get_firstChild(child.Out()))) return Stop(u"cannot read a node");
        if (!child) Close();
        return true;
      case NODE_TEXT:
        return Gather(Pending::Text, node);
      case NODE_CDATA_SECTION:
        return Count(1) && Gather(Pending::Cdata, node);
      case NODE_COMMENT:
        if (!Count(1)) return false;
        Flush();
        sink_.VisitLeaf(u"#comment", {});
        return true;
      case NODE_PROCESSING_INSTRUCTION: {
        Bstr target;
        if (FAILED(node->get_nodeName(target.Out()))) return Stop(u"cannot read a node");
        // MSXML shows the XML declaration as the document's first processing instruction.
        if (depth_ == 0 && target.View() == u"xml") return true;
        if (!Count(1)) return false;
        Flush();
        sink_.VisitLeaf(target.View(), {});
        return true;
      }
      case NODE_DOCUMENT_TYPE:
        return Stop(u"document type declarations are not allowed");
      default:
        return true;
    }
  }

  // The value of an element's default namespace declaration, taken from the element's own
  // namespace; an element with a prefix gives no answer.
  static bool DefaultNamespace(IXMLDOMNode* element, const Bstr& name, std::u16string& value) {
    Bstr uri;
    if (name.View().find(u':') != std::u16string_view::npos || FAILED(element->get_namespaceURI(uri.Out())))
      return false;
    value.assign(uri.View());
    return true;
  }

  bool Open(IXMLDOMNode* element) {
    if (++depth_ > limits_.maxDepth) return Stop(u"elements nested deeper than " + Number(limits_.maxDepth));
    Bstr name;
    ComPtr<IXMLDOMNamedNodeMap> map;
    long count = 0;
    if (FAILED(element->get_nodeName(name.Out())) || FAILED(element->get_attributes(map.Out())) ||
        (map && FAILED(map->get_length(&count))) || count < 0)
      return Stop(u"cannot read an element");
    if (!Count(1 + static_cast<std::size_t>(count))) return false;
    // Read every attribute first: namespace declarations are told before the others.
    attributes_.resize(std::max(attributes_.size(), static_cast<std::size_t>(count)));
    bool defaultNamespace = false;
    for (long i = 0; i < count; ++i) {
      ComPtr<IXMLDOMNode> attribute;
      Bstr attributeName;
      Variant value;
      auto& [n, v] = attributes_[static_cast<std::size_t>(i)];
      if (FAILED(map->get_item(i, attribute.Out())) || !attribute) {
        // Wine's MSXML counts a default namespace declaration among the attributes but gives
        // no node for it.
        if (std::exchange(defaultNamespace, true) || !DefaultNamespace(element, name, v))
          return Stop(u"cannot read an attribute");
        n = u"xmlns";
        continue;
      }
      if (FAILED(attribute->get_nodeName(attributeName.Out())) || FAILED(attribute->get_nodeValue(value.Out())))
        return Stop(u"cannot read an attribute");
      n.assign(attributeName.View());
      v.assign(value.Text());
    }
    Flush();
    sink_.BeginElement().assign(name.View());
    for (bool declarations : {true, false}) {
      for (long i = 0; i < count; ++i) {
        const auto& [n, v] = attributes_[static_cast<std::size_t>(i)];
        const bool declaration = n == u"xmlns" || n.starts_with(u"xmlns:");
        if (declaration != declarations) continue;
        sink_.NextAttributeName().assign(n);
        sink_.NextAttributeValue().assign(v);
      }
    }
    sink_.OpenElement();
    return true;
  }

  XmlReadSink& sink_;
  XmlLimits limits_;
  std::size_t nodes_ = 0;
  int depth_ = 0;
  std::u16string why_;
  Pending pending_ = Pending::None;
  std::u16string text_;
  std::vector<std::pair<std::u16string, std::u16string>> attributes_;
};

// ---- The document --------------------------------------------------------------------------

bool CreateDocument(ComPtr<IXMLDOMDocument2>& doc) {
  for (const wchar_t* progId : kProgIds) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) continue;
    if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument2,
                                   reinterpret_cast<void**>(doc.Out()))) &&
        doc)
      return true;
  }
  return false;
}

// Sets a property the version may not know; older versions refuse unknown names.
void TrySetProperty(IXMLDOMDocument2* doc, const wchar_t* name, VARIANT value) {
  Bstr property(name);
  doc->setProperty(property.Get(), value);
}

VARIANT Boolean(bool value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

void Configure(IXMLDOMDocument2* doc, const XmlLimits& limits) {
  doc->put_async(VARIANT_FALSE);
  doc->put_validateOnParse(VARIANT_FALSE);
  doc->put_resolveExternals(VARIANT_FALSE);
  // Text is kept as written; blank text between elements is left out while walking.
  doc->put_preserveWhiteSpace(VARIANT_TRUE);
  TrySetProperty(doc, L"ProhibitDTD", Boolean(true));
  TrySetProperty(doc, L"AllowDocumentFunction", Boolean(false));
  TrySetProperty(doc, L"AllowXsltScript", Boolean(false));
  TrySetProperty(doc, L"ResolveExternals", Boolean(false));
  TrySetProperty(doc, L"UseInlineSchema", Boolean(false));
  TrySetProperty(doc, L"ServerHTTPRequest", Boolean(false));
  // MSXML 6 stops at 256 levels by default. One level more than ours lets the walk report
  // the limit in its own words; far deeper documents stop in the parser.
  VARIANT depth;
  VariantInit(&depth);
  V_VT(&depth) = VT_I4;
  V_I4(&depth) = limits.maxDepth > 0 && limits.maxDepth < INT_MAX ? limits.maxDepth + 1 : 0;  // 0: no limit
  TrySetProperty(doc, L"MaxElementDepth", depth);
}

std::u16string Hex(unsigned long value) {
  std::u16string out = u"0x";
  for (int shift = 28; shift >= 0; shift -= 4) out += u"0123456789ABCDEF"[(value >> shift) & 0xF];
  return out;
}

// MSXML's reason for a failed load, with its position when it knows one.
std::u16string ParseErrorText(IXMLDOMDocument2* doc) {
  ComPtr<IXMLDOMParseError> error;
  Bstr reason;
  long code = 0, line = 0, column = 0;
  if (FAILED(doc->get_parseError(error.Out())) || !error) return u"not well-formed";
  error->get_errorCode(&code);
  error->get_reason(reason.Out());
  error->get_line(&line);
  error->get_linepos(&column);
  std::u16string text(reason.View());
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) text.pop_back();
  if (text.empty()) text = u"not well-formed";
  text += u" (" + Hex(static_cast<unsigned long>(code)) + u")";
  if (line <= 0) return text;
  return u"line " + Number(static_cast<unsigned long long>(line)) + u", column " +
         Number(static_cast<unsigned long long>(column > 0 ? column : 0)) + u": " + text;
}

// Hands the text over as a BSTR; the text itself is freed before MSXML builds its tree.
bool LoadText(IXMLDOMDocument2* doc, std::u16string& text, VARIANT_BOOL& loaded) {
  if (text.size() > 0x7FFFFFFEu) return false;
  Bstr source(Wide(text));
  std::u16string().swap(text);
  return source.Get() && SUCCEEDED(doc->loadXML(source.Get(), &loaded));
}

bool LoadBytes(IXMLDOMDocument2* doc, std::string_view bytes, VARIANT_BOOL& loaded) {
  if (bytes.size() > 0xFFFFFFFEu) return false;
  Variant source;
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!array) return false;
  V_VT(&source.Get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(&source.Get()) = array;  // freed with the variant
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return false;
  std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
  SafeArrayUnaccessData(array);
  return SUCCEEDED(doc->load(source.Get(), &loaded));
}

// Parses the prepared document and walks it into the sink.
bool Read(Prepared& prepared, std::string_view bytes, const XmlLimits& limits, XmlReadSink& sink,
          std::u16string& detail) {
  const bool doctype = prepared.asBytes ? DeclaresDoctype(bytes) : DeclaresDoctype(std::u16string_view(prepared.text));
  if (doctype) {
    detail = u"document type declarations are not allowed";
    return false;
  }
  if (!prepared.asBytes && prepared.text.find(u'\0') != std::u16string::npos) {
    detail = u"the document holds a NUL character";
    return false;
  }
  ComScope com;
  if (!com.Usable()) {
    detail = u"COM is not available on this thread";
    return false;
  }
  ComPtr<IXMLDOMDocument2> doc;
  if (!CreateDocument(doc)) {
    detail = u"MSXML is not installed";
    return false;
  }
  Configure(doc.Get(), limits);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const bool called =
      prepared.asBytes ? LoadBytes(doc.Get(), bytes, loaded) : LoadText(doc.Get(), prepared.text, loaded);
  if (!called || loaded != VARIANT_TRUE) {
    detail = ParseErrorText(doc.Get());
    return false;
  }
  Walker walker(sink, limits);
  return walker.Walk(doc.Get(), detail);
}

}  // namespace

bool ReadXmlFile(std::u16string_view path, const XmlLimits& limits, XmlReadSink& sink, std::u16string& detail) {
  const std::wstring name = LocalPath(path).native();  // long paths take the "\\?\" prefix
  Handle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  // Only plain files: a pipe or a device in the document's place would block or never end.
  if (!file.Valid() || GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.Get(), &size)) {
    detail = u"cannot open " + std::u16string(path);
    return false;
  }
  const auto length = static_cast<unsigned long long>(size.QuadPart);
  if (length > limits.maxBytes) {
    detail = OverLimit(length, limits.maxBytes);
    return false;
  }
  if (length == 0) {
    detail = u"empty document";
    return false;
  }
  // Read to the end, the file may have changed since its size was taken.
  std::string bytes(static_cast<std::size_t>(length), '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (bytes.size() > limits.maxBytes) {
        detail = OverLimit(bytes.size(), limits.maxBytes);
        return false;
      }
      bytes.resize(bytes.size() + 4096);
    }
    DWORD read = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1u << 24));
    if (!ReadFile(file.Get(), bytes.data() + got, want, &read, nullptr)) {
      detail = u"cannot read " + std::u16string(path);
      return false;
    }
    if (read == 0) break;
    got += read;
  }
  bytes.resize(got);
  if (bytes.size() > limits.maxBytes) {
    detail = OverLimit(bytes.size(), limits.maxBytes);
    return false;
  }
  Prepared prepared;
  if (!DecodeFile(bytes, prepared, detail)) return false;
  if (!prepared.asBytes) {
    DropDeclaredEncoding(prepared.text);
    std::string().swap(bytes);
  }
  return Read(prepared, bytes, limits, sink, detail);
}

bool ReadXmlText(std::string_view utf8, const XmlLimits& limits, XmlReadSink& sink, std::u16string& detail) {
  if (utf8.size() > limits.maxBytes) {
    detail = OverLimit(utf8.size(), limits.maxBytes);
    return false;
  }
  if (utf8.empty()) {
    detail = u"empty document";
    return false;
  }
  Prepared prepared;
  if (!Utf8ToWide(utf8, prepared.text, detail)) return false;
  DropDeclaredEncoding(prepared.text);
  return Read(prepared, {}, limits, sink, detail);
}

}  // namespace kiv
