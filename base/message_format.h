// Fills the placeholders of a message text from messages.h.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace logvane {

// Replaces each "%s" or "%d" of `text`, left to right, by the next argument
// (numbers are passed already in decimal). Placeholders beyond the arguments
// are kept as they are; "%%" prints "%".
std::string FormatMessage(std::string_view text, std::initializer_list<std::string_view> args);

}  // namespace logvane
