#include "app/message_text.h"

#include "text/utf.h"

namespace installer {

std::wstring message_text(const std::exception& error) {
    try {
        return text::wide_from_utf8(error.what());
    } catch (const std::exception& conversion) {
        return text::wide_from_utf8(conversion.what());
    }
}

}  // namespace installer
