// The tool's music commands: playlists and the sound list with its tags.
#pragma once

#include <string>
#include <vector>

#include "commands.hpp"

namespace cli {

// playlist ls | show NAME | get NAME FILE | put NAME FILE | mv OLD NEW | rm NAME
int Playlist(Session& s, const std::vector<std::string>& args);
// sounds [PATH]: performer, title, album, time, genre and path of every sound file.
int Sounds(Session& s, const std::vector<std::string>& args);

}  // namespace cli
