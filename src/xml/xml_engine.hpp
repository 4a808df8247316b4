// The seam between the XML document wrapper and the engine that reads XML (libxml2 here;
// MSXML on Windows). An engine reads one document and tells its nodes to a sink in document
// order; the wrapper turns them into node records. A document with a document type
// declaration does not load (so nothing is declared, expanded or fetched); engines never reach
// the network, and they stop at the first limit crossed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kiv {

// Bounds a load enforces. A document beyond any of them does not load.
struct XmlLimits {
  std::size_t maxBytes = 64u << 20;  // document size in bytes (UTF-8, as stored)
  std::size_t maxNodes = 2'000'000;  // elements, attributes, comments, CDATA, PIs, references
  int maxDepth = 256;                // element nesting; the root element is at depth 1
};

// What an engine tells while it reads a document.
class XmlReadSink {
 public:
  virtual void VisitDocument() = 0;
  // An element: BeginElement gives the slot for its qualified name, NextAttributeName and
  // NextAttributeValue the slots of each attribute in turn (namespace declarations first,
  // named "xmlns" or "xmlns:prefix"), then OpenElement visits it. Its end: CloseElement.
  virtual std::u16string& BeginElement() = 0;
  virtual std::u16string& NextAttributeName() = 0;
  virtual std::u16string& NextAttributeValue() = 0;
  virtual void OpenElement() = 0;
  virtual void CloseElement() = 0;
  // Any other node: "#TEXT#" and "#CDATA#" with their text (adjacent pieces joined, blank
  // text between elements left out), "#comment" and a processing instruction's target.
  virtual void VisitLeaf(std::u16string_view tag, std::u16string_view text) = 0;

 protected:
  ~XmlReadSink() = default;
};

// Reads the local file (a byte order mark or the declaration gives the encoding; a UTF-8 mark
// wins over the declaration). False with a reason in detail when the file is missing or
// unreadable, not well-formed or over a limit; the sink may have seen nodes before the fault.
bool ReadXmlFile(std::u16string_view path, const XmlLimits& limits, XmlReadSink& sink, std::u16string& detail);
// The same for a UTF-8 document in memory (an encoding in its declaration is ignored).
bool ReadXmlText(std::string_view utf8, const XmlLimits& limits, XmlReadSink& sink, std::u16string& detail);

}  // namespace kiv
