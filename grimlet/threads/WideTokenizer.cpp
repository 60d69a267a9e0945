#include "grimlet/threads/WideTokenizer.h"

std::wstring WideTokenizer::Next() {
    const auto begin = text_.find_first_not_of(delimiters_, position_);
    if (begin == std::wstring::npos) {
        position_ = text_.size();
        return {};
    }
    auto end = text_.find_first_of(delimiters_, begin);
    if (end == std::wstring::npos) end = text_.size();
    position_ = end;
    return text_.substr(begin, end - begin);
}
