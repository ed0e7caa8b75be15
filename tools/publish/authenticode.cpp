// Whether a Windows program carries an Authenticode signature: the PE header's data directory
// names a certificate table. The signature itself is osslsigncode's and Windows' business.
#include "publish.h"

#include <cstring>
#include <fstream>

namespace {

std::uint32_t little(std::string_view bytes, std::size_t at, std::size_t size)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

} // namespace

Authenticode authenticodeOf(std::string_view head)
{
    if (head.size() < 0x40 || head.substr(0, 2) != "MZ")
        return Authenticode::notProgram;
    std::size_t pe = little(head, 0x3C, 4);
    // "PE\0\0", the file header (20 bytes), then the optional header, whose magic says where
    // its data directories begin; the certificate table is entry 4.
    if (pe + 24 + 2 > head.size() || head.substr(pe, 4) != std::string_view("PE\0\0", 4))
        return Authenticode::notProgram;
    std::size_t optional = pe + 24;
    std::uint32_t magic = little(head, optional, 2);
    std::size_t directories = magic == 0x20B ? optional + 112 : magic == 0x10B ? optional + 96 : 0;
    if (directories == 0)
        return Authenticode::notProgram;
    std::size_t numberAt = directories - 4;
    std::size_t entry = directories + 4 * 8;
    if (entry + 8 > head.size() || little(head, numberAt, 4) <= 4)
        return Authenticode::unsigned_;
    return little(head, entry, 4) != 0 && little(head, entry + 4, 4) != 0 ? Authenticode::signed_
                                                                         : Authenticode::unsigned_;
}

Authenticode authenticodeOfFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(kAuthenticodeHeadBytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return authenticodeOf(head);
}
