// The phone's Java installer: installing an application file from the served folder. A JAR
// must be a readable zip archive holding META-INF/MANIFEST.MF; a JAD is a text of
// "Key: value" lines naming the MIDlet. The phone records each application it installs
// (name, version, vendor, file) in its list of installed applications, kept as the text
// file installed-apps.txt at the top of the served folder.
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "phonesim/body.hpp"
#include "phonesim/families.hpp"
#include "phonesim/results.hpp"
#include "phonesim/transfer_paths.hpp"
#include "platform/text.hpp"

namespace phonesim {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kInstall = 0x23;

constexpr uint8_t kNotInstallable = 0x29;  // not a JAR with a manifest, nor a JAD

constexpr std::size_t kMaxDescriptor = 1 << 20;
constexpr const char* kManifest = "META-INF/MANIFEST.MF";

// "Key: value" lines; a line starting with a space continues the one before it (manifests
// wrap long values that way).
std::map<std::string, std::string> Attributes(std::string_view text) {
  std::map<std::string, std::string> out;
  std::string last;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == ' ' && !last.empty()) {
      out[last] += line.substr(1);
      continue;
    }
    auto colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    last = line.substr(0, colon);
    out[last] = value;
  }
  return out;
}

struct ZipClose {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileClose {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

// The manifest of a JAR; nothing when the file is no zip archive or holds no manifest.
std::optional<std::string> JarManifest(const fs::path& path) {
  int error = 0;
  std::unique_ptr<zip_t, ZipClose> archive(zip_open(path.c_str(), ZIP_RDONLY, &error));
  if (!archive) return std::nullopt;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat(archive.get(), kManifest, ZIP_FL_NOCASE, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) ||
      st.size > kMaxDescriptor)
    return std::nullopt;
  std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen(archive.get(), kManifest, ZIP_FL_NOCASE));
  if (!file) return std::nullopt;
  std::string text(static_cast<std::size_t>(st.size), '\0');
  if (zip_fread(file.get(), text.data(), st.size) != static_cast<zip_int64_t>(st.size)) return std::nullopt;
  return text;
}

std::optional<std::string> ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxDescriptor + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad() || static_cast<std::size_t>(in.gcount()) > kMaxDescriptor) return std::nullopt;
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

bool HasExtension(const fs::path& path, std::string_view ext) {
  std::string e = path.extension().string();
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return e == ext;
}

// Replaces the application's line (by name) in the list file, or adds it.
bool RecordApplication(const Phone& phone, const InstalledApp& app) {
  std::vector<InstalledApp> apps = InstalledApps(phone);
  auto same = std::find_if(apps.begin(), apps.end(), [&](const InstalledApp& a) { return a.name == app.name; });
  if (same != apps.end()) {
    *same = app;
  } else {
    apps.push_back(app);
  }
  std::ofstream out(phone.root() / kInstalledAppsFile, std::ios::binary | std::ios::trunc);
  for (const auto& a : apps) out << a.name << '\t' << a.version << '\t' << a.vendor << '\t' << a.file << '\n';
  return static_cast<bool>(out.flush());
}

// "ps": folder and name of the application file to install.
Packet Install(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder, name;
  if (!r.Text(1, false, folder) || !r.Text(1, false, name)) return phone.Answer(request, kBadRequest);
  auto path = MapPhonePath(phone, folder, name);
  if (!path) return phone.Answer(request, kBadRequest);
  std::error_code ec;
  if (!fs::is_regular_file(*path, ec)) return phone.Answer(request, kNoFile);

  std::optional<std::string> descriptor;
  if (HasExtension(*path, ".jad")) {
    descriptor = ReadText(*path);
  } else {
    descriptor = JarManifest(*path);
  }
  if (!descriptor) return phone.Answer(request, kNotInstallable);
  auto attributes = Attributes(*descriptor);
  InstalledApp app;
  if (auto it = attributes.find("MIDlet-Name"); it != attributes.end() && !it->second.empty()) {
    app.name = it->second;
  } else {
    return phone.Answer(request, kNotInstallable);
  }
  app.version = attributes["MIDlet-Version"];
  app.vendor = attributes["MIDlet-Vendor"];
  std::u16string phonePath = folder.empty() ? name : folder + u'/' + name;
  app.file = kiv::U16ToUtf8(phonePath);
  // Tabs and line ends would break the list's lines.
  for (std::string* field : {&app.name, &app.version, &app.vendor, &app.file})
    std::replace_if(field->begin(), field->end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  if (!RecordApplication(phone, app)) return phone.Answer(request, kIoError);
  return phone.Answer(request, kOk);
}

}  // namespace

std::vector<InstalledApp> InstalledApps(const Phone& phone) {
  std::vector<InstalledApp> apps;
  std::ifstream in(phone.root() / kInstalledAppsFile, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
      std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (fields.size() != 4 || fields[0].empty()) continue;
    apps.push_back({fields[0], fields[1], fields[2], fields[3]});
  }
  return apps;
}

std::optional<Packet> HandleJavaCommands(Phone& phone, const Packet& request) {
  if (request.code == kInstall) return Install(phone, request);
  return std::nullopt;
}

}  // namespace phonesim
