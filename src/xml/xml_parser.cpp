#include "xml/xml_parser.hpp"

#include <utility>

#include "platform/text.hpp"
#include "platform/trace.hpp"

namespace kiv {

XML_PARSER::XML_PARSER() : m_strLastError(u"Success") {}

XML_PARSER::~XML_PARSER() = default;

bool XML_PARSER::Fail(std::u16string detail) {
  m_strLastError = m_szFailure;
  m_strErrorDetail = std::move(detail);
  Trace(u"XML_PARSER: " + m_strLastError + u": " + m_strErrorDetail + u"\n");
  return false;
}

void XML_PARSER::Start(const char16_t* failure, XmlNodeList* records) {
  m_strLastError = u"Success";
  m_strErrorDetail.clear();
  m_szFailure = failure;
  m_pRecords = records;
  m_nRecordsBefore = records ? records->size() : 0;
  m_nDepth = -2;
  m_nOpenElements = 0;
  m_PathLengths.clear();
  m_strCurrentPath.clear();
}

bool XML_PARSER::Finish(bool loaded, std::u16string detail) {
  m_nDepth = -2;
  m_strCurrentPath.clear();
  m_nCurrentAttribute = -1;
  if (loaded) return true;
  if (m_pRecords) m_pRecords->resize(m_nRecordsBefore);
  return Fail(std::move(detail));
}

bool XML_PARSER::Load_From_File(std::u16string_view path, XmlNodeList* records) {
  Start(u"XML Document FAILED to load", records);
  std::u16string detail;
  const bool loaded = ReadXmlFile(path, m_limits, *this, detail);
  return Finish(loaded, std::move(detail));
}

bool XML_PARSER::Load_From_Buffer(std::u16string_view text, XmlNodeList* records) {
  Start(u"XML Buffer FAILED to load", records);
  std::u16string detail;
  // The text goes to the engine as UTF-8, so an encoding in its declaration is ignored.
  const bool loaded = ReadXmlText(U16ToUtf8(text), m_limits, *this, detail);
  return Finish(loaded, std::move(detail));
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

std::u16string& XML_PARSER::BeginElement() {
  ClearAttributes();
  m_strCurrentText.clear();
  return m_strCurrentTag;
}

void XML_PARSER::OpenElement() {
  m_nDepth = m_nOpenElements;
  m_strCurrentName.assign(1, u'<').append(m_strCurrentTag).push_back(u'>');
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
