// Phone folders and files as the commands print them: lines of text and JSON values.
#include "output.hpp"

#include <cstdio>

namespace cli {

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

JsonValue FolderJson(const PhoneFolder& f) {
  return {{"path", f.path}, {"attributes", f.attributes}, {"flags", FolderFlags(f.attributes)}};
}

JsonValue FileJson(const PhoneFile& f) {
  return {{"name", f.name},          {"path", f.Path()},           {"size", f.size},
          {"time", IsoTime(f.time1)}, {"time1", f.time1},          {"attributes", f.attributes},
          {"flags", FileFlags(f.attributes)}};
}

void PrintFolderLine(const PhoneFolder& f, bool longFormat) {
  if (!longFormat) {
    std::printf("%s/\n", Escaped(f.name).c_str());
    return;
  }
  std::string flags = Joined(FolderFlags(f.attributes));
  std::printf("d  %12s  %-16s  %s/%s%s\n", "-", "", Escaped(f.name).c_str(), flags.empty() ? "" : "  ", flags.c_str());
}

void PrintFileLine(const PhoneFile& f, bool longFormat) {
  if (!longFormat) {
    std::printf("%s\n", Escaped(f.name).c_str());
    return;
  }
  std::string flags = Joined(FileFlags(f.attributes));
  std::printf("-  %12lld  %-16s  %s%s%s\n", static_cast<long long>(f.size), LocalTime(f.time1).c_str(), Escaped(f.name).c_str(),
              flags.empty() ? "" : "  ", flags.c_str());
}

void PrintListing(const Listing& l, bool longFormat) {
  for (const PhoneFolder& f : l.folders) PrintFolderLine(f, longFormat);
  for (const PhoneFile& f : l.files) PrintFileLine(f, longFormat);
}

}  // namespace cli
