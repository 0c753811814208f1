// The pcapng file format as far as a line capture needs it: the blocks a capture writes (a
// section header, one interface per port, one packet per chunk of bytes in either direction)
// and a reader of such files for replay and tests. Little-endian throughout; timestamps in
// nanoseconds since 1970 (if_tsresol 9).
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace lorvane::pcapng {

// The link type of every interface we write: the first of the user-defined ones, on which
// our Wireshark dissector registers.
inline constexpr std::uint16_t LINKTYPE_USER0 = 147;

// A packet's direction as epb_flags bits 0..1 give it.
enum class direction : std::uint8_t { unknown = 0, inbound = 1, outbound = 2 };

// The Section Header Block that opens a file, with `comment` (the tool, its version and the
// command) as opt_comment and `application` as shb_userappl.
QByteArray section_header(const QString& comment, const QString& application);
// An Interface Description Block: LINKTYPE_USER0, no snap length, if_name `name`,
// nanosecond timestamps.
QByteArray interface_description(const QString& name);
// An Enhanced Packet Block of `bytes` on interface `interface` (the index of its IDB in the
// file) at `time_ns` since 1970, with the direction in epb_flags.
QByteArray enhanced_packet(std::uint32_t interface, std::int64_t time_ns, direction way,
                           QByteArrayView bytes);

struct interface_info
{
    QString name;
    std::uint16_t link_type = 0;
};

struct packet
{
    std::uint32_t interface = 0;
    std::int64_t time_ns = 0;  // since 1970, whatever resolution the file used
    direction way = direction::unknown;
    QByteArray bytes;
};

struct contents
{
    QString comment;  // the first section's opt_comment
    std::vector<interface_info> interfaces;
    std::vector<packet> packets;  // in file order
    bool truncated = false;       // the file ends inside a block (a capture cut off)
};

// Reads a little-endian pcapng file: its interfaces and enhanced packets, up to the first
// block that is cut off or malformed. nullopt when it does not begin with a section header.
std::optional<contents> parse(QByteArrayView file);

}  // namespace lorvane::pcapng
