// Reader of the XML file lists that the phone sends for a folder listing and for the sound
// list: reads the stored document and turns its node records into one XML_FILE_ITEM per
// <file> or <folder> element, with the tags of a sound file's <audio> element, handing each
// item out as the parse reaches it.
//
// The reader takes a fixed number of attribute records per element (a folder list's <file>
// four, its <folder> three; a sound list's <file> and <audio> five each), whatever element
// those records belong to, so the phone's elements must carry exactly that many attributes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_parser.hpp"

namespace kiv {

inline constexpr int32_t kXmlItemFile = 1;
inline constexpr int32_t kXmlItemFolder = 2;

// Values of the "drm" attribute.
inline constexpr int32_t kXmlDrmNone = 1;            // "NO"
inline constexpr int32_t kXmlDrmForwardLock = 2;     // "FL"
inline constexpr int32_t kXmlDrmSeparateDelivery = 3;  // "SD"
inline constexpr int32_t kXmlDrmCombinedDelivery = 4;  // "CD"

// Values of the folder "attr" attribute (one word gives one flag).
inline constexpr int32_t kXmlFolderFix = 0x4000;     // "FIX"
inline constexpr int32_t kXmlFolderRename = 0x0400;  // "RENAME"
inline constexpr int32_t kXmlFolderHidden = 0x0800;  // "HIDDEN"
inline constexpr int32_t kXmlFolderNoSub = 0x0040;   // "NOSUB"

// One file or folder of a list. A field whose attribute the element lacks keeps its
// initial value (0, empty).
struct XML_FILE_ITEM {
  int32_t m_nType = 0;       // kXmlItemFile or kXmlItemFolder
  std::u16string m_strName;  // file name, or the folder name as the phone gives it
  std::u16string m_strPath;  // folder holding the file; "\\"-separated in sound lists
  uint32_t m_tCreated = 0;   // local time, seconds since 1970
  int32_t m_nSize = 0;
  int32_t m_nDrm = 0;
  int32_t m_nAttr = 0;
  std::u16string m_strPerformer;
  std::u16string m_strTitle;
  std::u16string m_strAlbum;
  int32_t m_nDuration = 0;
  std::u16string m_strGenre;
};

using XmlFileItems = std::vector<XML_FILE_ITEM>;

class CXmlFileList {
 public:
  // Reads the folder list document at the local path (the TempXML work file) and hands its
  // items to visit one at a time, in document order; visit may move what it keeps out of the
  // item. 1 when the whole document read; 0 otherwise (see LastError()), and then visit may
  // have had the items before the fault: the caller drops what it kept of them.
  int VisitFolderList(std::u16string_view path, const std::function<void(XML_FILE_ITEM&)>& visit);
  // The same for the sound list.
  int VisitSoundList(std::u16string_view path, const std::function<void(XML_FILE_ITEM&)>& visit);

  // A "created" value "YYYYMMDD?hhmmss" as local time; the current time when it reads as 0,
  // a field is out of range (year 1970-2999, month 1-12, day 1-32, hour 0-23, minute and
  // second 0-59) or the time does not fit 32 bits.
  static uint32_t ParseCreated(std::u16string_view text);

  // The wrapper's last error and its detail from the last read.
  const std::u16string& LastError() const { return m_strLastError; }
  const std::u16string& LastErrorDetail() const { return m_strErrorDetail; }

  // Bounds given to the wrapper for every read.
  void SetLimits(const XmlLimits& limits) { m_limits = limits; }

 private:
  XmlLimits m_limits;
  std::u16string m_strLastError;
  std::u16string m_strErrorDetail;
};

}  // namespace kiv
