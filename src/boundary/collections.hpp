// The host collection handles behind the opaque C types.
#pragma once

#include <string>
#include <vector>

struct KivStringList {
  std::vector<std::u16string> items;
};

struct KivString {
  std::u16string text;
};
