#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Every text the user reads, by name, in the user's language (the .def files beside this one,
// po/zh_TW.po).
namespace texts {

enum class Text : unsigned short {
#define PROJECT1_TEXT(name, english) name,
#include "texts/common.def"
#include PROJECT1_PLATFORM_TEXTS
#undef PROJECT1_TEXT
};

// The text, UTF-8.
std::string text(Text id);

// The text with {1}, {2}, ... replaced by args in order.
std::string text(Text id, std::initializer_list<std::string_view> args);

// `pattern` with {1}, {2}, ... replaced by args in order; a number with no argument stays.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace texts
