// Phone folders and files as the commands print them: lines of text and JSON values.
#pragma once

#include <string>
#include <vector>

#include "text.hpp"
#include "tree.hpp"

namespace cli {

// "a, b, c".
std::string Joined(const std::vector<std::string>& items);
// A folder as info's JSON has it: path, attributes, flags.
JsonValue FolderJson(const PhoneFolder& f);
// A file as ls --json has it: name, path, size, time (with its UTC offset), time1, attributes, flags.
JsonValue FileJson(const PhoneFile& f);
// One line of ls: the name (folders with "/"), or with longFormat kind, size, time, name and flags.
void PrintFolderLine(const PhoneFolder& f, bool longFormat);
void PrintFileLine(const PhoneFile& f, bool longFormat);
// The folders, then the files.
void PrintListing(const Listing& l, bool longFormat);

}  // namespace cli
