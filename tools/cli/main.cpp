// kivmod: a command-line host of the Kivmod library, over its public C interface only.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "backup.hpp"
#include "commands.hpp"
#include "config.hpp"
#include "detect.hpp"
#include "diagnose.hpp"
#include "host.hpp"
#include "media.hpp"
#include "system.hpp"
#include "java_mail.hpp"
#include "text.hpp"
#include "tree.hpp"

namespace {

using namespace cli;

constexpr char kUsage[] =
    "usage: kivmod [options] COMMAND [ARGS]\n"
    "\n"
    "Commands (phone paths separate folders with / or \\, e.g. Music/Rock/song.mp3):\n"
    "  detect [DEVICE...]         serial and USB-serial devices where a phone answers (model,\n"
    "                             protocol version); default /dev/ttyUSB*, ttyACM*, rfcomm*\n"
    "                             (Windows: COM1 to COM32) and the paired Bluetooth phones with\n"
    "                             their serial port channel\n"
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

// What the command line says, as CLI11 fills it in.
struct Line {
  Options options;
  bool help = false, quiet = false, version = false;
  bool yes = false, noClobber = false;
  std::string port, bt;
  std::vector<std::string> args;
};

// The options of the commands. Each may stand before the command word as well as after it;
// one that the command does not take is a usage error.
struct CommandOption {
  const char* names;  // CLI11's spelling: short and long names
  const char* help;
  bool* (*flag)(Line&);
  std::string* (*value)(Line&);
};

const std::vector<CommandOption>& CommandOptions() {
  static const std::vector<CommandOption> options = {
      {"--json", "machine-readable output", [](Line& l) { return &l.options.json; }, nullptr},
      {"-l,--long", "kind, size, time and attributes", [](Line& l) { return &l.options.longFormat; }, nullptr},
      {"-R,-r,--recursive", "folders with their contents", [](Line& l) { return &l.options.recursive; }, nullptr},
      {"-p,--parents", "make missing parents; a folder that exists is no error",
       [](Line& l) { return &l.options.parents; }, nullptr},
      {"-f,--force", "names that are missing are no error", [](Line& l) { return &l.options.force; }, nullptr},
      {"-y,--yes", "replace files without asking", [](Line& l) { return &l.yes; }, nullptr},
      {"-n,--no-clobber", "never replace files", [](Line& l) { return &l.noClobber; }, nullptr},
      {"--move", "remove each source once it is copied", [](Line& l) { return &l.options.move; }, nullptr},
      {"--from-phone", "the sources are phone files", [](Line& l) { return &l.options.fromPhone; }, nullptr},
      {"--restart", "send the file again from its start", [](Line& l) { return &l.options.restart; }, nullptr},
      {"--discard", "delete the partial file on the phone", [](Line& l) { return &l.options.discard; }, nullptr},
      {"--replace", "replace a playlist of that name", [](Line& l) { return &l.options.replace; }, nullptr},
      {"--password", "the phone's backup password", nullptr, [](Line& l) { return &l.options.password; }},
  };
  return options;
}

// What a command is given to run on.
struct Run {
  Options& options;
  const std::vector<std::string>& args;
  Host* host;        // commands that talk to the phone
  Session* session;  // commands run on an open session
};

// How a command reaches the phone.
enum class Reach {
  kSession,  // the tool connects first and disconnects after
  kHost,     // it tries links itself through the tool's host window (detect)
  kAlone,    // it opens what it needs itself, or needs no phone
  kFamily,   // java and mail: sessions of their own, with options of their own
};

struct Command {
  const char* name;
  std::size_t minArgs, maxArgs;
  std::vector<const char*> options;  // long names from CommandOptions()
  Reach reach;
  int (*run)(Run&);
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"detect", 0, SIZE_MAX, {"--json"}, Reach::kHost, [](Run& r) { return Detect(*r.host, r.options, r.args); }},
      {"info", 0, 0, {"--json"}, Reach::kSession, [](Run& r) { return Info(*r.session); }},
      {"ls", 0, 1, {"--json", "--recursive", "--long"}, Reach::kSession, [](Run& r) { return Ls(*r.session, r.args); }},
      {"get", 1, SIZE_MAX, {"--recursive", "--yes", "--no-clobber"}, Reach::kSession,
       [](Run& r) { return Get(*r.session, r.args); }},
      {"put", 2, SIZE_MAX, {"--recursive", "--move", "--from-phone", "--yes", "--no-clobber"}, Reach::kSession,
       [](Run& r) { return Put(*r.session, r.args); }},
      {"rm", 1, SIZE_MAX, {"--recursive", "--force"}, Reach::kSession, [](Run& r) { return Rm(*r.session, r.args); }},
      {"mv", 2, 2, {}, Reach::kSession, [](Run& r) { return Mv(*r.session, r.args); }},
      {"rename", 2, 2, {}, Reach::kSession, [](Run& r) { return Mv(*r.session, r.args); }},
      {"mkdir", 1, SIZE_MAX, {"--parents"}, Reach::kSession, [](Run& r) { return Mkdir(*r.session, r.args); }},
      {"df", 0, SIZE_MAX, {"--json"}, Reach::kSession, [](Run& r) { return Df(*r.session, r.args); }},
      {"resume", 0, 0, {"--restart", "--discard"}, Reach::kSession, [](Run& r) { return Resume(*r.session); }},
      {"playlist", 1, 3, {"--json", "--replace"}, Reach::kSession, [](Run& r) { return Playlist(*r.session, r.args); }},
      {"sounds", 0, 1, {"--json"}, Reach::kSession, [](Run& r) { return Sounds(*r.session, r.args); }},
      {"backup", 1, 1, {"--json"}, Reach::kAlone, [](Run& r) { return BackupCommand(r.options, r.args[0]); }},
      {"restore", 1, 1, {"--json", "--password"}, Reach::kAlone, [](Run& r) { return RestoreCommand(r.options, r.args[0]); }},
      {"backup-info", 1, 1, {"--json"}, Reach::kAlone, [](Run& r) { return BackupInfoCommand(r.options, r.args[0]); }},
      {"java", 0, SIZE_MAX, {}, Reach::kFamily, [](Run& r) { return RunJava(r.args, r.options.link); }},
      {"mail", 0, SIZE_MAX, {}, Reach::kFamily, [](Run& r) { return RunMail(r.args, r.options.link); }},
  };
  return commands;
}

// The long name of a CLI11 spelling ("-R,-r,--recursive" -> "--recursive").
std::string LongName(const std::string& names) { return names.substr(names.rfind(',') + 1); }

bool Takes(const Command& command, const std::string& longName) {
  for (const char* o : command.options)
    if (longName == o) return true;
  return false;
}

void AddCommandOption(CLI::App& app, const CommandOption& o, Line& line) {
  if (o.flag)
    app.add_flag(o.names, *o.flag(line), o.help);
  else
    app.add_option(o.names, *o.value(line), o.help);
}

// A command's help: its lines of the usage text and the options it takes.
void CommandHelp(const Command& command) {
  std::string text = kUsage, out;
  bool inside = false;
  const std::string name = command.name;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const bool continuation = line.rfind("                  ", 0) == 0;
    if (!continuation) inside = line.rfind("  " + name + " ", 0) == 0 || line == "  " + name;
    if (inside) out += line + "\n";
  }
  std::printf("usage: kivmod [options] %s\n\n%s", command.name, out.c_str());
  if (!command.options.empty()) {
    std::printf("\nIts options:\n");
    for (const CommandOption& o : CommandOptions()) {
      if (!Takes(command, LongName(o.names))) continue;
      std::string names = o.names;
      for (std::size_t comma = names.find(','); comma != std::string::npos; comma = names.find(',', comma + 2))
        names.replace(comma, 1, ", ");
      std::printf("  %-24s %s\n", names.c_str(), o.help);
    }
  }
  std::printf("\nThe connection options (--link, --port, --bt, --spp, -q) apply to every command;\n"
              "'kivmod --help' lists them and the exit codes.\n");
}

// The index of the command word: the first word that is neither an option nor an option's
// value (the word after "--" when that comes first); words.size() when there is none.
std::size_t CommandWord(const std::vector<std::string>& words) {
  static const std::vector<std::string> withValue = {"--link", "--port", "--bt", "--password"};
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "--") return i + 1;
    if (w.size() < 2 || w[0] != '-') return i;
    if (std::find(withValue.begin(), withValue.end(), w) != withValue.end()) ++i;
  }
  return words.size();
}

// Parses the words with CLI11: the tool's options and every command's options, wherever they
// stand, and the command's arguments. Java and mail read the words after their name
// themselves. Returns the command (nullptr when none was named) or sets problem.
const Command* Parse(std::vector<std::string> words, Line& line, std::string& problem) {
  const std::size_t at = CommandWord(words);
  const Command* command = nullptr;
  if (at < words.size()) {
    for (const Command& c : Commands())
      if (words[at] == c.name) command = &c;
    if (!command) {
      problem = "unknown command " + words[at];
      return nullptr;
    }
    if (command->reach == Reach::kFamily) {
      line.args.assign(words.begin() + static_cast<std::ptrdiff_t>(at) + 1, words.end());
      words.erase(words.begin() + static_cast<std::ptrdiff_t>(at), words.end());
      // Its help is the tool's, like every command's.
      for (const std::string& w : line.args) {
        if (w == "--") break;
        if (w == "-h" || w == "--help") line.help = true;
      }
    } else {
      words.erase(words.begin() + static_cast<std::ptrdiff_t>(at));
    }
  }
  // After "--" every word is an argument of the command.
  std::vector<std::string> plain;
  if (auto end = std::find(words.begin(), words.end(), "--"); end != words.end()) {
    plain.assign(end + 1, words.end());
    words.erase(end, words.end());
  }
  CLI::App app{"kivmod"};
  app.set_help_flag();
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_flag("-h,--help", line.help);
  app.add_flag("-q,--quiet", line.quiet);
  app.add_flag("--version", line.version);
  app.add_option("--link", line.options.link.link);
  app.add_option("--port", line.port);
  app.add_option("--bt", line.bt);
  app.add_flag("--spp", line.options.link.spp);
  for (const CommandOption& o : CommandOptions()) AddCommandOption(app, o, line);
  std::vector<std::string> args;
  app.add_option("args", args);
  // CLI11 wants the words last first.
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& e) {
    const std::string text = e.what();
    problem = text.substr(0, text.find(':')) + " needs a value";
    return command;
  } catch (const CLI::ParseError& e) {
    problem = e.what();
    return command;
  }
  for (const std::string& extra : app.remaining()) {
    problem = "unknown option " + extra;
    return command;
  }
  if (!command) return nullptr;
  args.insert(args.end(), plain.begin(), plain.end());
  if (command->reach != Reach::kFamily) line.args = args;
  for (const CommandOption& o : CommandOptions()) {
    const std::string name = LongName(o.names);
    if (app.get_option(name)->count() > 0 && !Takes(*command, name)) {
      problem = "option " + name + " does not apply to " + command->name;
      return command;
    }
  }
  return command;
}

}  // namespace

int main(int argc, char** argv) {
  SetUpConsole();
  Line line;
  std::string problem;
  const Command* command = Parse(Arguments(argc, argv), line, problem);
  if (line.version && problem.empty()) {
    std::printf("kivmod %d.%d.%d\n", KIVMOD_VERSION_MAJOR, KIVMOD_VERSION_MINOR, KIVMOD_VERSION_PATCH);
    return kExitOk;
  }
  if (line.help && problem.empty()) {
    if (command)
      CommandHelp(*command);
    else
      std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (!problem.empty()) return Usage(problem);
  if (!command) return Usage("no command given");
  SetQuiet(line.quiet);
  Options& options = line.options;
  if (!line.port.empty()) {
    char* end = nullptr;
    long port = std::strtol(line.port.c_str(), &end, 10);
    if (*end || port < 1 || port > 255) return Usage("--port takes a number from 1 to 255");
    options.link.port = static_cast<int>(port);
  }
  if (!line.bt.empty()) {
    if (!ParseBluetoothAddress(line.bt, options.link.address))
      return Usage("not a Bluetooth address: " + line.bt + " (aa:bb:cc:dd:ee:ff)");
    options.link.bluetooth = true;
  }
  if (line.yes && line.noClobber) return Usage("--yes and --no-clobber exclude each other");
  if (line.yes) options.overwrite = Overwrite::All;
  if (line.noClobber) options.overwrite = Overwrite::None;
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
  if (line.port.empty()) options.link.port = fromFile.port;
  if (options.link.spp && !options.link.bluetooth) return Usage("--spp needs --bt ADDR (or bluetooth in the configuration file)");
  if (std::string problem; !options.link.link.empty() && !WellFormedLink(options.link.link, problem)) return Usage(problem);
  if (const char* env = std::getenv("KIVMOD_LINK"); env && *env && options.link.link.empty() && !options.link.bluetooth) {
    if (std::string problem; !WellFormedLink(env, problem)) return Usage("KIVMOD_LINK: " + problem);
  }
  const std::vector<std::string>& args = line.args;
  if (command->reach == Reach::kFamily) {
    // The family reads its own words (--link among them).
    Run run{options, args, nullptr, nullptr};
    return command->run(run);
  }
  if (args.size() < command->minArgs) return Usage(std::string(command->name) + ": missing arguments");
  if (args.size() > command->maxArgs) return Usage(std::string(command->name) + ": too many arguments");

  CancelHandlerScope cancelHandler;
  if (command->reach == Reach::kAlone) {
    Run run{options, args, nullptr, nullptr};
    const int result = command->run(run);
    if (result == kExitCancelled) Complain("cancelled");
    return result;
  }
  Host host;
  if (command->reach == Reach::kHost) {
    Run run{options, args, &host, nullptr};
    return command->run(run);
  }
  int result = Connect(host, options.link);
  if (result != kExitOk) return result;
  Tree tree(host.Window());
  Session session{host, tree, options};
  Run run{options, args, &host, &session};
  result = Cancelled() ? kExitCancelled : command->run(run);
  std::fflush(stdout);
  if (result == kExitCancelled) Complain("cancelled");
  Disconnect(options.link);
  return result;
}
