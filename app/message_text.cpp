#include "app/message_text.h"

#include "text/utf.h"

namespace installer {

std::wstring message_text(const std::exception& error) {
    try {
        return wide_from_utf8(error.what());
    } catch (const std::exception& conversion) {
        return wide_from_utf8(conversion.what());
    }
}

}  // namespace installer
