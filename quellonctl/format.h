// printf into a std::string, for texts that come from the catalogue.
#pragma once

#include <string>

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
