#include "tests/release/sample_package.h"

namespace test {

std::vector<ZipEntry> sample_package() {
    std::string shader(700, '\0');
    for (size_t i = 0; i < shader.size(); ++i)
        shader[i] = static_cast<char>(i * 31);
    return {
        zip_folder("KORLAUNCHER/"),
        {"KORLAUNCHER/KORLAUNCHER.exe", std::string(900, 'M'), true},
        {"KORLAUNCHER/launcher.json", "{\"channel\":\"stable\"}"},
        zip_folder("KORLAUNCHER/shaders/"),
        {"KORLAUNCHER/shaders/ui.vert.spv", shader, true},
        {"KORLAUNCHER/shaders/ui.frag.spv", shader.substr(100)},
        {"KORLAUNCHER/assets/fonts/regular.json", "{\"glyphs\":[1,2,3]}", true},
        {"KORLAUNCHER/assets/fonts/regular.png", "\x89PNG\r\n\x1a\n..."},
        {"KORLAUNCHER/assets/images/logo.png", std::string(300, 'L'), true},
    };
}

}  // namespace test
