// libFuzzer target on the Telnet side of a network serial server: whatever a server sends,
// cut into pieces, through the client's com_port_session, as the network device feeds it.
//
// Input layout:
//   byte 0         bits 0..2: k = bits + 1 entries in the piece-size table; bit 3: the
//                  server has already agreed to BINARY (else CR NUL padding applies)
//   bytes 1..k     piece sizes, (byte % 32) + 1 = 1..32 bytes, used in turn, cyclically
//   bytes k+1..end the server's byte stream
//
// Invariants checked here (abort() with a message on violation), besides ASan/UBSan:
//  1. Pieces do not matter: the stream fed whole and fed in pieces gives the same line bytes,
//     the same answers and the same settings state.
//  2. No command is taken as data: a stream without 0xFF gives exactly its own bytes as line
//     bytes in BINARY mode, and never more line bytes than it had.
//  3. Everything the client sends back is Telnet commands only (a decoder finds no line byte
//     in it), and its size is bounded by the commands that asked for it.
//  4. The line bytes, encoded as the client would send them and decoded again, come back
//     unchanged.
#include "telnet_codec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace lorvane::telnet;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_telnet: invariant violated: %s\n", what);
    std::abort();
}

struct outcome
{
    QByteArray line;
    QByteArray answers;
    com_port_session::settings state = com_port_session::settings::waiting;
};

com_port_session fresh_session(bool binary)
{
    com_port_session session;
    session.start();
    if (binary) {
        QByteArray none;
        session.receive(QByteArray("\xff\xfb\x00\xff\xfd\x00", 6), none);
    }
    return session;
}

outcome run(QByteArrayView stream, const std::vector<qsizetype>& pieces, bool binary)
{
    com_port_session session = fresh_session(binary);
    outcome out;
    qsizetype at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const qsizetype n = std::min(pieces[i % pieces.size()], stream.size() - at);
        out.answers += session.receive(stream.sliced(at, n), out.line);
        at += n;
    }
    out.state = session.settings_state();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool binary = (data[0] & 8u) != 0;
    const std::size_t k = (data[0] & 7u) + 1u;
    std::vector<qsizetype> pieces;
    std::size_t pos = 1;
    while (pieces.size() < k && pos < size)
        pieces.push_back(qsizetype(data[pos++] % 32u) + 1);
    if (pieces.empty())
        pieces.push_back(8);
    const QByteArrayView stream(reinterpret_cast<const char*>(data + pos),
                                static_cast<qsizetype>(size - pos));

    // 1.
    const outcome whole = run(stream, {stream.size() + 1}, binary);
    const outcome cut = run(stream, pieces, binary);
    if (whole.line != cut.line || whole.answers != cut.answers || whole.state != cut.state)
        fail("the stream cut into pieces decodes differently from the whole");

    // 2.
    if (whole.line.size() > stream.size())
        fail("more line bytes than the stream had");
    if (binary && !stream.contains('\xff') && whole.line != stream)
        fail("a stream without IAC did not come through unchanged");

    // 3. Each negotiation is answered by one 3-byte command at most; the settings go once.
    decoder check;
    QByteArray stray;
    std::vector<event> events;
    check.feed(whole.answers, stray, events);
    if (!stray.isEmpty())
        fail("the client's answers hold line bytes");
    const qsizetype negotiations = stream.count('\xff');
    if (whole.answers.size() > 3 * negotiations + com_port_session::settings_request().size())
        fail("the client answered more than it was asked");
    for (const event& e : events) {
        if (e.data.size() > MAX_SUBNEGOTIATION)
            fail("a subnegotiation past the limit");
    }

    // 4.
    com_port_session sender = fresh_session(true);
    com_port_session receiver = fresh_session(true);
    QByteArray back;
    receiver.receive(sender.encode(whole.line), back);
    if (back != whole.line)
        fail("line bytes did not survive encoding and decoding");
    return 0;
}
