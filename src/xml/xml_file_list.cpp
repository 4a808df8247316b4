#include "xml/xml_file_list.hpp"

#include <limits>
#include <utility>

#include "platform/local_time.hpp"
#include "platform/text.hpp"

namespace kiv {
namespace {

int Field(std::u16string_view text, std::size_t pos, std::size_t length) {
  if (pos >= text.size()) return 0;
  return ParseLeadingInt(text.substr(pos, length));
}

uint32_t CreatedTime(std::u16string_view text, LocalClock& clock) {
  if (ParseLeadingInt(text) == 0) return CurrentTime();
  const int year = Field(text, 0, 4);
  const int month = Field(text, 4, 2);
  const int day = Field(text, 6, 2);
  if (year < 1970 || year > 2999 || month < 1 || month > 12 || day < 1 || day > 32) return CurrentTime();
  const int hour = Field(text, 9, 2);
  const int minute = Field(text, 11, 2);
  const int second = Field(text, 13, 2);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return CurrentTime();
  const int64_t t = clock.Compose(year, month, day, hour, minute, second);
  if (t < 0 || t > std::numeric_limits<uint32_t>::max()) return CurrentTime();
  return static_cast<uint32_t>(t);
}

void ReadDrm(std::u16string_view word, int32_t& drm) {
  if (word == u"NO") drm = kXmlDrmNone;
  else if (word == u"FL") drm = kXmlDrmForwardLock;
  else if (word == u"SD") drm = kXmlDrmSeparateDelivery;
  else if (word == u"CD") drm = kXmlDrmCombinedDelivery;
}

void ReadFolderAttr(std::u16string_view word, int32_t& attr) {
  if (word == u"FIX") attr = kXmlFolderFix;
  else if (word == u"RENAME") attr = kXmlFolderRename;
  else if (word == u"HIDDEN") attr = kXmlFolderHidden;
  else if (word == u"NOSUB") attr = kXmlFolderNoSub;
}

using Element = XmlListRecord::Element;
using Attribute = XmlListRecord::Attribute;

Element ElementOf(std::u16string_view name) {
  if (name == u"<file>") return Element::File;
  if (name == u"<folder>") return Element::Folder;
  if (name == u"<audio>") return Element::Audio;
  return Element::Other;
}

Attribute AttributeOf(std::u16string_view name) {
  static constexpr std::pair<std::u16string_view, Attribute> kNames[] = {
      {u"name", Attribute::Name},         {u"path", Attribute::Path},      {u"created", Attribute::Created},
      {u"size", Attribute::Size},         {u"drm", Attribute::Drm},        {u"attr", Attribute::Attr},
      {u"perfomer", Attribute::Performer}, {u"title", Attribute::Title},    {u"album", Attribute::Album},
      {u"duration", Attribute::Duration}, {u"genre", Attribute::Genre}};
  for (const auto& [text, code] : kNames)
    if (name == text) return code;
  return Attribute::Other;
}

// Keeps each node's records in the reader's form instead of the wrapper's full ones: a list
// of many files then costs no allocation per record, and its values share one text.
class ListParser : public XML_PARSER {
 public:
  ListParser(std::vector<XmlListRecord>& records, std::u16string& values, std::size_t& elements)
      : records_(records), values_(values), elements_(elements) {}

 protected:
  void On_Node() override {
    const std::u16string& name = Get_CurrentName();
    if (name == u"<#document>") return;
    const Element element = ElementOf(name);
    if (element == Element::File || element == Element::Folder) ++elements_;
    const int count = Get_Attribute_Count();
    if (count == 0) {
      records_.push_back({element, Attribute::Other, 0, 0});
      return;
    }
    for (int i = 0; i < count; ++i) {
      const std::u16string& value = Get_Attribute_Value(i);
      records_.push_back({element, AttributeOf(Get_Attribute_Name(i)), static_cast<uint32_t>(values_.size()),
                          static_cast<uint32_t>(value.size())});
      values_.append(value);
    }
  }

 private:
  std::vector<XmlListRecord>& records_;
  std::u16string& values_;
  std::size_t& elements_;
};

// Steps through the node records. Each element takes a fixed number of records, advancing
// after every one but the last and never past the final record; the final record, taken
// again when a list ends early, is applied only once.
class RecordReader {
 public:
  RecordReader(const std::vector<XmlListRecord>& nodes, std::u16string_view values) : nodes_(nodes), values_(values) {}

  template <typename Apply>
  void Take(std::size_t& i, int rounds, Apply&& apply) {
    std::size_t applied = std::numeric_limits<std::size_t>::max();
    for (int round = 0; round < rounds; ++round) {
      if (i != applied) {
        const XmlListRecord& r = nodes_[i];
        apply(r.attribute, values_.substr(r.offset, r.length));
        applied = i;
      }
      if (round < rounds - 1 && i + 1 < nodes_.size()) ++i;
    }
  }

  void File(std::size_t& i, XML_FILE_ITEM& item, int rounds, bool backslashPath) {
    item.m_nType = kXmlItemFile;
    Take(i, rounds, [&](Attribute attribute, std::u16string_view value) {
      switch (attribute) {
        case Attribute::Name: item.m_strName.assign(value); break;
        case Attribute::Path:
          item.m_strPath.assign(value);
          if (backslashPath)
            for (char16_t& c : item.m_strPath)
              if (c == u'/') c = u'\\';
          break;
        case Attribute::Created: item.m_tCreated = CreatedTime(value, clock_); break;
        case Attribute::Size: item.m_nSize = ParseLeadingInt(value); break;
        case Attribute::Drm: ReadDrm(value, item.m_nDrm); break;
        default: break;
      }
    });
  }

  void Folder(std::size_t& i, XML_FILE_ITEM& item) {
    item.m_nType = kXmlItemFolder;
    Take(i, 3, [&](Attribute attribute, std::u16string_view value) {
      if (attribute == Attribute::Name) item.m_strName.assign(value);
      else if (attribute == Attribute::Attr) ReadFolderAttr(value, item.m_nAttr);
    });
  }

  void Audio(std::size_t& i, XML_FILE_ITEM& item) {
    Take(i, 5, [&](Attribute attribute, std::u16string_view value) {
      switch (attribute) {
        case Attribute::Performer: item.m_strPerformer.assign(value); break;
        case Attribute::Title: item.m_strTitle.assign(value); break;
        case Attribute::Album: item.m_strAlbum.assign(value); break;
        case Attribute::Duration: item.m_nDuration = ParseLeadingInt(value); break;
        case Attribute::Genre: item.m_strGenre.assign(value); break;
        default: break;
      }
    });
  }

 private:
  const std::vector<XmlListRecord>& nodes_;
  std::u16string_view values_;
  LocalClock clock_;
};

}  // namespace

uint32_t CXmlFileList::ParseCreated(std::u16string_view text) {
  LocalClock clock;
  return CreatedTime(text, clock);
}

int CXmlFileList::Load(std::u16string_view path) {
  Release();
  ListParser parser(m_Nodes, m_strValues, m_nElements);
  parser.Set_Limits(m_limits);
  const bool loaded = parser.Load_From_File(path, nullptr);
  if (!loaded) Release();  // the nodes read before the fault
  m_strLastError = parser.Get_LastError();
  m_strErrorDetail = parser.Get_LoadErrorDetail();
  return loaded ? 1 : 0;
}

void CXmlFileList::Release() {
  std::vector<XmlListRecord>().swap(m_Nodes);
  std::u16string().swap(m_strValues);
  m_nElements = 0;
}

int CXmlFileList::ParseFolderList(XmlFileItems& items) {
  return VisitFolderList([&](XML_FILE_ITEM& item) { items.push_back(std::move(item)); });
}

int CXmlFileList::VisitFolderList(const std::function<void(XML_FILE_ITEM&)>& visit) {
  const std::size_t n = m_Nodes.size();
  if (n == 0) return 0;
  RecordReader reader(m_Nodes, m_strValues);
  for (std::size_t i = 0; i < n; ++i) {
    const Element element = m_Nodes[i].element;
    if (element != Element::File && element != Element::Folder) continue;
    XML_FILE_ITEM item;
    if (element == Element::File) reader.File(i, item, 4, false);
    else reader.Folder(i, item);
    visit(item);
  }
  Release();
  return 1;
}

int CXmlFileList::ParseSoundList(XmlFileItems& items) {
  return VisitSoundList([&](XML_FILE_ITEM& item) { items.push_back(std::move(item)); });
}

int CXmlFileList::VisitSoundList(const std::function<void(XML_FILE_ITEM&)>& visit) {
  const std::size_t n = m_Nodes.size();
  if (n == 0) return 0;
  RecordReader reader(m_Nodes, m_strValues);
  for (std::size_t i = 0; i < n; ++i) {
    const Element element = m_Nodes[i].element;
    if (element == Element::File) {
      XML_FILE_ITEM item;
      reader.File(i, item, 5, true);
      if (i + 1 >= n) {
        // The document ends without the file's tags: kept, with placeholder tags.
        item.m_strPerformer = item.m_strTitle = item.m_strAlbum = item.m_strGenre = u"UNKOWN";
        item.m_nDuration = 0;
        visit(item);
        continue;
      }
      const Element next = m_Nodes[i + 1].element;
      if (next == Element::File) continue;  // a file without tags is dropped; the next starts here
      ++i;
      if (next == Element::Audio) reader.Audio(i, item);
      // Any other element: the file goes in without tags and that record is used up.
      visit(item);
    } else if (element == Element::Folder) {
      XML_FILE_ITEM item;
      reader.Folder(i, item);
      visit(item);
    }
  }
  Release();
  return 1;
}

}  // namespace kiv
