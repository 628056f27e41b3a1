#pragma once
// The file version of a program image, read from the image itself: the proxy
// program carries an ELF note in the section ".note.ovra.version" (name
// "OVRA", type 1, descriptor = major, minor, build, revision as little-endian
// 16-bit words followed by the product name, zero-padded to 8 bytes). The
// parser takes outside bytes and checks every offset before it reads.

#include <array>
#include <compare>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace ovra {

struct ImageVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;

    // Versions order by (major, minor, build, revision) in turn: 2.0.0.0 is
    // newer than 1.11.0.0.
    friend constexpr auto operator<=>(const ImageVersion&, const ImageVersion&) = default;
};

inline constexpr char kImageVersionSection[] = ".note.ovra.version";
inline constexpr char kImageVersionNoteName[] = "OVRA";
inline constexpr std::uint32_t kImageVersionNoteType = 1;
inline constexpr std::size_t kImageVersionDescSize = 16;  // 4 words + 8-byte product

// The note as the program declares it (see proxy/VersionNote.cpp).
struct ImageVersionNote {
    std::uint32_t nameSize;
    std::uint32_t descSize;
    std::uint32_t type;
    char name[8];
    std::uint16_t version[4];
    char product[8];
};

struct ImageInfo {
    ImageVersion version;
    std::array<char, 9> product{};  // zero-terminated
    std::size_t versionOffset = 0;  // file offset of the four version words
};

namespace image_detail {
inline std::uint64_t Read(std::span<const std::uint8_t> b, std::size_t at, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(b[at + i]) << (8 * i);
    return v;
}
inline bool Fits(std::size_t size, std::uint64_t at, std::uint64_t length) {
    return at <= size && length <= size - at;
}
}  // namespace image_detail

// Finds the version note of a little-endian ELF image (32- or 64-bit).
// Nullopt when the bytes are not such an image or carry no valid note.
inline std::optional<ImageInfo> ReadImageInfo(std::span<const std::uint8_t> image) {
    using image_detail::Fits;
    using image_detail::Read;
    const std::size_t size = image.size();
    if (size < 52 || std::memcmp(image.data(), "\x7F" "ELF", 4) != 0) return std::nullopt;
    const bool is64 = image[4] == 2;
    if ((image[4] != 1 && image[4] != 2) || image[5] != 1) return std::nullopt;  // little-endian only
    if (is64 && size < 64) return std::nullopt;
    const std::size_t w = is64 ? 8 : 4;
    const std::uint64_t shoff = Read(image, is64 ? 0x28 : 0x20, w);
    const std::uint64_t shentsize = Read(image, is64 ? 0x3A : 0x2E, 2);
    const std::uint64_t shnum = Read(image, is64 ? 0x3C : 0x30, 2);
    const std::uint64_t shstrndx = Read(image, is64 ? 0x3E : 0x32, 2);
    const std::uint64_t minEntry = is64 ? 64 : 40;
    if (shnum == 0 || shentsize < minEntry || shstrndx >= shnum) return std::nullopt;
    if (shnum > size / shentsize || !Fits(size, shoff, shnum * shentsize)) return std::nullopt;
    auto section = [&](std::uint64_t i, std::uint64_t& name, std::uint64_t& offset,
                       std::uint64_t& length) {
        const std::size_t at = static_cast<std::size_t>(shoff + i * shentsize);
        name = Read(image, at, 4);
        offset = Read(image, at + (is64 ? 0x18 : 0x10), w);
        length = Read(image, at + (is64 ? 0x20 : 0x14), w);
    };
    std::uint64_t strName = 0, strOffset = 0, strLength = 0;
    section(shstrndx, strName, strOffset, strLength);
    if (!Fits(size, strOffset, strLength)) return std::nullopt;
    const std::string_view wanted(kImageVersionSection);
    for (std::uint64_t i = 0; i < shnum; ++i) {
        std::uint64_t name = 0, offset = 0, length = 0;
        section(i, name, offset, length);
        if (name >= strLength || strLength - name < wanted.size() + 1) continue;
        const char* text = reinterpret_cast<const char*>(image.data() + strOffset + name);
        if (std::memcmp(text, wanted.data(), wanted.size()) != 0 || text[wanted.size()] != '\0')
            continue;
        if (!Fits(size, offset, length) || length < 12 + 8 + kImageVersionDescSize) return std::nullopt;
        const std::size_t at = static_cast<std::size_t>(offset);
        if (Read(image, at, 4) != 5 || Read(image, at + 4, 4) != kImageVersionDescSize ||
            Read(image, at + 8, 4) != kImageVersionNoteType ||
            std::memcmp(image.data() + at + 12, "OVRA\0", 5) != 0)
            return std::nullopt;
        ImageInfo info;
        info.versionOffset = at + 20;
        info.version.major = static_cast<std::uint16_t>(Read(image, at + 20, 2));
        info.version.minor = static_cast<std::uint16_t>(Read(image, at + 22, 2));
        info.version.build = static_cast<std::uint16_t>(Read(image, at + 24, 2));
        info.version.revision = static_cast<std::uint16_t>(Read(image, at + 26, 2));
        std::memcpy(info.product.data(), image.data() + at + 28, 8);
        info.product[8] = '\0';
        return info;
    }
    return std::nullopt;
}

}  // namespace ovra
