#include "tools/setup_binding.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "tools/file_kind.h"
#include "tools/files.h"
#include "tools/public_key_input.h"

namespace tools {

namespace {

constexpr std::uint16_t kPe32Plus = 0x20b;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kRcdataType = 10;
constexpr std::u16string_view kResourceName = u"KORVANE_RELEASE";
constexpr std::string_view kFormatLine = "KORVANE-RELEASE-v1";

class Image {
public:
    Image(std::string bytes, std::string name) : bytes_(std::move(bytes)), name_(std::move(name)) {}

    std::uint32_t u16(std::uint64_t offset) const { return read(offset, 2); }
    std::uint32_t u32(std::uint64_t offset) const { return read(offset, 4); }
    std::string_view span(std::uint64_t offset, std::uint64_t size) const {
        if (offset > bytes_.size() || size > bytes_.size() - offset) fail("runs past its end");
        return std::string_view(bytes_).substr(offset, size);
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error(name_ + ": not a Korvane Setup program this tool can read (its PE image " + what +
                                 ")");
    }

private:
    std::uint32_t read(std::uint64_t offset, unsigned count) const {
        const std::string_view bytes = span(offset, count);
        std::uint32_t value = 0;
        for (unsigned i = count; i-- > 0;)
            value = value << 8 | static_cast<unsigned char>(bytes[i]);
        return value;
    }

    std::string bytes_;
    std::string name_;
};

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
};

class ResourceSection {
public:
    ResourceSection(const Image& image, std::vector<Section> sections, std::uint32_t rootRva)
        : image_(image), sections_(std::move(sections)), root_(offset_of(rootRva)) {}

    // The offset of the entry's target below directory `directory` (relative to the root) whose
    // ID or name matches; 0 when there is none.
    std::uint32_t find(std::uint32_t directory, std::uint32_t id, std::u16string_view name) const {
        const std::uint64_t at = root_ + directory;
        const std::uint32_t entries = image_.u16(at + 12) + image_.u16(at + 14);
        for (std::uint32_t i = 0; i < entries; ++i) {
            const std::uint32_t entryName = image_.u32(at + 16 + 8 * i);
            const std::uint32_t target = image_.u32(at + 16 + 8 * i + 4);
            const bool named = (entryName & 0x8000'0000u) != 0;
            if (named ? !name.empty() && name_at(entryName & 0x7FFF'FFFFu) == name : name.empty() && entryName == id) {
                return target;
            }
        }
        return 0;
    }

    // The first entry of a directory (the resource's one language).
    std::uint32_t first(std::uint32_t directory) const {
        const std::uint64_t at = root_ + directory;
        if (image_.u16(at + 12) + image_.u16(at + 14) == 0) image_.fail("has an empty resource directory");
        return image_.u32(at + 16 + 4);
    }

    std::string_view data(std::uint32_t dataEntry) const {
        return image_.span(offset_of(image_.u32(root_ + dataEntry)), image_.u32(root_ + dataEntry + 4));
    }

private:
    std::u16string name_at(std::uint32_t offset) const {
        const std::uint32_t length = image_.u16(root_ + offset);
        std::u16string name;
        for (std::uint32_t i = 0; i < length; ++i) {
            name.push_back(static_cast<char16_t>(image_.u16(root_ + offset + 2 + 2 * i)));
        }
        return name;
    }

    std::uint64_t offset_of(std::uint32_t rva) const {
        for (const Section& section : sections_) {
            if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize) {
                return std::uint64_t{section.rawOffset} + (rva - section.virtualAddress);
            }
        }
        image_.fail("points outside its sections");
    }

    const Image& image_;
    std::vector<Section> sections_;
    std::uint64_t root_;
};

std::string_view field(std::string_view text, std::string_view name) {
    std::string prefix(1, '\n');
    prefix.append(name);
    prefix.push_back('=');
    const std::size_t start = text.find(prefix);
    if (start == std::string_view::npos) return {};
    const std::size_t valueStart = start + prefix.size();
    return text.substr(valueStart, text.find('\n', valueStart) - valueStart);
}

}  // namespace

SetupBinding read_setup_binding(const std::filesystem::path& exe) {
    const std::string name = exe.string();
    const FileKind kind = sniff_file(exe);
    if (kind != FileKind::WindowsProgram) {
        throw std::runtime_error("--setup " + name + " is " + describe_file_kind(kind) + ", not Korvane-Setup.exe");
    }
    const Image image(read_text_file(exe), name);
    const std::uint32_t pe = image.u32(0x3C);
    if (image.span(pe, 4) != std::string_view("PE\0\0", 4)) image.fail("has no PE signature");
    const std::uint32_t sectionCount = image.u16(pe + 6);
    const std::uint32_t optionalSize = image.u16(pe + 20);
    const std::uint64_t optional = pe + 24;
    if (image.u16(optional) != kPe32Plus) image.fail("is not a 64-bit one");
    if (image.u32(optional + 108) <= kResourceDirectoryIndex) image.fail("has no resource directory");
    const std::uint32_t resourceRva = image.u32(optional + 112 + 8 * kResourceDirectoryIndex);
    if (resourceRva == 0) image.fail("has no resources");
    std::vector<Section> sections;
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = optional + optionalSize + 40 * i;
        sections.push_back(
            {image.u32(header + 12), image.u32(header + 8), image.u32(header + 20), image.u32(header + 16)});
    }
    const ResourceSection resources(image, std::move(sections), resourceRva);
    const std::uint32_t type = resources.find(0, kRcdataType, {});
    const std::uint32_t named = type == 0 ? 0 : resources.find(type & 0x7FFF'FFFFu, 0, kResourceName);
    if (named == 0 || (named & 0x8000'0000u) == 0) {
        throw std::runtime_error(name +
                                 " holds no KORVANE_RELEASE resource: is it a Korvane-Setup.exe built from this "
                                 "source (cmake --preset publisher)?");
    }
    std::uint32_t language = resources.first(named & 0x7FFF'FFFFu);
    if ((language & 0x8000'0000u) != 0) image.fail("has a resource nested too deep");
    const std::string_view text = resources.data(language);
    if (text.substr(0, kFormatLine.size()) != kFormatLine)
        image.fail("has a KORVANE_RELEASE resource of another format");
    SetupBinding binding{normalised_public_key_hex(std::string(field(text, "key"))), std::string(field(text, "host"))};
    if (binding.publicKey.empty() || binding.host.empty()) image.fail("has an incomplete KORVANE_RELEASE resource");
    return binding;
}

}  // namespace tools
