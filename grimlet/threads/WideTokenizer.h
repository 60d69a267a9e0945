#pragma once
// Splits a text at delimiter characters the way the C library's wcstok does: leading delimiters are
// skipped, and once the text is used up every further token is empty.
#include <string>

class WideTokenizer {
public:
    WideTokenizer(std::wstring text, std::wstring delimiters)
        : text_(std::move(text)), delimiters_(std::move(delimiters)) {}

    std::wstring Next();

private:
    std::wstring text_;
    std::wstring delimiters_;
    std::wstring::size_type position_ = 0;
};
