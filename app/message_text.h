#pragma once

#include <exception>
#include <string>

namespace installer {

// An error's message as screen text. A message that is not valid UTF-8 must still be reported, so
// the conversion's own message ("Некорректный UTF-8") stands in for it.
std::wstring message_text(const std::exception& error);

}  // namespace installer
