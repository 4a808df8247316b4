// XML document wrapper (node records, current-node getters, hardened loading) and the reader
// of the phone's folder and sound lists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include "kivtest.hpp"
#include "platform/text.hpp"
#include "xml/xml_file_list.hpp"
#include "xml/xml_parser.hpp"

namespace kiv {
namespace {

namespace fs = std::filesystem;

// A node record as "name depth [path] 'text' attribute=value number/count".
std::string Describe(const XmlNodeRecord& r) {
  return U16ToUtf8(r.m_strName) + " d" + std::to_string(r.m_nDepth) + " [" + U16ToUtf8(r.m_strPath) + "] '" +
         U16ToUtf8(r.m_strText) + "' " + U16ToUtf8(r.m_strAttrName) + "=" + U16ToUtf8(r.m_strAttrValue) + " " +
         std::to_string(r.m_nAttrNumber) + "/" + std::to_string(r.m_nAttrCount);
}

std::vector<std::string> Describe(const XmlNodeList& list) {
  std::vector<std::string> out;
  for (const auto& r : list) out.push_back(Describe(r));
  return out;
}

// A private folder for the documents a test writes; removed afterwards.
class TempFolder {
 public:
  std::u16string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_.path / name, std::ios::binary) << bytes;
    return Utf8ToU16((dir_.path / name).string());
  }
  // A list as the library stores it: UTF-8 with a byte order mark.
  std::u16string WriteList(const std::string& body) const {
    return Write("list.xml", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + body);
  }
  std::string Url(const std::string& name) const { return "file://" + (dir_.path / name).string(); }

 private:
  kivtest::TempDir dir_{"xml"};
};

// Sets TZ for the test and puts the previous zone back, the zone in force following the
// variable both ways.
class ScopedTz {
 public:
  explicit ScopedTz(const char* zone) : env_("TZ", zone) { tzset(); }

 private:
  struct Reload {
    ~Reload() { tzset(); }
  } reload_;  // declared first: reloads after env_ has put TZ back
  kivtest::ScopedEnv env_;
};

// UTF-16LE with its byte order mark.
std::string Utf16(std::u16string_view text) {
  std::string out = "\xFF\xFE";
  for (char16_t c : text) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return out;
}

TEST(XmlParserTest, BufferGivesOneRecordPerNodeOrAttribute) {
  struct Case {
    const char16_t* doc;
    std::vector<std::string> records;
  };
  const Case cases[] = {
      {u"<r><file a=\"1\" b=\"x y\">hi</file></r>",
       {"<r> d0 [] '' = 0/0", "<file> d1 [<r>] '' a=1 1/2", "<file> d1 [<r>] '' b=x y 2/2",
        "<#TEXT#> d2 [<r><file>] 'hi' = 0/0"}},
      {u"<r><!--note--><![CDATA[x<y]]><?pi data?></r>",
       {"<r> d0 [] '' = 0/0", "<#comment> d1 [<r>] '' = 0/0", "<#CDATA#> d1 [<r>] 'x<y' = 0/0", "<pi> d1 [<r>] '' = 0/0"}},
      {u"<r> a <b/>c</r>", {"<r> d0 [] '' = 0/0", "<#TEXT#> d1 [<r>] ' a ' = 0/0", "<b> d1 [<r>] '' = 0/0",
                            "<#TEXT#> d1 [<r>] 'c' = 0/0"}},
      // Character references and predefined entities are decoded.
      {u"<r v=\"&amp;&#x20AC;&quot;\">&lt;&#65;&#x1F600;</r>",
       {"<r> d0 [] '' v=&€\" 1/1", "<#TEXT#> d1 [<r>] '<A😀' = 0/0"}},
      // Namespace declarations come before the attributes; prefixes stay in the names.
      {u"<p:r xmlns:p=\"urn:x\" p:a=\"1\" b=\"2\"><q xmlns=\"urn:d\"/></p:r>",
       {"<p:r> d0 [] '' xmlns:p=urn:x 1/3", "<p:r> d0 [] '' p:a=1 2/3", "<p:r> d0 [] '' b=2 3/3",
        "<q> d1 [<p:r>] '' xmlns=urn:d 1/1"}},
      // Adjacent CDATA sections are one node; text after one starts another.
      {u"<r><![CDATA[a]]><![CDATA[b]]>t<![CDATA[c]]></r>",
       {"<r> d0 [] '' = 0/0", "<#CDATA#> d1 [<r>] 'ab' = 0/0", "<#TEXT#> d1 [<r>] 't' = 0/0",
        "<#CDATA#> d1 [<r>] 'c' = 0/0"}},
      // A written ampersand is not mistaken for a reference; a tab becomes a space, a
      // character reference to a line feed stays one.
      {u"<r v=\"&#38;&amp;e;&#x3C;\" w=\"a&#10;b\tc\"/>", {"<r> d0 [] '' v=&&e;< 1/2", "<r> d0 [] '' w=a\nb c 2/2"}},
      {u"<Caf\u00E9 n\u00E4me=\"\u20AC\u00DF\">\u65E5\u672C \U0001F3B5</Caf\u00E9>",
       {"<Café> d0 [] '' näme=€ß 1/1", "<#TEXT#> d1 [<Café>] '日本 🎵' = 0/0"}},
  };
  for (const auto& c : cases) {
    XML_PARSER parser;
    XmlNodeList list;
    ASSERT_TRUE(parser.Load_From_Buffer(c.doc, &list)) << U16ToUtf8(parser.Get_LoadErrorDetail());
    EXPECT_EQ(parser.Get_LastError(), u"Success");
    EXPECT_TRUE(parser.Get_LoadErrorDetail().empty());
    EXPECT_EQ(Describe(list), c.records) << U16ToUtf8(c.doc);
  }
}

TEST(XmlParserTest, EncodingComesFromBomOrDeclaration) {
  TempFolder dir;
  const std::u16string body = u"<r a=\"\u00E4\">\u20AC\U0001F600</r>";
  const std::u16string decl16 = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + body;
  const std::vector<std::string> records = {"<r> d0 [] '' a=ä 1/1", "<#TEXT#> d1 [<r>] '€😀' = 0/0"};
  const std::pair<std::string, std::string> files[] = {
      {"utf16le.xml", Utf16(decl16)},
      {"latin1.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r a=\"\xE4\">\x80</r>"},
      // A UTF-8 byte order mark wins over a declaration naming another encoding.
      {"bom.xml", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + U16ToUtf8(body)},
  };
  for (const auto& [name, bytes] : files) {
    XML_PARSER parser;
    XmlNodeList list;
    ASSERT_TRUE(parser.Load_From_File(dir.Write(name, bytes), &list)) << name;
    // Latin-1 0x80 is the control character U+0080, not the euro sign.
    const std::vector<std::string> latin1 = {"<r> d0 [] '' a=ä 1/1", "<#TEXT#> d1 [<r>] '\xC2\x80' = 0/0"};
    EXPECT_EQ(Describe(list), name == "latin1.xml" ? latin1 : records) << name;
  }
  // Text in memory is already decoded: a declared encoding does not apply to it.
  XML_PARSER parser;
  XmlNodeList list;
  ASSERT_TRUE(parser.Load_From_Buffer(u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + body, &list));
  EXPECT_EQ(Describe(list), records);
}

TEST(XmlParserTest, FailedLoadAppendsNothingAndNextLoadSucceeds) {
  const std::u16string bad[] = {u"<r>", u"<a></b>", u"<r a='1' a='2'/>", u"text", u"<r/><r/>", u"", u"<r>&nope;</r>",
                                u"<r a=\"<\"/>"};
  for (const auto& doc : bad) {
    XML_PARSER parser;
    XmlNodeList list(1);
    list[0].m_strName = u"<earlier>";
    EXPECT_FALSE(parser.Load_From_Buffer(doc, &list)) << U16ToUtf8(doc);
    EXPECT_EQ(parser.Get_LastError(), u"XML Buffer FAILED to load") << U16ToUtf8(doc);
    EXPECT_FALSE(parser.Get_LoadErrorDetail().empty()) << U16ToUtf8(doc);
    ASSERT_EQ(list.size(), 1u) << U16ToUtf8(doc);
    EXPECT_EQ(list[0].m_strName, u"<earlier>");

    EXPECT_TRUE(parser.Load_From_Buffer(u"<ok/>", &list));
    EXPECT_EQ(parser.Get_LastError(), u"Success");
    EXPECT_TRUE(parser.Get_LoadErrorDetail().empty());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].m_strName, u"<ok>");
  }

  TempFolder dir;
  std::vector<std::u16string> files = {dir.Write("bad.xml", "<r><a></r>"), dir.Write("empty.xml", ""),
                                       dir.Write("missing/x.xml", ""), fs::temp_directory_path().u16string()};
#ifndef _WIN32
  // A named pipe in the document's place fails at once instead of waiting for a writer.
  const std::u16string pipe = dir.Write("pipe.xml", "");
  fs::remove(U16ToUtf8(pipe));
  ASSERT_EQ(::mkfifo(U16ToUtf8(pipe).c_str(), 0600), 0);
  files.push_back(pipe);
#endif
  for (const auto& path : files) {
    XML_PARSER parser;
    XmlNodeList list;
    EXPECT_FALSE(parser.Load_From_File(path, &list)) << U16ToUtf8(path);
    EXPECT_EQ(parser.Get_LastError(), u"XML Document FAILED to load");
    EXPECT_FALSE(parser.Get_LoadErrorDetail().empty());
    EXPECT_TRUE(list.empty());
  }
}

TEST(XmlParserTest, LimitsHoldAtTheirBoundary) {
  struct Case {
    const char16_t* doc;
    XmlLimits limits;
    bool loads;
  };
  const Case cases[] = {
      // Size counts UTF-8 bytes: the text is 9 bytes but 8 UTF-16 units.
      {u"<r>\u00E4</r>", {9, 100, 10}, true},
      {u"<r>\u00E4</r>", {8, 100, 10}, false},
      // Nodes: the elements, the attribute and the comment make four; text is not counted.
      {u"<r><a x=\"1\">t</a><!--c--></r>", {1000, 4, 10}, true},
      {u"<r><a x=\"1\">t</a><!--c--></r>", {1000, 3, 10}, false},
      {u"<a><b><c/></b></a>", {1000, 100, 3}, true},
      {u"<a><b><c/></b></a>", {1000, 100, 2}, false},
  };
  TempFolder dir;
  for (const auto& c : cases) {
    const std::u16string path = dir.Write("limit.xml", U16ToUtf8(c.doc));
    for (bool fromFile : {false, true}) {
      XML_PARSER parser;
      parser.Set_Limits(c.limits);
      XmlNodeList list;
      const bool loaded = fromFile ? parser.Load_From_File(path, &list) : parser.Load_From_Buffer(c.doc, &list);
      EXPECT_EQ(loaded, c.loads) << U16ToUtf8(c.doc) << " file " << fromFile;
      EXPECT_EQ(list.empty(), !c.loads);
      EXPECT_EQ(parser.Get_LoadErrorDetail().empty(), c.loads);
    }
  }
}

TEST(XmlParserTest, HostileEntitiesAreNeitherExpandedNorRead) {
  TempFolder dir;
  dir.Write("secret.txt", "SECRET-CONTENT");
  std::u16string laughs = u"<!DOCTYPE r [<!ENTITY l0 \"lollollollollol\">";
  for (int i = 1; i <= 9; ++i) {
    laughs += u"<!ENTITY l" + Utf8ToU16(std::to_string(i)) + u" \"";
    for (int k = 0; k < 10; ++k) laughs += u"&l" + Utf8ToU16(std::to_string(i - 1)) + u";";
    laughs += u"\">";
  }
  laughs += u"]>";
  const std::u16string external = u"<!DOCTYPE r [<!ENTITY x SYSTEM \"" + Utf8ToU16(dir.Url("secret.txt")) +
                                  u"\">]><r>&x;</r>";
  // Any document type declaration ends the read: nothing is declared, expanded or fetched.
  for (const std::u16string& doc : {laughs + u"<r a=\"&l9;\">&l9;</r>", laughs + u"<r a=\"&l2;\"/>", external,
                                    std::u16string(u"<!DOCTYPE r [<!ENTITY e \"<x/>\">]><r>&e;</r>")}) {
    XML_PARSER parser;
    XmlNodeList list;
    EXPECT_FALSE(parser.Load_From_Buffer(doc, &list));
    EXPECT_EQ(parser.Get_LoadErrorDetail(), u"document type declarations are not allowed");
    EXPECT_TRUE(list.empty());
  }
}

// Records what the current-node getters give while each node is visited.
class ProbeParser : public XML_PARSER {
 public:
  std::function<void(ProbeParser&)> check;
  std::vector<std::string> visits;

 protected:
  void On_Node() override {
    visits.push_back(U16ToUtf8(Get_CurrentName()) + " " + U16ToUtf8(Get_CurrentTag()) + " " +
                     std::to_string(Get_CurrentDepth()) + " [" + U16ToUtf8(Get_CurrentPath()) + "] " +
                     (Is_Root() ? "root " : "") + (Is_TextNode() ? "text " : "") + (Is_CDataSection() ? "cdata " : "") +
                     "'" + U16ToUtf8(Get_CurrentText()) + "' " + std::to_string(Get_Attribute_Count()));
    if (check) check(*this);
    XML_PARSER::On_Node();
  }
};

TEST(XmlParserTest, HandlerSeesEveryNodeIncludingTheDocument) {
  ProbeParser parser;
  std::vector<std::string> childOf;
  parser.check = [&](ProbeParser& p) {
    if (!p.Is_TextNode()) return;
    for (const char16_t* end : {u"<a><b>", u"<b>", u"<a>", u"<x><a><b>", u""})
      childOf.push_back(U16ToUtf8(end) + (p.Is_Child_of(end) ? " yes" : " no"));
  };
  XmlNodeList list;
  ASSERT_TRUE(parser.Load_From_Buffer(u"<a x=\"1\" y=\"2\"><b>t</b><![CDATA[c]]></a>", &list));
  EXPECT_EQ(parser.visits, (std::vector<std::string>{"<#document> #document -1 [] root '' 0", "<a> a 0 [] root '' 2",
                                                     "<b> b 1 [<a>] '' 0", "<#TEXT#> #TEXT# 2 [<a><b>] text 't' 0",
                                                     "<#CDATA#> #CDATA# 1 [<a>] cdata 'c' 0"}));
  EXPECT_EQ(childOf, (std::vector<std::string>{"<a><b> yes", "<b> yes", "<a> no", "<x><a><b> no", " yes"}));
  EXPECT_EQ(list.size(), 5u);  // the base handler still appended the records

  // Without a list the handler is still called for every node.
  parser.visits.clear();
  parser.check = nullptr;
  EXPECT_TRUE(parser.Load_From_Buffer(u"<a><b/></a>", nullptr));
  EXPECT_EQ(parser.visits.size(), 3u);
}

TEST(XmlParserTest, AttributeGettersAndTheirFailures) {
  ProbeParser parser;
  std::vector<std::string> log;
  auto note = [&](const std::u16string& got, XML_PARSER& p) {
    log.push_back(U16ToUtf8(got) + "|" + U16ToUtf8(p.Get_LastError()));
  };
  parser.check = [&](ProbeParser& p) {
    if (p.Get_CurrentName() == u"<e>") {
      note(p.Get_Attribute_Name(0), p);
      note(p.Get_Attribute_Value(1), p);
      note(p.Get_Attribute_Name(2), p);
      note(p.Get_Attribute_Value(-1), p);
      note(p.Get_Attribute_Value(), p);  // nothing selected yet
      log.push_back(p.Is_Having_Attribute(u"second") ? "has" : "lacks");
      note(p.Get_Attribute_Value(), p);
      log.push_back(p.Is_Having_Attribute(u"sec") ? "has" : "lacks");
      note(p.Get_Attribute_Value(), p);  // a failed lookup drops the selection
      EXPECT_TRUE(p.Is_Having_Attribute(u"first"));
    } else if (p.Get_CurrentName() == u"<f>") {
      note(p.Get_Attribute_Value(), p);  // a selection does not carry over to the next node
      note(p.Get_Attribute_Name(-1), p);
    }
  };
  ASSERT_TRUE(parser.Load_From_Buffer(u"<e first=\"1\" second=\"two\"><f g=\"3\"/></e>", nullptr));
  const std::string name = "|XML_PARSER::Get_Attribute_Name(int) failed";
  const std::string value = "|XML_PARSER::Get_Attribute_Value(int) failed";
  const std::string none = "|XML_PARSER::Get_Attribute_Value()  : Can't Retrieve an Attribute";
  EXPECT_EQ(log, (std::vector<std::string>{"first|Success", "two|Success", name, value, none, "has", "two" + none,
                                           "lacks", none, none, name}));
}

// An item as "type|name|path|created|size|drm|attr", its tags appended when it has any.
std::string Summary(const XML_FILE_ITEM& item) {
  std::string out = std::string(item.m_nType == kXmlItemFile ? "F" : item.m_nType == kXmlItemFolder ? "D" : "?") +
                    "|" + U16ToUtf8(item.m_strName) + "|" + U16ToUtf8(item.m_strPath) + "|" +
                    std::to_string(item.m_tCreated) + "|" + std::to_string(item.m_nSize) + "|" +
                    std::to_string(item.m_nDrm) + "|" + std::to_string(item.m_nAttr);
  if (!item.m_strPerformer.empty() || !item.m_strTitle.empty() || !item.m_strAlbum.empty() ||
      !item.m_strGenre.empty() || item.m_nDuration != 0)
    out += " tags " + U16ToUtf8(item.m_strPerformer) + "|" + U16ToUtf8(item.m_strTitle) + "|" +
           U16ToUtf8(item.m_strAlbum) + "|" + std::to_string(item.m_nDuration) + "|" + U16ToUtf8(item.m_strGenre);
  return out;
}

using Items = std::vector<std::string>;

// The list reader's tests run in UTC so that "created" values are plain numbers.
class XmlFileListTest : public ::testing::Test {
 protected:
  std::vector<std::string> Parse(const std::string& body, bool sound) {
    CXmlFileList list;
    std::vector<std::string> out;
    auto keep = [&](XML_FILE_ITEM& item) { out.push_back(Summary(item)); };
    const std::u16string path = dir.WriteList(body);
    EXPECT_EQ(sound ? list.VisitSoundList(path, keep) : list.VisitFolderList(path, keep), 1)
        << U16ToUtf8(list.LastErrorDetail());
    EXPECT_EQ(list.LastError(), u"Success");
    return out;
  }
  ScopedTz tz{"UTC"};
  TempFolder dir;
};

// A file takes four records (name, path, created, size, then drm as a fifth that starts the
// next item) and a folder three (name, attr, created), counted by records, not elements.
TEST_F(XmlFileListTest, FolderListTakesRecordsByCount) {
  const std::pair<std::string, Items> cases[] = {
      {"<folderlist>\n <info version=\"2\" x=\"y\"/>\n"
       " <folder name=\"Musik \xC3\xA4\" attr=\"FIX\" created=\"20090729T143015\"/>\n"
       " <file name=\"a.mp3\" path=\"/Music/Rock\" created=\"20090729T143015\" size=\"1234\"/>\n"
       " <file name=\"b.dcf\" created=\"20000229T000000\" size=\"12kb\" drm=\"FL\"/>\n</folderlist>",
       {"D|Musik \xC3\xA4||0|0|0|16384", "F|a.mp3|/Music/Rock|1248877815|1234|0|0", "F|b.dcf||951782400|12|2|0"}},
      // A file with three attributes takes the folder's first record (its name); the folder
      // then starts at its second record and runs into the end of the list.
      {"<l><file name=\"a\" created=\"19700101T000001\" size=\"3\"/><folder name=\"F\" attr=\"HIDDEN\" created=\"0\"/></l>",
       {"F|F||1|3|0|0", "D|||0|0|0|2048"}},
      // A fifth attribute starts another file.
      {"<l><file name=\"a\" path=\"p\" created=\"19700101T000001\" size=\"5\" drm=\"SD\"/></l>",
       {"F|a|p|1|5|0|0", "F|||0|0|3|0"}},
      // A list that ends inside a file's records still gives the file.
      {"<l><file size=\"7\" name=\"z\"/></l>", {"F|z||0|7|0|0"}},
  };
  for (const auto& [body, items] : cases) EXPECT_EQ(Parse(body, false), items) << body;
  const std::pair<std::string, int32_t> drm[] = {{"NO", kXmlDrmNone}, {"FL", kXmlDrmForwardLock},
                                                 {"SD", kXmlDrmSeparateDelivery}, {"CD", kXmlDrmCombinedDelivery},
                                                 {"XX", 0}};
  for (const auto& [word, code] : drm)
    EXPECT_EQ(Parse("<l><file name=\"f\" created=\"19700101T000001\" size=\"1\" drm=\"" + word + "\"/></l>", false),
              Items{"F|f||1|1|" + std::to_string(code) + "|0"});
}

TEST_F(XmlFileListTest, ReadFailures) {
  CXmlFileList list;
  std::vector<std::string> seen;
  auto keep = [&](XML_FILE_ITEM& item) { seen.push_back(Summary(item)); };
  // A document that breaks off after a whole item: the item may have been handed out, but
  // the read fails, and the item that was being read when it broke off never is.
  EXPECT_EQ(list.VisitFolderList(dir.Write("bad.xml", "\xEF\xBB\xBF<l><folder name=\"a\" attr=\"FIX\" created=\"0\"/>"
                                                      "<file name=\"b\"></l>"),
                                 keep),
            0);
  EXPECT_EQ(list.LastError(), u"XML Document FAILED to load");
  EXPECT_FALSE(list.LastErrorDetail().empty());
  EXPECT_LE(seen.size(), 1u);
  EXPECT_EQ(list.VisitSoundList(dir.Write("none/x.xml", ""), keep), 0);
  EXPECT_EQ(list.VisitFolderList(dir.WriteList("<l><folder name=\"new\" attr=\"FIX\" created=\"0\"/></l>"), keep), 1);
  EXPECT_EQ(list.LastError(), u"Success");
  EXPECT_EQ(seen.back(), "D|new||0|0|0|16384");
}

TEST_F(XmlFileListTest, SoundListPairsFilesWithTheirTags) {
  EXPECT_EQ(
      Parse("<soundlist>\n"
            " <file name=\"1.mp3\" path=\"/Music/Rock\" created=\"20090729T143015\" size=\"100\" drm=\"NO\"/>\n"
            " <audio perfomer=\"P\xC3\xBC\" title=\"T\" album=\"A\" duration=\"215\" genre=\"G\"/>\n"
            " <file name=\"dropped.mp3\" path=\"/x\" created=\"19700101T000001\" size=\"1\" drm=\"NO\"/>\n"
            " <file name=\"2.mp3\" path=\"/y\" created=\"19700101T000001\" size=\"2\" drm=\"NO\"/>\n"
            " <info a=\"1\"/>\n"
            " <file name=\"3.mp3\" path=\"/z\" created=\"19700101T000001\" size=\"3\" drm=\"NO\"/>\n"
            " <folder name=\"F\" attr=\"NOSUB\" created=\"0\"/>\n <info/>\n"
            " <file name=\"4.mp3\" path=\"a/b/c\" created=\"19700101T000001\" size=\"4\" drm=\"CD\"/>\n"
            "</soundlist>",
            true),
      (Items{"F|1.mp3|\\Music\\Rock|1248877815|100|1|0 tags Pü|T|A|215|G",
             // Followed by an element that is not <audio>: no tags, and that element's first
             // record is used up.
             "F|2.mp3|\\y|1|2|1|0", "F|3.mp3|\\z|1|3|1|0",
             // The folder, short of its name, starts at its second record and takes <info/>'s
             // record as its third.
             "D|||0|0|0|64",
             // The last file has no tags to follow it.
             "F|4.mp3|a\\b\\c|1|4|4|0 tags UNKOWN|UNKOWN|UNKOWN|0|UNKOWN"}));
}

TEST(XmlCreatedTest, ReadsLocalTimeOrGivesTheCurrentTime) {
  ScopedTz tz("UTC");
  const std::pair<const char16_t*, uint32_t> valid[] = {
      {u"20090729T143015", 1248877815u}, {u"20090729 143015", 1248877815u}, {u"20000229T000000", 951782400u},
      {u"20090132T000000", 1233446400u}, {u"20090431T000000", 1241136000u}, {u"19700101T000000", 0u},
      {u"21060207T062815", 4294967295u}};
  for (const auto& [text, expected] : valid)
    EXPECT_EQ(CXmlFileList::ParseCreated(text), expected) << U16ToUtf8(text);

  const char16_t* now[] = {u"0", u"", u"abc", u"19691231T235959", u"30000101T000000", u"20090029T000000",
                           u"20091329T000000", u"20090700T000000", u"20090733T000000", u"20090729T240000",
                           u"20090729T006000", u"20090729T000060", u"21060207T062816", u"29991231T235959"};
  for (const char16_t* text : now) {
    const auto got = static_cast<int64_t>(CXmlFileList::ParseCreated(text));
    EXPECT_LE(std::llabs(got - static_cast<int64_t>(std::time(nullptr))), 5) << U16ToUtf8(text);
  }
}

#ifndef _WIN32  // zones named by TZ rules
TEST(XmlCreatedTest, DaylightSavingDecidesTheOffset) {
  if (!fs::exists("/usr/share/zoneinfo/Europe/Berlin")) GTEST_SKIP() << "no Europe/Berlin zone";
  ScopedTz tz("Europe/Berlin");
  EXPECT_EQ(CXmlFileList::ParseCreated(u"20090729T143015"), 1248870615u);  // CEST, UTC+2
  EXPECT_EQ(CXmlFileList::ParseCreated(u"20090115T120000"), 1232017200u);  // CET, UTC+1
  // A zone changed after the last tzset() still applies, to single values and to lists.
  TempFolder dir;
  const std::u16string path =
      dir.WriteList("<l><file name=\"f\" created=\"20090729T143015\" size=\"1\" drm=\"NO\"/></l>");
  setenv("TZ", "UTC", 1);
  EXPECT_EQ(CXmlFileList::ParseCreated(u"20090729T143015"), 1248877815u);
  setenv("TZ", "Asia/Tokyo", 1);
  XmlFileItems items;
  ASSERT_EQ(CXmlFileList().VisitFolderList(path, [&](XML_FILE_ITEM& item) { items.push_back(item); }), 1);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].m_tCreated, 1248877815u - 9 * 3600);
}
#endif

}  // namespace
}  // namespace kiv
