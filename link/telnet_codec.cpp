#include "telnet_codec.h"

#include <initializer_list>

namespace lorvane::telnet {

namespace {

constexpr char CR = '\r';

char byte(std::uint8_t value)
{
    return static_cast<char>(value);
}

QByteArray bytes_of(std::initializer_list<std::uint8_t> values)
{
    QByteArray bytes;
    for (const std::uint8_t v : values)
        bytes += byte(v);
    return bytes;
}

QByteArray command(std::uint8_t verb, std::uint8_t option)
{
    return bytes_of({IAC, verb, option});
}

// IAC SB COM-PORT-OPTION command value... IAC SE, with any 0xFF in the value doubled.
QByteArray com_port_command(std::uint8_t code, QByteArrayView value)
{
    QByteArray bytes = bytes_of({IAC, SB, OPTION_COM_PORT, code});
    for (const char c : value) {
        bytes += c;
        if (static_cast<std::uint8_t>(c) == IAC)
            bytes += c;
    }
    bytes += byte(IAC);
    bytes += byte(SE);
    return bytes;
}

QByteArray one(std::uint8_t value)
{
    return QByteArray(1, byte(value));
}

QByteArray baud_rate_value()
{
    // Four bytes, most significant first.
    return bytes_of({std::uint8_t(BAUD_RATE >> 24), std::uint8_t(BAUD_RATE >> 16),
                     std::uint8_t(BAUD_RATE >> 8), std::uint8_t(BAUD_RATE)});
}

// The value each SET command asks for, by command number.
QByteArray requested_value(std::uint8_t code)
{
    switch (code) {
    case SET_BAUDRATE:
        return baud_rate_value();
    case SET_DATASIZE:
        return one(DATA_SIZE_8);
    case SET_PARITY:
        return one(LINE_PARITY_NONE);
    case SET_STOPSIZE:
        return one(STOP_SIZE_1);
    case SET_CONTROL:
        return one(CONTROL_NO_FLOW);
    default:
        return {};
    }
}

constexpr unsigned ALL_SETTINGS = (1u << SET_BAUDRATE) | (1u << SET_DATASIZE) | (1u << SET_PARITY) |
                                  (1u << SET_STOPSIZE) | (1u << SET_CONTROL);

bool accepted_option(std::uint8_t option)
{
    return option == OPTION_BINARY || option == OPTION_SUPPRESS_GO_AHEAD ||
           option == OPTION_COM_PORT;
}

}  // namespace

void decoder::feed(QByteArrayView bytes, QByteArray& line, std::vector<event>& events)
{
    feed(bytes, line, [&events](const event& e) { events.push_back(e); });
}

void decoder::feed(QByteArrayView bytes, QByteArray& line,
                   const std::function<void(const event&)>& on_event)
{
    for (qsizetype i = 0; i < bytes.size();) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        bool consumed = true;
        switch (state_) {
        case state::data:
        case state::cr:
            if (b == IAC) {
                state_ = state::iac;
            } else if (state_ == state::cr && b == 0) {
                state_ = state::data;  // the padding of a bare CR
            } else {
                line += byte(b);
                state_ = b == std::uint8_t(CR) && !binary_ ? state::cr : state::data;
            }
            break;
        case state::iac:
            state_ = state::data;
            if (b == IAC) {
                line += byte(IAC);
            } else if (b >= WILL) {
                verb_ = b;
                state_ = state::option;
            } else if (b == SB) {
                state_ = state::sb_option;
            } else {
                on_event({event::kind::command, b, 0, {}});
            }
            break;
        case state::option:
            on_event({event::kind::negotiation, verb_, b, {}});
            state_ = state::data;
            break;
        case state::sb_option:
            sb_option_ = b;
            sb_data_.clear();
            sb_overflow_ = false;
            state_ = state::sb_data;
            break;
        case state::sb_data:
            if (b == IAC) {
                state_ = state::sb_iac;
            } else if (sb_data_.size() < MAX_SUBNEGOTIATION) {
                sb_data_ += byte(b);
            } else {
                sb_overflow_ = true;
            }
            break;
        case state::sb_iac:
            if (b == IAC) {
                if (sb_data_.size() < MAX_SUBNEGOTIATION)
                    sb_data_ += byte(IAC);
                else
                    sb_overflow_ = true;
                state_ = state::sb_data;
            } else if (b == SE) {
                end_subnegotiation(on_event);
                state_ = state::data;
            } else {
                // A command inside a subnegotiation ends it unfinished: drop what it held and
                // take the command as it stands.
                sb_data_.clear();
                state_ = state::iac;
                consumed = false;
            }
            break;
        }
        if (consumed)
            ++i;
    }
}

void decoder::end_subnegotiation(const std::function<void(const event&)>& on_event)
{
    if (!sb_overflow_)
        on_event({event::kind::subnegotiation, SB, sb_option_, sb_data_});
    sb_data_.clear();
    sb_overflow_ = false;
}

QByteArray com_port_session::start()
{
    ours_[OPTION_COM_PORT] = option_state::asked;
    ours_[OPTION_BINARY] = option_state::asked;
    theirs_[OPTION_BINARY] = option_state::asked;
    return command(WILL, OPTION_COM_PORT) + command(WILL, OPTION_BINARY) +
           command(DO, OPTION_BINARY);
}

QByteArray com_port_session::settings_request()
{
    QByteArray bytes;
    for (const std::uint8_t code :
         {SET_BAUDRATE, SET_DATASIZE, SET_PARITY, SET_STOPSIZE, SET_CONTROL})
        bytes += com_port_command(code, requested_value(code));
    bytes += com_port_command(SET_LINESTATE_MASK, one(LINESTATE_ERRORS));
    bytes += com_port_command(PURGE_DATA, one(PURGE_BOTH));
    return bytes;
}

QByteArray com_port_session::receive(QByteArrayView bytes, QByteArray& line)
{
    QByteArray reply;
    decoder_.feed(bytes, line, [&](const event& e) {
        if (e.what == event::kind::negotiation)
            negotiate(e, reply);
        else if (e.what == event::kind::subnegotiation && e.option == OPTION_COM_PORT)
            acknowledgement(e.data);
    });
    return reply;
}

// Each side's state per option follows the server's word; an answer goes out only when the
// state changes on a request we did not make ourselves, so that no two ends can loop.
void com_port_session::negotiate(const event& e, QByteArray& reply)
{
    const std::uint8_t option = e.option;
    const bool ours = e.code == DO || e.code == DONT;
    option_state& state = ours ? ours_[option] : theirs_[option];
    const bool enable = e.code == DO || e.code == WILL;
    if (enable) {
        if (!accepted_option(option)) {
            reply += command(ours ? WONT : DONT, option);
        } else {
            if (state == option_state::off)
                reply += command(ours ? WILL : DO, option);
            state = option_state::on;
        }
    } else {
        if (state == option_state::on)
            reply += command(ours ? WONT : DONT, option);
        if (ours && option == OPTION_COM_PORT && state != option_state::off)
            refused_ = true;  // the server will not take the line settings from us
        state = option_state::off;
    }
    decoder_.set_binary(theirs_[OPTION_BINARY] == option_state::on);
    if (ours_[OPTION_COM_PORT] == option_state::on && !settings_sent_) {
        reply += settings_request();
        settings_sent_ = true;
    }
}

void com_port_session::acknowledgement(const QByteArray& data)
{
    if (!settings_sent_ || data.isEmpty())
        return;
    const auto code = static_cast<std::uint8_t>(data[0]);
    if (code == SERVER_OFFSET + NOTIFY_LINESTATE && data.size() == 2) {
        ++notices_;
        line_errors_ = static_cast<std::uint8_t>(line_errors_ | (data[1] & LINESTATE_ERRORS));
        return;
    }
    // The mask's and the purge's acknowledgements, and anything else, only inform.
    if (code >= SERVER_OFFSET + SET_BAUDRATE && code <= SERVER_OFFSET + SET_CONTROL) {
        const auto setting = static_cast<std::uint8_t>(code - SERVER_OFFSET);
        if (data.mid(1) == requested_value(setting))
            acknowledged_ |= 1u << setting;
        else
            refused_ = true;  // the server put another value in use
    }
}

com_port_session::settings com_port_session::settings_state() const
{
    if (refused_)
        return settings::refused;
    return (acknowledged_ & ALL_SETTINGS) == ALL_SETTINGS ? settings::acknowledged
                                                          : settings::waiting;
}

QByteArray com_port_session::encode(QByteArrayView line) const
{
    const bool binary = ours_[OPTION_BINARY] == option_state::on;
    QByteArray bytes;
    bytes.reserve(line.size() * 2);
    for (const char c : line) {
        bytes += c;
        if (static_cast<std::uint8_t>(c) == IAC)
            bytes += c;
        else if (c == CR && !binary)
            bytes += '\0';
    }
    return bytes;
}

}  // namespace lorvane::telnet
