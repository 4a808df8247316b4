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

enum class Element : uint8_t { Other, File, Folder, Audio };
enum class Attribute : uint8_t { Other, Name, Path, Created, Size, Drm, Attr, Performer, Title, Album, Duration, Genre };

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

// Turns the node records into items as the parse reaches them, holding only the item being
// read: a list of many files is never held whole besides what the caller keeps of it.
//
// A node gives one record per attribute, or one record when it has none. Each element takes
// a fixed number of records, its own first, whatever elements the following records belong
// to (a folder list's <file> four, its <folder> three; a sound list's <file> and <audio> five
// each). A list that ends first leaves the item with the records it had.
//
// In a sound list the record after a file's decides its tags: an <audio> record starts them,
// a <file> record drops the file (which has none) and starts the next one, and any other
// record is used up, the file going in without tags. A file that ends the list gets
// placeholder tags.
class ItemStream : public XML_PARSER {
 public:
  ItemStream(bool sound, const std::function<void(XML_FILE_ITEM&)>& visit) : sound_(sound), visit_(visit) {}

  // The end of the document: the item being read goes out as it stands.
  void Finish() {
    if (state_ == State::AfterFile || (state_ == State::File && sound_)) {
      item_.m_strPerformer = item_.m_strTitle = item_.m_strAlbum = item_.m_strGenre = u"UNKOWN";
      item_.m_nDuration = 0;
    }
    if (state_ != State::Idle) Emit();
  }

 protected:
  void On_Node() override {
    const std::u16string& name = Get_CurrentName();
    if (name == u"<#document>") return;
    const Element element = ElementOf(name);
    const int count = Get_Attribute_Count();
    if (count == 0) Take(element, Attribute::Other, {});
    for (int i = 0; i < count; ++i) Take(element, AttributeOf(Get_Attribute_Name(i)), Get_Attribute_Value(i));
  }

 private:
  enum class State { Idle, File, Folder, AfterFile, Audio };

  void Take(Element element, Attribute attribute, std::u16string_view value) {
    switch (state_) {
      case State::Idle:
        Start(element, attribute, value);
        return;
      case State::AfterFile:
        if (element == Element::File) {
          Start(element, attribute, value);
        } else if (element == Element::Audio) {
          Begin(State::Audio, 5, attribute, value);
        } else {
          Emit();
        }
        return;
      default:
        Apply(attribute, value);
    }
  }

  void Start(Element element, Attribute attribute, std::u16string_view value) {
    if (element != Element::File && element != Element::Folder) return;
    item_ = XML_FILE_ITEM{};
    if (element == Element::File) {
      item_.m_nType = kXmlItemFile;
      Begin(State::File, sound_ ? 5 : 4, attribute, value);
    } else {
      item_.m_nType = kXmlItemFolder;
      Begin(State::Folder, 3, attribute, value);
    }
  }

  void Begin(State state, int records, Attribute attribute, std::u16string_view value) {
    state_ = state;
    left_ = records;
    Apply(attribute, value);
  }

  // Applies one record to the item being read; its last record completes it.
  void Apply(Attribute attribute, std::u16string_view value) {
    switch (state_) {
      case State::File: ApplyFile(attribute, value); break;
      case State::Folder:
        if (attribute == Attribute::Name) item_.m_strName.assign(value);
        else if (attribute == Attribute::Attr) ReadFolderAttr(value, item_.m_nAttr);
        break;
      case State::Audio: ApplyAudio(attribute, value); break;
      default: return;
    }
    if (--left_ > 0) return;
    if (state_ == State::File && sound_) state_ = State::AfterFile;
    else Emit();
  }

  void ApplyFile(Attribute attribute, std::u16string_view value) {
    switch (attribute) {
      case Attribute::Name: item_.m_strName.assign(value); break;
      case Attribute::Path:
        item_.m_strPath.assign(value);
        // Sound lists give paths with "/"; the tree's form uses "\\".
        if (sound_)
          for (char16_t& c : item_.m_strPath)
            if (c == u'/') c = u'\\';
        break;
      case Attribute::Created: item_.m_tCreated = CreatedTime(value, clock_); break;
      case Attribute::Size: item_.m_nSize = ParseLeadingInt(value); break;
      case Attribute::Drm: ReadDrm(value, item_.m_nDrm); break;
      default: break;
    }
  }

  void ApplyAudio(Attribute attribute, std::u16string_view value) {
    switch (attribute) {
      case Attribute::Performer: item_.m_strPerformer.assign(value); break;
      case Attribute::Title: item_.m_strTitle.assign(value); break;
      case Attribute::Album: item_.m_strAlbum.assign(value); break;
      case Attribute::Duration: item_.m_nDuration = ParseLeadingInt(value); break;
      case Attribute::Genre: item_.m_strGenre.assign(value); break;
      default: break;
    }
  }

  void Emit() {
    state_ = State::Idle;
    visit_(item_);
  }

  const bool sound_;
  const std::function<void(XML_FILE_ITEM&)>& visit_;
  State state_ = State::Idle;
  int left_ = 0;
  XML_FILE_ITEM item_;
  LocalClock clock_;
};

int ReadList(std::u16string_view path, const XmlLimits& limits, bool sound,
             const std::function<void(XML_FILE_ITEM&)>& visit, std::u16string& error, std::u16string& detail) {
  ItemStream stream(sound, visit);
  stream.Set_Limits(limits);
  const bool loaded = stream.Load_From_File(path, nullptr);
  error = stream.Get_LastError();
  detail = stream.Get_LoadErrorDetail();
  if (!loaded) return 0;
  stream.Finish();
  return 1;
}

}  // namespace

uint32_t CXmlFileList::ParseCreated(std::u16string_view text) {
  LocalClock clock;
  return CreatedTime(text, clock);
}

int CXmlFileList::VisitFolderList(std::u16string_view path, const std::function<void(XML_FILE_ITEM&)>& visit) {
  return ReadList(path, m_limits, false, visit, m_strLastError, m_strErrorDetail);
}

int CXmlFileList::VisitSoundList(std::u16string_view path, const std::function<void(XML_FILE_ITEM&)>& visit) {
  return ReadList(path, m_limits, true, visit, m_strLastError, m_strErrorDetail);
}

}  // namespace kiv
