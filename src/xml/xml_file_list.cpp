#include "xml/xml_file_list.hpp"

#include <ctime>
#include <limits>
#include <utility>

#include "platform/text.hpp"

namespace kiv {
namespace {

uint32_t Now() { return static_cast<uint32_t>(std::time(nullptr)); }

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

long UtcOffsetAt(int64_t t) {
  const std::time_t at = static_cast<std::time_t>(t);
  std::tm local{};
  if (!localtime_r(&at, &local)) return 0;
  return local.tm_gmtoff;
}

// The local date and time as seconds since 1970, the zone's daylight saving rules deciding
// the offset, as mktime with tm_isdst = -1 gives it. mktime re-reads the zone file on every
// call when TZ is unset, which costs more than the whole parse of a large list, so it is only
// asked within a day of a change of offset (where the skipped and repeated hours are its
// choice); elsewhere the one offset of the day applies. Days past the month's end roll into
// the next month. The caller has run tzset().
int64_t ComposeLocalTime(int year, int month, int day, int hour, int minute, int second) {
  const int64_t asUtc =
      (DaysFromCivil(year, month, 1) + (day - 1)) * 86400 + hour * 3600 + minute * 60 + second;
  const long before = UtcOffsetAt(asUtc - 86400);
  if (before == UtcOffsetAt(asUtc + 86400) && before == UtcOffsetAt(asUtc - before)) return asUtc - before;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm));
}

int Field(std::u16string_view text, std::size_t pos, std::size_t length) {
  if (pos >= text.size()) return 0;
  return ParseLeadingInt(text.substr(pos, length));
}

uint32_t CreatedTime(std::u16string_view text) {
  if (ParseLeadingInt(text) == 0) return Now();
  const int year = Field(text, 0, 4);
  const int month = Field(text, 4, 2);
  const int day = Field(text, 6, 2);
  if (year < 1970 || year > 2999 || month < 1 || month > 12 || day < 1 || day > 32) return Now();
  const int hour = Field(text, 9, 2);
  const int minute = Field(text, 11, 2);
  const int second = Field(text, 13, 2);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return Now();
  const int64_t t = ComposeLocalTime(year, month, day, hour, minute, second);
  if (t < 0 || t > std::numeric_limits<uint32_t>::max()) return Now();
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
// of many files then costs one string per attribute value and nothing per path.
class ListParser : public XML_PARSER {
 public:
  explicit ListParser(std::vector<XmlListRecord>& records) : records_(records) {}

 protected:
  void On_Node() override {
    const std::u16string& name = Get_CurrentName();
    if (name == u"<#document>") return;
    const Element element = ElementOf(name);
    const int count = Get_Attribute_Count();
    if (count == 0) {
      records_.push_back({element, Attribute::Other, {}});
      return;
    }
    for (int i = 0; i < count; ++i)
      records_.push_back({element, AttributeOf(Get_Attribute_Name(i)), TakeAttributeValue(i)});
  }

 private:
  std::vector<XmlListRecord>& records_;
};

// Steps through the node records. Each element takes a fixed number of records, advancing
// after every one but the last and never past the final record; the final record, taken
// again when a list ends early, is applied only once, so its value can be moved out.
class RecordReader {
 public:
  explicit RecordReader(std::vector<XmlListRecord>& nodes) : nodes_(nodes) {}

  template <typename Apply>
  void Take(std::size_t& i, int rounds, Apply&& apply) {
    std::size_t applied = std::numeric_limits<std::size_t>::max();
    for (int round = 0; round < rounds; ++round) {
      if (i != applied) {
        apply(nodes_[i]);
        applied = i;
      }
      if (round < rounds - 1 && i + 1 < nodes_.size()) ++i;
    }
  }

  void File(std::size_t& i, XML_FILE_ITEM& item, int rounds, bool backslashPath) {
    item.m_nType = kXmlItemFile;
    Take(i, rounds, [&](XmlListRecord& r) {
      switch (r.attribute) {
        case Attribute::Name: item.m_strName = std::move(r.value); break;
        case Attribute::Path:
          item.m_strPath = std::move(r.value);
          if (backslashPath)
            for (char16_t& c : item.m_strPath)
              if (c == u'/') c = u'\\';
          break;
        case Attribute::Created: item.m_tCreated = CreatedTime(r.value); break;
        case Attribute::Size: item.m_nSize = ParseLeadingInt(r.value); break;
        case Attribute::Drm: ReadDrm(r.value, item.m_nDrm); break;
        default: break;
      }
    });
  }

  void Folder(std::size_t& i, XML_FILE_ITEM& item) {
    item.m_nType = kXmlItemFolder;
    Take(i, 3, [&](XmlListRecord& r) {
      if (r.attribute == Attribute::Name) item.m_strName = std::move(r.value);
      else if (r.attribute == Attribute::Attr) ReadFolderAttr(r.value, item.m_nAttr);
    });
  }

  void Audio(std::size_t& i, XML_FILE_ITEM& item) {
    Take(i, 5, [&](XmlListRecord& r) {
      switch (r.attribute) {
        case Attribute::Performer: item.m_strPerformer = std::move(r.value); break;
        case Attribute::Title: item.m_strTitle = std::move(r.value); break;
        case Attribute::Album: item.m_strAlbum = std::move(r.value); break;
        case Attribute::Duration: item.m_nDuration = ParseLeadingInt(r.value); break;
        case Attribute::Genre: item.m_strGenre = std::move(r.value); break;
        default: break;
      }
    });
  }

 private:
  std::vector<XmlListRecord>& nodes_;
};

}  // namespace

uint32_t CXmlFileList::ParseCreated(std::u16string_view text) {
  tzset();
  return CreatedTime(text);
}

int CXmlFileList::Load(std::u16string_view path) {
  m_Nodes.clear();
  ListParser parser(m_Nodes);
  parser.Set_Limits(m_limits);
  const bool loaded = parser.Load_From_File(path, nullptr);
  m_strLastError = parser.Get_LastError();
  m_strErrorDetail = parser.Get_LoadErrorDetail();
  return loaded ? 1 : 0;
}

int CXmlFileList::ParseFolderList(XmlFileItems& items) {
  const std::size_t n = m_Nodes.size();
  if (n == 0) return 0;
  tzset();
  RecordReader reader(m_Nodes);
  for (std::size_t i = 0; i < n; ++i) {
    const Element element = m_Nodes[i].element;
    if (element == Element::File) {
      XML_FILE_ITEM item;
      reader.File(i, item, 4, false);
      items.push_back(std::move(item));
    } else if (element == Element::Folder) {
      XML_FILE_ITEM item;
      reader.Folder(i, item);
      items.push_back(std::move(item));
    }
  }
  std::vector<XmlListRecord>().swap(m_Nodes);
  return 1;
}

int CXmlFileList::ParseSoundList(XmlFileItems& items) {
  const std::size_t n = m_Nodes.size();
  if (n == 0) return 0;
  tzset();
  RecordReader reader(m_Nodes);
  for (std::size_t i = 0; i < n; ++i) {
    const Element element = m_Nodes[i].element;
    if (element == Element::File) {
      XML_FILE_ITEM item;
      reader.File(i, item, 5, true);
      if (i + 1 >= n) {
        // The document ends without the file's tags: kept, with placeholder tags.
        item.m_strPerformer = item.m_strTitle = item.m_strAlbum = item.m_strGenre = u"UNKOWN";
        item.m_nDuration = 0;
        items.push_back(std::move(item));
        continue;
      }
      const Element next = m_Nodes[i + 1].element;
      if (next == Element::File) continue;  // a file without tags is dropped; the next starts here
      ++i;
      if (next == Element::Audio) reader.Audio(i, item);
      // Any other element: the file goes in without tags and that record is used up.
      items.push_back(std::move(item));
    } else if (element == Element::Folder) {
      XML_FILE_ITEM item;
      reader.Folder(i, item);
      items.push_back(std::move(item));
    }
  }
  std::vector<XmlListRecord>().swap(m_Nodes);
  return 1;
}

}  // namespace kiv
