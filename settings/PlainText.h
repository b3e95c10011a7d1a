// The two small text forms every reader of stored and typed texts needs.
#pragma once

#include <string>

namespace corvantle::plain {

std::string trimmed(const std::string &text); // without surrounding blanks and tabs
std::string upper(std::string text);          // ASCII letters in upper case, other bytes as they are

} // namespace corvantle::plain
