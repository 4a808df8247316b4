// Sets an environment variable for one test and puts the old value back.
#pragma once

#include "kivtest.hpp"

namespace kivold {

using kivtest::ScopedEnv;

}  // namespace kivold
