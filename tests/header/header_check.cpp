// The same checks as C++.
#include "header_check.c"
