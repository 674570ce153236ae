#pragma once
// The printable form of a text, used in every trace line: "\n" and "\r" as the two characters \n and \r,
// other non-printable bytes and bytes from 0x80 up as \xhh, printable bytes as themselves.

#include <string>

std::string PrintableText(const std::string& text);
// A missing text prints as "--NULL-STRING--".
std::string PrintableText(const char* text);
// The printable form of one byte (text-mode traffic log: CR and LF never reach it).
std::string PrintableByte(unsigned char byte);
