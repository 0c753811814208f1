// The Telnet side of a network serial server: what the client sends, how the server's bytes
// split into line bytes and events in any pieces, and the settings' confirmation.
#include "telnet_codec.h"

#include <QRandomGenerator>
#include <QTest>

using namespace lorvane::telnet;
// Inside a QObject, a bare `event` is QObject::event.
using telnet_event = lorvane::telnet::event;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out += static_cast<char>(v);
    return out;
}

// A server's stream: data with a doubled 0xFF and a CR, options, a subnegotiation whose value
// holds a doubled 0xFF, a lone command, more data.
const QByteArray SERVER_STREAM = bytes({0x22, IAC,  IAC, 0x0D,
                                        0x0A, IAC,  DO,  OPTION_COM_PORT,
                                        0x01, IAC,  SB,  OPTION_COM_PORT,
                                        101,  0x00, IAC, IAC,
                                        0x25, 0x80, IAC, SE,
                                        IAC,  NOP,  IAC, WILL,
                                        1,    0x33});
const QByteArray SERVER_LINE = bytes({0x22, 0xFF, 0x0D, 0x0A, 0x01, 0x33});
const std::vector<telnet_event> SERVER_EVENTS{
    {telnet_event::kind::negotiation, DO, OPTION_COM_PORT, {}},
    {telnet_event::kind::subnegotiation, SB, OPTION_COM_PORT, bytes({101, 0x00, 0xFF, 0x25, 0x80})},
    {telnet_event::kind::command, NOP, 0, {}},
    {telnet_event::kind::negotiation, WILL, 1, {}},
};

// A server's acknowledgement of a SET command.
QByteArray ack(std::uint8_t code, const QByteArray& value)
{
    return bytes({IAC, SB, OPTION_COM_PORT, code + SERVER_OFFSET}) + value + bytes({IAC, SE});
}

const QByteArray ALL_ACKS = ack(SET_BAUDRATE, bytes({0, 0, 0x25, 0x80})) +
                            ack(SET_DATASIZE, bytes({8})) + ack(SET_PARITY, bytes({1})) +
                            ack(SET_STOPSIZE, bytes({1})) + ack(SET_CONTROL, bytes({1}));

}  // namespace

class tst_telnet_codec : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decoder_takes_any_pieces();
    void decoder_bounds_and_resynchronises();
    void data_is_escaped();
    void session_negotiates_and_confirms();
    void session_sees_refusals();
};

void tst_telnet_codec::decoder_takes_any_pieces()
{
    // Whole, byte by byte, and in random pieces: the same line bytes and events.
    auto* random = QRandomGenerator::global();
    for (int round = 0; round < 200; ++round) {
        decoder d;
        d.set_binary(true);
        QByteArray line;
        std::vector<telnet_event> events;
        for (qsizetype at = 0; at < SERVER_STREAM.size();) {
            const qsizetype piece = round == 0   ? SERVER_STREAM.size()
                                    : round == 1 ? 1
                                                 : random->bounded(1, 6);
            d.feed(QByteArrayView(SERVER_STREAM)
                       .sliced(at, std::min(piece, SERVER_STREAM.size() - at)),
                   line, events);
            at += piece;
        }
        QCOMPARE(line.toHex(' '), SERVER_LINE.toHex(' '));
        QVERIFY(events == SERVER_EVENTS);
    }
}

void tst_telnet_codec::decoder_bounds_and_resynchronises()
{
    decoder d;
    QByteArray line;
    std::vector<telnet_event> events;
    // A subnegotiation past the limit is dropped whole; the data behind it is intact.
    QByteArray big = bytes({IAC, SB, OPTION_COM_PORT});
    big += QByteArray(MAX_SUBNEGOTIATION + 1, 'x');
    d.feed(big + bytes({IAC, SE, 0x41}), line, events);
    QVERIFY(events.empty());
    QCOMPARE(line, QByteArray("A"));
    // A command inside a subnegotiation ends it unfinished: dropped, the command is taken.
    d.feed(bytes({IAC, SB, OPTION_COM_PORT, 101, IAC, DONT, OPTION_COM_PORT, 0x42}), line, events);
    const std::vector<telnet_event> dont{
        {telnet_event::kind::negotiation, DONT, OPTION_COM_PORT, {}}};
    QVERIFY(events == dont);
    QCOMPARE(line, QByteArray("AB"));
    // Outside BINARY mode a CR travels as CR NUL: the NUL is padding, a CR LF stays whole.
    d.feed(bytes({0x0D, 0x00, 0x0D, 0x0A, 0x00}), line, events);
    QCOMPARE(line.toHex(' '), bytes({0x41, 0x42, 0x0D, 0x0D, 0x0A, 0x00}).toHex(' '));
}

void tst_telnet_codec::data_is_escaped()
{
    com_port_session session;
    const QByteArray frame = bytes({0x55, 0xFF, 0xF0, 0x0D, 0xFF, 0xFF, 0xFF, 0x47});
    // Before the server agreed to BINARY, a CR is padded; after, only 0xFF is doubled.
    QCOMPARE(session.encode(frame).toHex(' '),
             bytes({0x55, 0xFF, 0xFF, 0xF0, 0x0D, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x47})
                 .toHex(' '));
    session.start();
    QByteArray line;
    session.receive(bytes({IAC, DO, OPTION_BINARY}), line);
    // The server's own BINARY takes effect for the very next byte: a NUL after a CR is data.
    session.receive(bytes({IAC, WILL, OPTION_BINARY, 0x0D, 0x00}), line);
    QCOMPARE(line.toHex(' '), bytes({0x0D, 0x00}).toHex(' '));
    QCOMPARE(
        session.encode(frame).toHex(' '),
        bytes({0x55, 0xFF, 0xFF, 0xF0, 0x0D, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x47}).toHex(' '));
}

void tst_telnet_codec::session_negotiates_and_confirms()
{
    com_port_session session;
    QCOMPARE(session.start().toHex(' '),
             bytes({IAC, WILL, OPTION_COM_PORT, IAC, WILL, OPTION_BINARY, IAC, DO, OPTION_BINARY})
                 .toHex(' '));
    // What ser2net says on a new connection: SUPPRESS-GO-AHEAD both ways is taken, ECHO is
    // refused, BINARY and COM-PORT-OPTION confirm our own requests. The settings follow the
    // server's DO COM-PORT-OPTION, in the order the option recommends, then the purge.
    QByteArray line;
    const QByteArray answer = session.receive(bytes({IAC, WILL, OPTION_SUPPRESS_GO_AHEAD,
                                                     IAC, DO,   OPTION_SUPPRESS_GO_AHEAD,
                                                     IAC, WILL, 1,
                                                     IAC, DONT, 1,
                                                     IAC, DO,   OPTION_BINARY,
                                                     IAC, WILL, OPTION_BINARY,
                                                     IAC, DO,   OPTION_COM_PORT}),
                                              line);
    const QByteArray settings = bytes(
        {IAC, SB, 44,  1,  0,   0,  0x25, 0x80, IAC, SE,  IAC, SB,  44, 2,   8,   IAC, SE, IAC,
         SB,  44, 3,   1,  IAC, SE, IAC,  SB,   44,  4,   1,   IAC, SE, IAC, SB,  44,  5,  1,
         IAC, SE, IAC, SB, 44,  10, 0x1E, IAC,  SE,  IAC, SB,  44,  12, 3,   IAC, SE});
    QCOMPARE(answer.toHex(' '), (bytes({IAC, DO, OPTION_SUPPRESS_GO_AHEAD, IAC, WILL,
                                        OPTION_SUPPRESS_GO_AHEAD, IAC, DONT, 1}) +
                                 settings)
                                    .toHex(' '));
    QVERIFY(line.isEmpty());
    // Requests for a state already in force are not answered again: no loop.
    QVERIFY(session.receive(bytes({IAC, DO, OPTION_COM_PORT, IAC, WILL, OPTION_BINARY}), line)
                .isEmpty());
    // Confirmed once every setting came back with our value; the purge's answer only informs.
    QCOMPARE(session.receive(ALL_ACKS.left(ALL_ACKS.size() - 1), line), QByteArray());
    QCOMPARE(session.settings_state(), com_port_session::settings::waiting);
    session.receive(ALL_ACKS.right(1) + ack(PURGE_DATA, bytes({3})), line);
    QCOMPARE(session.settings_state(), com_port_session::settings::acknowledged);
    // Line-state notices count, their error bits gather; the data-ready bit (0x01) and a
    // malformed notice without its value are left out.
    QCOMPARE(session.line_state_notices(), std::uint64_t{0});
    session.receive(ack(NOTIFY_LINESTATE, bytes({0x09})) + ack(NOTIFY_LINESTATE, bytes({0x03})) +
                        ack(NOTIFY_LINESTATE, {}),
                    line);
    QCOMPARE(session.line_state_notices(), std::uint64_t{2});
    QCOMPARE(int(session.line_state_errors()), 0x0A);
    QVERIFY(line.isEmpty());
}

void tst_telnet_codec::session_sees_refusals()
{
    QByteArray line;
    {  // the server will not take COM-PORT-OPTION commands
        com_port_session session;
        session.start();
        QCOMPARE(session.receive(bytes({IAC, DONT, OPTION_COM_PORT}), line), QByteArray());
        QCOMPARE(session.settings_state(), com_port_session::settings::refused);
    }
    {  // it puts another baud rate in use
        com_port_session session;
        session.start();
        session.receive(bytes({IAC, DO, OPTION_COM_PORT}), line);
        session.receive(ack(SET_BAUDRATE, bytes({0, 0, 0x4B, 0x00})), line);
        QCOMPARE(session.settings_state(), com_port_session::settings::refused);
    }
    {  // acknowledgements before the settings went out tell nothing about them
        com_port_session session;
        session.start();
        session.receive(ALL_ACKS, line);
        QCOMPARE(session.settings_state(), com_port_session::settings::waiting);
    }
}

QTEST_APPLESS_MAIN(tst_telnet_codec)
#include "tst_telnet_codec.moc"
