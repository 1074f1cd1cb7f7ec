#pragma once
// The three ways a stored text becomes a control's value. Failures throw Error.
#include <cstdint>
#include <string_view>

namespace tidewell {

// Number-prefix reading: blanks, tabs and line feeds anywhere are ignored, then the longest
// leading number is read (sign, digits, one decimal point, exponent; &H hexadecimal and &O
// octal), the rest ignored; no number gives 0. Rounded to 16 bits, halves to even.
// Throws Error(Overflow) outside -32768..32767; never fails on text.
std::int16_t numberPrefix(std::string_view text);

// Strict number conversion: the whole text, blanks around it allowed, must be a number;
// rounded the same way. Throws Error(TypeMismatch) on empty or non-numeric text,
// Error(Overflow) outside 16 bits.
std::int16_t strictNumber(std::string_view text);

// Whether strictNumber takes the text as it stands (blanks around it allowed).
bool isStrictNumber(std::string_view text);

// Boolean conversion: True or False in any letter case, or a number (0 false, any other true).
// Throws Error(TypeMismatch) on empty or other text.
bool toBoolean(std::string_view text);

}  // namespace tidewell
