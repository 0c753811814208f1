// Telnet with the COM-PORT-OPTION, as far as a client of a network serial server needs it:
// data with 0xFF doubled, the line settings as subnegotiations, and a decoder that turns
// whatever the server sends into line bytes and Telnet events. Plain values, no sockets:
// the network device feeds bytes in and writes out what comes back.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace lorvane::telnet {

// Commands (the byte after IAC).
inline constexpr std::uint8_t SE = 240;
inline constexpr std::uint8_t NOP = 241;
inline constexpr std::uint8_t SB = 250;
inline constexpr std::uint8_t WILL = 251;
inline constexpr std::uint8_t WONT = 252;
inline constexpr std::uint8_t DO = 253;
inline constexpr std::uint8_t DONT = 254;
inline constexpr std::uint8_t IAC = 255;

// Options.
inline constexpr std::uint8_t OPTION_BINARY = 0;
inline constexpr std::uint8_t OPTION_SUPPRESS_GO_AHEAD = 3;
inline constexpr std::uint8_t OPTION_COM_PORT = 44;

// COM-PORT-OPTION commands from client to server; the server acknowledges each with the same
// command plus SERVER_OFFSET and the value it put in use.
inline constexpr std::uint8_t SET_BAUDRATE = 1;
inline constexpr std::uint8_t SET_DATASIZE = 2;
inline constexpr std::uint8_t SET_PARITY = 3;
inline constexpr std::uint8_t SET_STOPSIZE = 4;
inline constexpr std::uint8_t SET_CONTROL = 5;
inline constexpr std::uint8_t SET_LINESTATE_MASK = 10;
inline constexpr std::uint8_t PURGE_DATA = 12;
// From the server only, with SERVER_OFFSET: the line state whose bits the mask lets through.
inline constexpr std::uint8_t NOTIFY_LINESTATE = 6;
inline constexpr std::uint8_t SERVER_OFFSET = 100;

// The values of the line settings: 9600 baud, 8 data bits, no parity, 1 stop bit, no flow
// control; and the purge of both of the server's buffers.
inline constexpr std::uint32_t BAUD_RATE = 9600;
inline constexpr std::uint8_t DATA_SIZE_8 = 8;
inline constexpr std::uint8_t LINE_PARITY_NONE = 1;
inline constexpr std::uint8_t STOP_SIZE_1 = 1;
inline constexpr std::uint8_t CONTROL_NO_FLOW = 1;
inline constexpr std::uint8_t PURGE_BOTH = 3;
// The line-state bits we ask to be told of: overrun (0x02), parity (0x04), framing (0x08)
// and break (0x10) errors. The data-ready and shift-register bits would come with every byte.
inline constexpr std::uint8_t LINESTATE_ERRORS = 0x1E;

// A subnegotiation longer than this is not ours to read: it is dropped whole.
inline constexpr qsizetype MAX_SUBNEGOTIATION = 64;

struct event
{
    enum class kind {
        command,         // IAC and a command without option (NOP, GA, DM, a stray SE, ...)
        negotiation,     // IAC WILL/WONT/DO/DONT option
        subnegotiation,  // IAC SB option data IAC SE, data undoubled
    };
    kind what = kind::command;
    std::uint8_t code = 0;    // the command byte: NOP, WILL, SB, ...
    std::uint8_t option = 0;  // negotiation and subnegotiation
    QByteArray data;          // subnegotiation only, at most MAX_SUBNEGOTIATION bytes

    friend bool operator==(const event&, const event&) = default;
};

// Splits the server's byte stream into line bytes and Telnet events. Bytes may come in any
// pieces; a command cut between two pieces is finished by the next. Nothing that belongs to a
// command ever comes out as a line byte.
class decoder
{
public:
    // While the server does not send in BINARY mode, a NUL after a CR is padding (CR NUL is
    // how a bare CR travels) and is dropped.
    void set_binary(bool binary) { binary_ = binary; }

    void feed(QByteArrayView bytes, QByteArray& line, std::vector<event>& events);
    // The same, each event handed to `on_event` as soon as it is complete, so that what it
    // changes (BINARY mode) applies to the bytes behind it.
    void feed(QByteArrayView bytes, QByteArray& line,
              const std::function<void(const event&)>& on_event);

private:
    enum class state { data, cr, iac, option, sb_option, sb_data, sb_iac };

    void end_subnegotiation(const std::function<void(const event&)>& on_event);

    state state_ = state::data;
    std::uint8_t verb_ = 0;
    std::uint8_t sb_option_ = 0;
    QByteArray sb_data_;
    bool sb_overflow_ = false;
    bool binary_ = false;
};

// One client session of Telnet with the COM-PORT-OPTION: answers the server's option
// requests, sends the line settings once the server accepts the option, and follows the
// server's acknowledgements. Accepts BINARY and COM-PORT-OPTION both ways and SUPPRESS-GO-AHEAD;
// refuses every other option.
class com_port_session
{
public:
    enum class settings { waiting, acknowledged, refused };

    // What the client says first: WILL COM-PORT-OPTION, WILL BINARY, DO BINARY.
    QByteArray start();

    // Takes bytes from the server: line bytes are appended to `line`; returns what must be sent
    // back (answers to the server's requests, and the line settings once it accepted them).
    QByteArray receive(QByteArrayView bytes, QByteArray& line);

    // Line bytes as they go on the wire: 0xFF doubled (and CR followed by NUL while we do not
    // send in BINARY mode).
    QByteArray encode(QByteArrayView line) const;

    // waiting until the server acknowledged every setting with our value; refused when it
    // declined the option or put another value in use.
    settings settings_state() const;

    // The line settings, the line-state mask and the purge, as sent.
    static QByteArray settings_request();

    // NOTIFY-LINESTATE messages received since the start, and their error bits, or-ed.
    std::uint64_t line_state_notices() const { return notices_; }
    std::uint8_t line_state_errors() const { return line_errors_; }

private:
    enum class option_state : std::uint8_t { off, asked, on };

    void negotiate(const event& e, QByteArray& reply);
    void acknowledgement(const QByteArray& data);

    decoder decoder_;
    std::array<option_state, 256> ours_{};    // options we perform (WILL)
    std::array<option_state, 256> theirs_{};  // options the server performs (DO)
    bool settings_sent_ = false;
    bool refused_ = false;
    unsigned acknowledged_ = 0;  // bit n: SET command n acknowledged with our value
    std::uint64_t notices_ = 0;
    std::uint8_t line_errors_ = 0;
};

}  // namespace lorvane::telnet
