#include "pcapng.h"

#include <QtEndian>

namespace lorvane::pcapng {

namespace {

constexpr std::uint32_t SECTION_HEADER = 0x0A0D0D0A;
constexpr std::uint32_t INTERFACE_DESCRIPTION = 1;
constexpr std::uint32_t ENHANCED_PACKET = 6;
constexpr std::uint32_t BYTE_ORDER_MAGIC = 0x1A2B3C4D;

constexpr std::uint16_t OPT_END = 0;
constexpr std::uint16_t OPT_COMMENT = 1;
constexpr std::uint16_t SHB_USERAPPL = 4;
constexpr std::uint16_t IF_NAME = 2;
constexpr std::uint16_t IF_TSRESOL = 9;
constexpr std::uint16_t EPB_FLAGS = 2;

// Fixed parts, bytes: block type and total length before the body, total length after it.
constexpr qsizetype BLOCK_FRAMING = 12;
// A block longer than this is not one we could have written: the rest of the file is not read.
constexpr std::uint32_t MAX_BLOCK = 16u << 20;

void put16(QByteArray& out, std::uint16_t v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray& out, std::uint32_t v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

void pad(QByteArray& out)
{
    while (out.size() % 4)
        out += '\0';
}

void put_option(QByteArray& out, std::uint16_t code, QByteArrayView value)
{
    put16(out, code);
    put16(out, std::uint16_t(value.size()));
    out.append(value.data(), value.size());
    pad(out);
}

// A whole block of `type` around `body` (a multiple of 4 bytes long).
QByteArray block(std::uint32_t type, const QByteArray& body)
{
    const auto total = std::uint32_t(body.size() + BLOCK_FRAMING);
    QByteArray out;
    out.reserve(qsizetype(total));
    put32(out, type);
    put32(out, total);
    out += body;
    put32(out, total);
    return out;
}

std::uint16_t get16(QByteArrayView at, qsizetype offset)
{
    return qFromLittleEndian<std::uint16_t>(at.data() + offset);
}

std::uint32_t get32(QByteArrayView at, qsizetype offset)
{
    return qFromLittleEndian<std::uint32_t>(at.data() + offset);
}

// Calls `take(code, value)` for each option in `options` up to opt_endofopt or its end.
template <typename Take> void each_option(QByteArrayView options, Take take)
{
    qsizetype at = 0;
    while (at + 4 <= options.size()) {
        const std::uint16_t code = get16(options, at);
        const std::uint16_t length = get16(options, at + 2);
        if (code == OPT_END || at + 4 + length > options.size())
            return;
        take(code, options.sliced(at + 4, length));
        at += 4 + ((length + 3) & ~3);
    }
}

}  // namespace

QByteArray section_header(const QString& comment, const QString& application)
{
    QByteArray body;
    put32(body, BYTE_ORDER_MAGIC);
    put16(body, 1);           // major version
    put16(body, 0);           // minor version
    put32(body, 0xFFFFFFFF);  // section length: not given (-1, 64 bits)
    put32(body, 0xFFFFFFFF);
    put_option(body, OPT_COMMENT, comment.toUtf8());
    put_option(body, SHB_USERAPPL, application.toUtf8());
    put_option(body, OPT_END, {});
    return block(SECTION_HEADER, body);
}

QByteArray interface_description(const QString& name)
{
    QByteArray body;
    put16(body, LINKTYPE_USER0);
    put16(body, 0);  // reserved
    put32(body, 0);  // snap length: none
    put_option(body, IF_NAME, name.toUtf8());
    put_option(body, IF_TSRESOL, QByteArray(1, char(9)));  // 10^-9 s
    put_option(body, OPT_END, {});
    return block(INTERFACE_DESCRIPTION, body);
}

QByteArray enhanced_packet(std::uint32_t interface, std::int64_t time_ns, direction way,
                           QByteArrayView bytes)
{
    const auto time = std::uint64_t(time_ns);
    QByteArray body;
    body.reserve(bytes.size() + 40);
    put32(body, interface);
    put32(body, std::uint32_t(time >> 32));
    put32(body, std::uint32_t(time));
    put32(body, std::uint32_t(bytes.size()));  // captured
    put32(body, std::uint32_t(bytes.size()));  // on the line
    body.append(bytes.data(), bytes.size());
    pad(body);
    QByteArray flags;
    put32(flags, std::uint32_t(way));
    put_option(body, EPB_FLAGS, flags);
    put_option(body, OPT_END, {});
    return block(ENHANCED_PACKET, body);
}

std::optional<contents> parse(QByteArrayView file)
{
    if (file.size() < BLOCK_FRAMING + 16 || get32(file, 0) != SECTION_HEADER ||
        get32(file, 8) != BYTE_ORDER_MAGIC)
        return std::nullopt;
    contents out;
    std::vector<std::int64_t> ticks_per_second;  // per interface
    bool first_section = true;
    qsizetype at = 0;
    while (at < file.size()) {
        if (file.size() - at < BLOCK_FRAMING) {
            out.truncated = true;
            break;
        }
        const std::uint32_t type = get32(file, at);
        const std::uint32_t total = get32(file, at + 4);
        if (total < BLOCK_FRAMING || total % 4 || total > MAX_BLOCK ||
            qsizetype(total) > file.size() - at) {
            out.truncated = true;
            break;
        }
        if (get32(file, at + qsizetype(total) - 4) != total) {
            out.truncated = true;  // malformed: nothing after it can be trusted
            break;
        }
        const QByteArrayView body = file.sliced(at + 8, qsizetype(total) - BLOCK_FRAMING);
        if (type == SECTION_HEADER && body.size() >= 16) {
            if (get32(body, 0) != BYTE_ORDER_MAGIC)
                break;  // a big-endian section: not one of ours
            if (first_section)
                each_option(body.sliced(16), [&](std::uint16_t code, QByteArrayView value) {
                    if (code == OPT_COMMENT)
                        out.comment = QString::fromUtf8(value);
                });
            first_section = false;
        } else if (type == INTERFACE_DESCRIPTION && body.size() >= 8) {
            interface_info info;
            info.link_type = get16(body, 0);
            std::int64_t per_second = 1'000'000;  // the default resolution: microseconds
            each_option(body.sliced(8), [&](std::uint16_t code, QByteArrayView value) {
                if (code == IF_NAME)
                    info.name = QString::fromUtf8(value);
                else if (code == IF_TSRESOL && value.size() == 1 && !(value[0] & 0x80) &&
                         value[0] <= 18) {
                    per_second = 1;
                    for (int i = 0; i < value[0]; ++i)
                        per_second *= 10;
                }
            });
            out.interfaces.push_back(info);
            ticks_per_second.push_back(per_second);
        } else if (type == ENHANCED_PACKET && body.size() >= 20) {
            packet p;
            p.interface = get32(body, 0);
            const std::uint32_t captured = get32(body, 12);
            if (p.interface >= out.interfaces.size() ||
                captured > std::uint32_t(body.size() - 20)) {
                out.truncated = true;
                break;
            }
            const auto ticks = std::int64_t((std::uint64_t(get32(body, 4)) << 32) | get32(body, 8));
            const std::int64_t per_second = ticks_per_second[p.interface];
            p.time_ns = per_second >= 1'000'000'000 ? ticks / (per_second / 1'000'000'000)
                                                    : ticks * (1'000'000'000 / per_second);
            p.bytes = body.sliced(20, captured).toByteArray();
            const qsizetype options_at = 20 + ((qsizetype(captured) + 3) & ~qsizetype(3));
            if (options_at <= body.size())
                each_option(body.sliced(options_at), [&](std::uint16_t code, QByteArrayView value) {
                    if (code == EPB_FLAGS && value.size() == 4)
                        p.way = direction(get32(value, 0) & 3);
                });
            out.packets.push_back(std::move(p));
        }
        at += qsizetype(total);
    }
    return out;
}

}  // namespace lorvane::pcapng
