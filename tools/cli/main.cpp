// kivmod: a command-line host of the Kivmod library, over its public C interface only.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "backup.hpp"
#include "commands.hpp"
#include "config.hpp"
#include "detect.hpp"
#include "diagnose.hpp"
#include "host.hpp"
#include "media.hpp"
#include "java_mail.hpp"
#include "tree.hpp"

namespace {

using namespace cli;

constexpr char kUsage[] =
    "usage: kivmod [options] COMMAND [ARGS]\n"
    "\n"
    "Commands (phone paths separate folders with / or \\, e.g. Music/Rock/song.mp3):\n"
    "  detect [DEVICE...]         serial and USB-serial devices where a phone answers (model,\n"
    "                             protocol version); default /dev/ttyUSB*, ttyACM*, rfcomm*\n"
    "  info                       model, protocol version, memory card, file types, top-level folders\n"
    "  ls [-l] [-R] [PATH]        files and folders in PATH (default: the top level)\n"
    "  get [-R] PHONEPATH... [DIR]\n"
    "                             copy phone files (-R: folders too) into the PC folder DIR\n"
    "                             (default: the current folder); one file to a name that is\n"
    "                             no folder is written as that file, to - on standard output;\n"
    "                             a quoted pattern ('Music/*.mp3') is matched on the phone\n"
    "  put [-R] [--move] [--from-phone] FILE... PHONEDIR\n"
    "                             copy PC files (-R: folders with their contents; --from-phone:\n"
    "                             phone files) into PHONEDIR; --move removes the sources once copied\n"
    "  rm [-r] [-f] PHONEPATH...  delete phone files (-r: folders with their contents; -f: no\n"
    "                             error for missing names); patterns as for get\n"
    "  mv OLD NEW, rename OLD NEW rename a file or folder; a file may move to another folder\n"
    "  mkdir [-p] PHONEPATH...    make phone folders (-p: with missing parents, no error if present)\n"
    "  df [PATH...]               total, used and free space of the memory holding PATH\n"
    "  resume [--restart|--discard]\n"
    "                             continue an interrupted copy to the phone (default), send\n"
    "                             it again, or delete its partial file on the phone\n"
    "  playlist ls                the phone's playlists\n"
    "  playlist show NAME         the songs of a playlist\n"
    "  playlist get NAME FILE     save a playlist as FILE (UTF-8, songs separated by \":\")\n"
    "  playlist put [--replace] NAME FILE\n"
    "                             create a playlist from FILE (--replace: or replace its songs)\n"
    "  playlist mv OLD NEW, playlist rm NAME\n"
    "                             rename or delete a playlist\n"
    "  sounds [PATH]              the phone's sound files with performer, title, album, time,\n"
    "                             genre and path (PATH: only those below it)\n"
    "  java install FILE [--folder PHONEDIR]\n"
    "                             send a JAR (or JAD) into PHONEDIR (default Java) and install it\n"
    "  java check FILE [--folder PHONEDIR]\n"
    "                             how much of FILE the phone holds\n"
    "  java rm NAME [--folder PHONEDIR]\n"
    "                             delete an application file from the phone\n"
    "  mail send --to ADDR [--cc ADDR] [--from ADDR] --subject TEXT --body FILE [--attach FILE]...\n"
    "                             send an e-mail through the phone (--to, --cc, --attach repeat)\n"
    "  mail limits                the phone's e-mail limits\n"
    "  backup FILE                back the phone up into the backup data file FILE\n"
    "  restore [--password TEXT] FILE\n"
    "                             put a backup data file back onto the phone (asks for the\n"
    "                             phone's password at a terminal when it wants one)\n"
    "  backup-info FILE           what a backup data file holds, and whether it is usable\n"
    "\n"
    "Options:\n"
    "  --link LINK     sim:FOLDER, serial:DEVICE or tcp:HOST:PORT (default: $KIVMOD_LINK)\n"
    "  --port N        COM port number of a cable connection (default 1)\n"
    "  --bt ADDR       connect over Bluetooth to aa:bb:cc:dd:ee:ff\n"
    "  --spp           with --bt: use the serial port profile\n"
    "  --json          machine-readable output (info, ls, df, playlist ls/show, sounds, backup,\n"
    "                  restore, backup-info)\n"
    "  -y, --yes       replace files on the phone without asking\n"
    "  -f, --force     rm: names that are missing are no error\n"
    "  -n, --no-clobber\n"
    "                  never replace files (on the phone for put, on the PC for get)\n"
    "  -q, --quiet     no progress lines or notes, only errors\n"
    "  -h, --help      this text (after a command: that command's help)\n"
    "  --version       the tool's version\n"
    "\n"
    "Without --yes or --no-clobber, put asks before replacing a phone file when it runs at a\n"
    "terminal, and keeps the phone's file otherwise. Ctrl-C cancels the running copy.\n"
    "\n"
    "Exit codes: 0 done, 2 usage, 3 no connection, 4 phone locked, 5 the command failed,\n"
    "6 cancelled, 7 no such file or folder.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "kivmod: %s\nrun 'kivmod --help' for the commands and options\n", problem.c_str());
  return kExitUsage;
}

// A command's help: its lines of the usage text and the options it takes.
void CommandHelp(const std::string& command, const std::set<std::string>& options) {
  std::string text = kUsage, out;
  bool inside = false;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const bool continuation = line.rfind("                  ", 0) == 0;
    if (!continuation) inside = line.rfind("  " + command + " ", 0) == 0 || line == "  " + command;
    if (inside) out += line + "\n";
  }
  std::printf("usage: kivmod [options] %s\n\n%s", command.c_str(), out.c_str());
  if (!options.empty()) {
    std::printf("\nIts options:");
    for (const std::string& o : options) std::printf(" %s", o.c_str());
    std::printf("\n");
  }
  std::printf("\nThe connection options (--link, --port, --bt, --spp, -q) apply to every command;\n"
              "'kivmod --help' lists them and the exit codes.\n");
}

struct CommandRule {
  const char* name;
  std::size_t minArgs, maxArgs;
  std::set<std::string> options;  // command options it takes
};

const std::vector<CommandRule>& Rules() {
  static const std::vector<CommandRule> rules = {
      {"detect", 0, SIZE_MAX, {"--json"}},
      {"info", 0, 0, {"--json"}},
      {"ls", 0, 1, {"--json", "-R", "-l"}},
      {"get", 1, SIZE_MAX, {"-R", "--yes", "--no-clobber"}},
      {"put", 2, SIZE_MAX, {"-R", "--move", "--from-phone", "--yes", "--no-clobber"}},
      {"rm", 1, SIZE_MAX, {"-R", "-f"}},
      {"mv", 2, 2, {}},
      {"rename", 2, 2, {}},
      {"mkdir", 1, SIZE_MAX, {"-p"}},
      {"df", 0, SIZE_MAX, {"--json"}},
      {"resume", 0, 0, {"--restart", "--discard"}},
      {"playlist", 1, 3, {"--json", "--replace"}},
      {"sounds", 0, 1, {"--json"}},
      {"backup", 1, 1, {"--json"}},
      {"restore", 1, 1, {"--json", "--password"}},
      {"backup-info", 1, 1, {"--json"}},
  };
  return rules;
}

}  // namespace

int main(int argc, char** argv) {
  // PC file names and display widths follow the user's locale.
  std::setlocale(LC_CTYPE, "");
  Options options;
  std::string command;
  std::vector<std::string> args;
  std::vector<std::string> given;  // command options in the canonical spelling
  std::string btAddress;
  bool optionsEnd = false;
  bool help = false;
  bool portGiven = false;

  auto value = [&](int& i, const std::string& name, std::string& out) {
    std::string a = argv[i];
    if (a.size() > name.size() && a.compare(0, name.size() + 1, name + "=") == 0) {
      out = a.substr(name.size() + 1);
      return true;
    }
    if (i + 1 >= argc) return false;
    out = argv[++i];
    return true;
  };
  auto is = [](const std::string& a, const char* name) {
    return a == name || a.rfind(std::string(name) + "=", 0) == 0;
  };

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (optionsEnd || a.empty() || a[0] != '-' || a == "-") {
      if (command.empty()) {
        command = a;
        // The Java installer and e-mail run sessions of their own, with options of their own.
        if (command == "java" || command == "mail") {
          std::vector<std::string> rest(argv + i + 1, argv + argc);
          return command == "java" ? RunJava(rest, options.link) : RunMail(rest, options.link);
        }
      } else
        args.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnd = true;
    } else if (a == "-h" || a == "--help") {
      help = true;
    } else if (a == "-q" || a == "--quiet") {
      SetQuiet(true);
    } else if (a == "--version") {
      std::printf("kivmod %d.%d.%d\n", KIVMOD_VERSION_MAJOR, KIVMOD_VERSION_MINOR, KIVMOD_VERSION_PATCH);
      return kExitOk;
    } else if (is(a, "--link")) {
      if (!value(i, "--link", options.link.link)) return Usage("--link needs a value");
    } else if (is(a, "--port")) {
      std::string text;
      if (!value(i, "--port", text)) return Usage("--port needs a value");
      char* end = nullptr;
      long port = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end || port < 1 || port > 255) return Usage("--port takes a number from 1 to 255");
      options.link.port = static_cast<int>(port);
      portGiven = true;
    } else if (is(a, "--bt")) {
      if (!value(i, "--bt", btAddress)) return Usage("--bt needs an address");
      if (!ParseBluetoothAddress(btAddress, options.link.address))
        return Usage("not a Bluetooth address: " + btAddress + " (aa:bb:cc:dd:ee:ff)");
      options.link.bluetooth = true;
    } else if (is(a, "--password")) {
      if (!value(i, "--password", options.password)) return Usage("--password needs a value");
      given.push_back("--password");
    } else if (a == "--spp") {
      options.link.spp = true;
    } else if (a == "--json") {
      given.push_back("--json");
    } else if (a == "--yes") {
      given.push_back("--yes");
    } else if (a == "--no-clobber") {
      given.push_back("--no-clobber");
    } else if (a == "--recursive") {
      given.push_back("-R");
    } else if (a == "--long") {
      given.push_back("-l");
    } else if (a == "--force") {
      given.push_back("-f");
    } else if (a == "--parents") {
      given.push_back("-p");
    } else if (a == "--move" || a == "--from-phone" || a == "--restart" || a == "--discard" ||
               a == "--replace") {
      given.push_back(a);
    } else if (a[1] != '-') {
      // A cluster of one-letter options such as -lR.
      for (std::size_t k = 1; k < a.size(); ++k) {
        switch (a[k]) {
          case 'R':
          case 'r': given.push_back("-R"); break;
          case 'l': given.push_back("-l"); break;
          case 'p': given.push_back("-p"); break;
          case 'f': given.push_back("-f"); break;
          case 'y': given.push_back("--yes"); break;
          case 'n': given.push_back("--no-clobber"); break;
          case 'h': help = true; break;
          case 'q': SetQuiet(true); break;
          default: return Usage("unknown option -" + std::string(1, a[k]) + " (in " + a + ")");
        }
      }
    } else {
      return Usage("unknown option " + a);
    }
  }

  const CommandRule* rule = nullptr;
  for (const CommandRule& r : Rules())
    if (command == r.name) rule = &r;
  if (help) {
    if (rule)
      CommandHelp(command, rule->options);
    else
      std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command.empty()) return Usage("no command given");
  if (!rule) return Usage("unknown command " + command);
  for (const std::string& o : given) {
    if (!rule->options.count(o)) return Usage("option " + o + " does not apply to " + command);
    if (o == "--json") options.json = true;
    if (o == "-R") options.recursive = true;
    if (o == "-l") options.longFormat = true;
    if (o == "-p") options.parents = true;
    if (o == "-f") options.force = true;
    if (o == "--move") options.move = true;
    if (o == "--from-phone") options.fromPhone = true;
    if (o == "--restart") options.restart = true;
    if (o == "--discard") options.discard = true;
    if (o == "--replace") options.replace = true;
    if (o == "--yes") options.overwrite = Overwrite::All;
    if (o == "--no-clobber") options.overwrite = Overwrite::None;
  }
  auto count = [&](const char* o) { return std::count(given.begin(), given.end(), std::string(o)) > 0; };
  if (count("--yes") && count("--no-clobber")) return Usage("--yes and --no-clobber exclude each other");
  if (options.restart && options.discard) return Usage("--restart and --discard exclude each other");
  // The configuration file fills in what neither the options nor the environment say.
  LinkOptions fromFile;
  if (std::string problem; !ReadConfig(fromFile, problem)) return Usage(problem);
  const char* envLink = std::getenv("KIVMOD_LINK");
  const bool linkElsewhere = !options.link.link.empty() || options.link.bluetooth || (envLink && *envLink);
  if (!linkElsewhere) {
    options.link.link = fromFile.link;
    if (fromFile.bluetooth) {
      options.link.bluetooth = true;
      std::copy(fromFile.address, fromFile.address + 6, options.link.address);
    }
  }
  if (!portGiven) options.link.port = fromFile.port;
  if (options.link.spp && !options.link.bluetooth) return Usage("--spp needs --bt ADDR (or bluetooth in the configuration file)");
  if (std::string problem; !options.link.link.empty() && !WellFormedLink(options.link.link, problem)) return Usage(problem);
  if (const char* env = std::getenv("KIVMOD_LINK"); env && *env && options.link.link.empty() && !options.link.bluetooth) {
    if (std::string problem; !WellFormedLink(env, problem)) return Usage("KIVMOD_LINK: " + problem);
  }
  if (args.size() < rule->minArgs) return Usage(command + ": missing arguments");
  if (args.size() > rule->maxArgs) return Usage(command + ": too many arguments");
  int result = kExitOk;

  CancelHandlerScope cancelHandler;
  if (command == "backup-info") return BackupInfoCommand(options, args[0]);
  if (command == "backup" || command == "restore") {
    result = command == "backup" ? BackupCommand(options, args[0]) : RestoreCommand(options, args[0]);
    if (result == kExitCancelled) Complain("cancelled");
    return result;
  }
  Host host;
  if (command == "detect") return Detect(host, options, args);
  result = Connect(host, options.link);
  if (result != kExitOk) return result;
  Tree tree(host.Window());
  Session session{host, tree, options};
  if (Cancelled()) {
    result = kExitCancelled;
  } else if (command == "info") {
    result = Info(session);
  } else if (command == "ls") {
    result = Ls(session, args);
  } else if (command == "get") {
    result = Get(session, args);
  } else if (command == "put") {
    result = Put(session, args);
  } else if (command == "rm") {
    result = Rm(session, args);
  } else if (command == "mv" || command == "rename") {
    result = Mv(session, args);
  } else if (command == "mkdir") {
    result = Mkdir(session, args);
  } else if (command == "df") {
    result = Df(session, args);
  } else if (command == "playlist") {
    result = Playlist(session, args);
  } else if (command == "sounds") {
    result = Sounds(session, args);
  } else {
    result = Resume(session);
  }
  std::fflush(stdout);
  if (result == kExitCancelled) Complain("cancelled");
  Disconnect(options.link);
  return result;
}
