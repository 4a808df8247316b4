#include "phonesim/config.hpp"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#include "platform/text.hpp"

namespace phonesim {
namespace {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

std::optional<std::string> Attr(xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (!value) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

bool Number(xmlNode* node, const char* name, uint64_t& out, std::string& error) {
  auto text = Attr(node, name);
  if (!text) return true;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text->c_str(), &end, 0);
  if (text->empty() || *end || errno) {
    error = std::string("attribute ") + name + " is not a number: " + *text;
    return false;
  }
  out = v;
  return true;
}

template <typename T>
bool Number(xmlNode* node, const char* name, T& out, std::string& error) {
  uint64_t v = static_cast<uint64_t>(out);
  if (!Number(node, name, v, error)) return false;
  out = static_cast<T>(v);
  return true;
}

bool Memory(xmlNode* node, MemoryLimits& m, std::string& error) {
  uint64_t free = 0;
  bool hasFree = Attr(node, "free").has_value();
  if (!Number(node, "fileName", m.fileName, error) || !Number(node, "folderName", m.folderName, error) ||
      !Number(node, "path", m.path, error) || !Number(node, "depth", m.depth, error) ||
      !Number(node, "total", m.total, error) || !Number(node, "free", free, error))
    return false;
  if (hasFree) m.free = free;
  return true;
}

bool Is(xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

std::string Text(xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

}  // namespace

std::optional<Config> LoadConfig(const std::string& path, std::string& error) {
  std::unique_ptr<xmlDoc, DocFree> doc(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS));
  if (!doc) {
    error = "cannot read configuration file " + path;
    return std::nullopt;
  }
  xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!root || !Is(root, "phone")) {
    error = "configuration file must have a <phone> root element";
    return std::nullopt;
  }
  Config c;
  if (auto model = Attr(root, "model")) c.model = *model;
  if (auto playlists = Attr(root, "playlists")) c.playlistFolder = kiv::Utf8ToU16(*playlists);
  uint64_t locked = 0;
  if (!Number(root, "version", c.version, error) || !Number(root, "maxPacket", c.maxPacket, error) ||
      !Number(root, "locked", locked, error) || !Number(root, "dropAfter", c.dropAfterPackets, error) ||
      !Number(root, "delayMs", c.delayMs, error) || !Number(root, "corruptAfter", c.corruptAfterPackets, error) ||
      !Number(root, "truncateAfter", c.truncateAfterPackets, error))
    return std::nullopt;
  c.locked = locked != 0;
  for (xmlNode* n = root->children; n; n = n->next) {
    if (Is(n, "internal")) {
      if (!Memory(n, c.internal, error)) return std::nullopt;
    } else if (Is(n, "card")) {
      c.hasCard = true;
      if (auto name = Attr(n, "name")) c.cardName = kiv::Utf8ToU16(*name);
      if (!Memory(n, c.card, error)) return std::nullopt;
    } else if (Is(n, "types")) {
      c.typeTable = kiv::Utf8ToU16(Text(n));
    } else if (Is(n, "root")) {
      RootFolder r;
      auto name = Attr(n, "name");
      if (!name || name->empty()) {
        error = "<root> needs a name";
        return std::nullopt;
      }
      r.name = kiv::Utf8ToU16(*name);
      if (!Number(n, "mode", r.mode, error)) return std::nullopt;
      if (auto ext = Attr(n, "ext"); ext && *ext != "*") r.exts = kiv::SplitAny(kiv::Utf8ToU16(*ext), u" ,");
      c.roots.push_back(std::move(r));
    } else if (Is(n, "folder")) {
      auto folder = Attr(n, "path");
      uint32_t attr = 0;
      uint32_t readOnly = 0;
      if (!folder || !Number(n, "attr", attr, error) || !Number(n, "readOnly", readOnly, error)) {
        if (error.empty()) error = "<folder> needs a path";
        return std::nullopt;
      }
      c.folderAttributes[kiv::Utf8ToU16(*folder)] = attr;
      if (readOnly) c.readOnlyFolders.insert(kiv::Utf8ToU16(*folder));
    } else if (Is(n, "mail")) {
      if (auto outbox = Attr(n, "outbox")) c.outbox = *outbox;
      if (auto limits = Attr(n, "limits")) {
        std::istringstream in(*limits);
        for (auto& v : c.mailLimits) {
          if (!(in >> v)) {
            error = "<mail limits> needs 25 numbers";
            return std::nullopt;
          }
        }
      }
    } else if (Is(n, "backup")) {
      if (auto password = Attr(n, "password")) c.backupPassword = kiv::Utf8ToU16(*password);
      for (xmlNode* d = n->children; d; d = d->next)
        if (auto path = Is(d, "dir") ? Attr(d, "path") : std::nullopt) c.backupDirs.push_back(kiv::Utf8ToU16(*path));
    } else if (Is(n, "fault")) {
      Fault f;
      auto kind = Attr(n, "kind").value_or("refuse");
      if (kind == "refuse") f.kind = Fault::Kind::Refuse;
      else if (kind == "result") f.kind = Fault::Kind::Result;
      else if (kind == "truncate") f.kind = Fault::Kind::Truncate;
      else {
        error = "unknown fault kind " + kind;
        return std::nullopt;
      }
      if (!Number(n, "code", f.code, error) || !Number(n, "value", f.result, error) ||
          !Number(n, "length", f.length, error) || !Number(n, "times", f.times, error))
        return std::nullopt;
      c.faults.push_back(f);
    }
  }
  return c;
}

}  // namespace phonesim
