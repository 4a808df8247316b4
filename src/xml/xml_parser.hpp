// XML document wrapper: loads a document through the XML engine and flattens it into node
// records,
// one per element, text or other node, or one per attribute of a node that has attributes,
// each with the node's depth and the chain of its ancestor element names. The nodes are
// visited in document order as the engine reads them; no tree of the document is built.
//
// Loading is hardened for documents that come from a phone: no network access, no DTD
// loading, entities are never expanded (an entity reference stays "&name;"), and size, node
// count and nesting depth are bounded, so a hostile document fails with a last-error text
// instead of exhausting memory or the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_engine.hpp"

namespace kiv {

// One visited node, or one attribute of a visited node that has attributes.
struct XmlNodeRecord {
  std::u16string m_strName;       // bracketed: "<file>", "<#TEXT#>", "<#CDATA#>", "<#comment>"
  uint32_t m_nDepth = 0;          // root element 0
  std::u16string m_strPath;       // bracketed names of the ancestor elements, root first
  std::u16string m_strText;       // value of a text or CDATA node, else empty
  std::u16string m_strAttrName;   // empty when the node has no attributes
  std::u16string m_strAttrValue;  // empty when the node has no attributes
  uint32_t m_nAttrCount = 0;      // attributes of the node, 0 when none
  uint32_t m_nAttrNumber = 0;     // this attribute's position counted from 1, 0 when none
};

// The caller owns the list; a load appends to it.
using XmlNodeList = std::vector<XmlNodeRecord>;

class XML_PARSER : private XmlReadSink {
 public:
  XML_PARSER();
  virtual ~XML_PARSER();
  XML_PARSER(const XML_PARSER&) = delete;
  XML_PARSER& operator=(const XML_PARSER&) = delete;

  // Loads the local file (BOM or declaration give the encoding) and appends the records of
  // its nodes to *records. False with last error "XML Document FAILED to load", and nothing
  // appended, when the file is missing or unreadable, not well-formed, or over a limit.
  bool Load_From_File(std::u16string_view path, XmlNodeList* records);
  // The same from a document held in memory; failure text "XML Buffer FAILED to load".
  bool Load_From_Buffer(std::u16string_view text, XmlNodeList* records);

  void Set_Limits(const XmlLimits& limits) { m_limits = limits; }
  const XmlLimits& Get_Limits() const { return m_limits; }

  // The last error: "Success" after a successful load.
  const std::u16string& Get_LastError() const { return m_strLastError; }
  // Why the last load failed, in the engine's or our words ("line 3: ..."); empty after success.
  const std::u16string& Get_LoadErrorDetail() const { return m_strErrorDetail; }

  // The current node: inside On_Node() the node being visited, after a load the last one.
  const std::u16string& Get_CurrentName() const { return m_strCurrentName; }  // "<file>"
  const std::u16string& Get_CurrentTag() const { return m_strCurrentTag; }    // "file"
  const std::u16string& Get_CurrentText() const { return m_strCurrentText; }
  const std::u16string& Get_CurrentPath() const { return m_strCurrentPath; }
  int Get_CurrentDepth() const { return m_nDepth; }
  bool Is_TextNode() const { return m_strCurrentName == u"<#TEXT#>"; }
  bool Is_CDataSection() const { return m_strCurrentName == u"<#CDATA#>"; }
  // Whether the current node is the root element or the document (no ancestor elements).
  bool Is_Root() const { return m_strCurrentPath.empty(); }
  // Whether the path ends with the given text, e.g. "<list><file>".
  bool Is_Child_of(std::u16string_view pathEnd) const;

  // Attributes of the current node, in document order (namespace declarations first).
  int Get_Attribute_Count() const { return m_nAttributes; }
  // Name or value at index 0 to count - 1; otherwise the empty string and a last error.
  const std::u16string& Get_Attribute_Name(int index);
  const std::u16string& Get_Attribute_Value(int index);
  // Selects the attribute with exactly this name; false (and no selection) when none has it.
  bool Is_Having_Attribute(std::u16string_view name);
  // Value of the selected attribute; the empty string and a last error when none is selected.
  const std::u16string& Get_Attribute_Value();

 protected:
  // Called once for every visited node, the document node included (depth -1, name
  // "<#document>"), while the document is read: a load that then fails has shown the nodes
  // before the fault, and a handler that keeps what it sees drops it when the load fails.
  // The default appends the node's records to the load's list (removed again on failure).
  virtual void On_Node();
  // The list the running load appends to.
  XmlNodeList* Records() const { return m_pRecords; }

 private:
  void Start(const char16_t* failure, XmlNodeList* records);
  bool Finish(bool loaded, std::u16string detail);
  bool Fail(std::u16string detail);
  void MakeCurrent(std::u16string_view tag);
  void ClearAttributes();

  // What the engine tells while it reads (XmlReadSink). The attribute slots' strings are
  // reused from node to node, so that a node's attributes cost no allocation once a few
  // nodes have been read.
  void VisitDocument() override;
  std::u16string& BeginElement() override;
  std::u16string& NextAttributeName() override;
  std::u16string& NextAttributeValue() override;
  void OpenElement() override;
  void CloseElement() override;
  void VisitLeaf(std::u16string_view tag, std::u16string_view text) override;

  int m_nDepth = -2;
  int m_nOpenElements = 0;
  std::vector<std::size_t> m_PathLengths;  // path length before each open element
  XmlNodeList* m_pRecords = nullptr;
  std::size_t m_nRecordsBefore = 0;
  std::u16string m_strCurrentName;
  std::u16string m_strCurrentTag;
  std::u16string m_strCurrentPath;
  std::u16string m_strCurrentText;
  std::u16string m_strLastError;
  std::u16string m_strErrorDetail;
  const std::u16string m_strEmpty;
  std::vector<std::u16string> m_AttrNames;   // the first m_nAttributes are the current node's
  std::vector<std::u16string> m_AttrValues;
  int m_nAttributes = 0;
  int m_nCurrentAttribute = -1;
  XmlLimits m_limits;
  const char16_t* m_szFailure = u"";
};

}  // namespace kiv
