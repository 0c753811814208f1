// What the receive path of the window should do, written from the documented behaviour and
// not from the code under test, for fuzz_receive: the rule that cuts received bytes into
// frames and junk, the window's handling of accepted replies as a model (its texts, messages
// and the requests it sends), and what accepted replies have offered each field.
#pragma once

#include <QString>

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace receive_model {

constexpr std::size_t KEYS = 16;
constexpr std::size_t STEP = 8;  // bytes in every frame, and the step replies keep to
constexpr std::uint8_t REPLY_HEADER = 0x22;
constexpr std::uint8_t REQUEST_HEADER = 0x55;
constexpr std::uint8_t WRITE = 0xF0;
constexpr std::uint8_t READ = 0xF1;
constexpr int LAST_RECORD = 16;
constexpr std::uint8_t MODULE_ADDRESS = 1;  // the default "add", never changed by the fuzzer

using bytes8 = std::array<std::uint8_t, STEP>;

inline std::string utf8(const QString& s)
{
    return s.toStdString();
}

inline QString decimal(unsigned v)
{
    return QString::fromStdString(std::to_string(v));
}

// The three operation texts in code order (1..3); every other code shows the empty text. A
// row whose code 4..255 came from a read reply keeps that code behind its empty text until
// the user edits the box; any other empty text names code 0.
inline const std::array<QString, 3>& operation_texts()
{
    static const std::array<QString, 3> texts{
        QStringLiteral("按下翻转"),
        QStringLiteral("按下闭合 抬起断开"),
        QStringLiteral("按下点动闭合0.5秒"),
    };
    return texts;
}

inline QString operation_text(unsigned code)
{
    return code >= 1 && code <= 3 ? operation_texts()[code - 1u] : QString();
}

inline bool checksum_ok(const std::uint8_t* f)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < STEP - 1; ++i)
        sum += f[i];
    return (sum % 256u) == f[STEP - 1];
}

inline bytes8 request(std::uint8_t function, int record, std::uint8_t v1, std::uint8_t v2,
                      std::uint8_t v3)
{
    bytes8 f{
        REQUEST_HEADER, MODULE_ADDRESS, function, static_cast<std::uint8_t>(record), v1, v2, v3, 0};
    unsigned sum = 0;
    for (std::size_t i = 0; i < STEP - 1; ++i)
        sum += f[i];
    f[STEP - 1] = static_cast<std::uint8_t>(sum % 256u);
    return f;
}

// ---------------------------------------------------------------------------------------
// The cutting rule

// One piece of the received stream: a whole frame, or one junk byte (the link may report a
// run of junk bytes as one item).
struct piece
{
    enum class kind { reply, echo, junk };
    kind what = kind::junk;
    std::uint64_t at = 0;  // since the last discard
    std::vector<std::uint8_t> bytes;

    bool in_step() const { return at % STEP == 0; }
};

inline const char* kind_name(piece::kind k)
{
    return k == piece::kind::reply ? "reply" : k == piece::kind::echo ? "echo" : "junk";
}

// At a header byte with 8 bytes there that pass checksum and header, a frame, unless it
// starts out of step and a whole reply already received starts at the next 8-byte step
// inside it (stray bytes that pass must not swallow a real reply); otherwise that byte is
// junk and the search goes on one byte further; a tail shorter than 8 bytes that starts with
// a header byte waits for more.
class cutter
{
public:
    // Appends `n` bytes and returns the pieces they complete, in stream order.
    std::vector<piece> feed(const std::uint8_t* data, std::size_t n)
    {
        pending_.insert(pending_.end(), data, data + n);
        std::vector<piece> pieces;
        std::size_t i = 0;
        while (i < pending_.size()) {
            const std::uint8_t first = pending_[i];
            const bool header = first == REPLY_HEADER || first == REQUEST_HEADER;
            if (header && pending_.size() - i < STEP)
                break;  // may still become a frame
            if (header && checksum_ok(&pending_[i]) && !reply_at_next_step(i)) {
                const auto begin = pending_.begin() + static_cast<std::ptrdiff_t>(i);
                pieces.push_back({first == REPLY_HEADER ? piece::kind::reply : piece::kind::echo,
                                  position_ + i,
                                  {begin, begin + static_cast<std::ptrdiff_t>(STEP)}});
                i += STEP;
            } else {
                pieces.push_back({piece::kind::junk, position_ + i, {first}});
                ++i;
            }
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i));
        position_ += i;
        return pieces;
    }

    // A send discarded everything received so far.
    void clear()
    {
        pending_.clear();
        position_ = 0;
    }

    std::uint64_t position() const { return position_; }

private:
    bool reply_at_next_step(std::size_t i) const
    {
        const std::uint64_t into_step = (position_ + i) % STEP;
        if (into_step == 0)
            return false;
        const std::size_t next = i + static_cast<std::size_t>(STEP - into_step);
        return pending_.size() >= next + STEP && pending_[next] == REPLY_HEADER &&
               checksum_ok(&pending_[next]);
    }

    std::vector<std::uint8_t> pending_;
    std::uint64_t position_ = 0;  // of pending_[0]
};

// ---------------------------------------------------------------------------------------
// The window

struct window_texts
{
    QString port;                             // chuankou_num (never touched by replies)
    QString open;                             // open_comm caption (never touched by replies)
    QString address;                          // add
    QString refresh;                          // Text5
    std::array<QString, KEYS> key_address;    // Text2_i
    std::array<QString, KEYS> key_line;       // Text3_i
    std::array<QString, KEYS> key_operation;  // Combo1_i currentText
    QString write_caption;                    // Command1
    QString read_caption;                     // Command2

    friend bool operator==(const window_texts&, const window_texts&) = default;
};

// Names the differences between two snapshots, or returns the empty string.
inline std::string difference(const window_texts& actual, const window_texts& expected)
{
    std::string d;
    auto cmp = [&d](const std::string& name, const QString& a, const QString& e) {
        if (a != e)
            d += (d.empty() ? "" : "; ") + name + ": shows \"" + utf8(a) + "\", expected \"" +
                 utf8(e) + "\"";
    };
    cmp("chuankou_num", actual.port, expected.port);
    cmp("open_comm", actual.open, expected.open);
    cmp("add", actual.address, expected.address);
    cmp("Text5", actual.refresh, expected.refresh);
    for (std::size_t i = 0; i < KEYS; ++i) {
        const std::string n = std::to_string(i);
        cmp("Text2_" + n, actual.key_address[i], expected.key_address[i]);
        cmp("Text3_" + n, actual.key_line[i], expected.key_line[i]);
        cmp("Combo1_" + n, actual.key_operation[i], expected.key_operation[i]);
    }
    cmp("Command1", actual.write_caption, expected.write_caption);
    cmp("Command2", actual.read_caption, expected.read_caption);
    return d;
}

const QString WRITE_CAPTION = QStringLiteral("写入到模块");
const QString READ_CAPTION = QStringLiteral("从模块读取");
const QString WRITE_PROGRESS = QStringLiteral("已写入 ");
const QString READ_PROGRESS = QStringLiteral("已读取 ");
const QString WRITE_DONE = QStringLiteral("全部数据写入完毕");
const QString READ_DONE = QStringLiteral("全部数据读取完毕");

// The start-up window, its port closed.
inline const window_texts& default_texts()
{
    static const window_texts d = [] {
        window_texts t;
        t.port = QStringLiteral("1");
        t.open = QStringLiteral("打开");
        t.address = decimal(MODULE_ADDRESS);
        t.refresh = QStringLiteral("50");
        for (std::size_t i = 0; i < KEYS; ++i) {
            t.key_address[i] = QStringLiteral("1");
            t.key_line[i] = decimal(static_cast<unsigned>(i + 1));
            t.key_operation[i] = operation_texts()[0];
        }
        t.write_caption = WRITE_CAPTION;
        t.read_caption = READ_CAPTION;
        return t;
    }();
    return d;
}

// The window as the documented handling leaves it: its texts, the values behind them, the
// messages shown and the requests sent.
class window_model
{
public:
    window_model()
    {
        for (std::size_t i = 0; i < KEYS; ++i) {
            key_address_[i] = 1;
            key_line_[i] = static_cast<std::uint8_t>(i + 1);
            key_operation_[i] = 1;
        }
    }

    const window_texts& texts() const { return texts_; }
    const std::vector<QString>& messages() const { return messages_; }
    const std::vector<bytes8>& sent() const { return sent_; }
    // The chains hold the line while a request of theirs waits for its reply.
    bool chains_hold_line() const { return write_waits_ || read_waits_; }

    void set_port_open(bool open)
    {
        texts_.open = open ? QStringLiteral("关闭") : QStringLiteral("打开");
    }

    struct outcome
    {
        bool moved = false;  // it moved a chain on
        bool sent = false;   // ... and sent the next request
    };

    // The documented handling of one accepted reply.
    outcome handle(const bytes8& f)
    {
        const int n = f[3];
        if (f[1] != MODULE_ADDRESS || n > LAST_RECORD || (f[2] != WRITE && f[2] != READ))
            return {};
        const bool write = f[2] == WRITE;
        if (!write)
            apply(n, f[4], f[5], f[6]);
        bool& waits = write ? write_waits_ : read_waits_;
        QString& caption = write ? texts_.write_caption : texts_.read_caption;
        waits = n < LAST_RECORD;
        if (n == LAST_RECORD) {
            messages_.push_back(write ? WRITE_DONE : READ_DONE);
            caption = write ? WRITE_CAPTION : READ_CAPTION;
            return {true, false};
        }
        // The values are read as the request goes out.
        sent_.push_back(write ? write_request(n + 1) : request(READ, n + 1, 0, 0, 0));
        caption = (write ? WRITE_PROGRESS : READ_PROGRESS) + decimal(unsigned(n + 1));
        return {true, true};
    }

private:
    void apply(int record, std::uint8_t v1, std::uint8_t v2, std::uint8_t v3)
    {
        if (record == 0) {
            refresh_ = v1;
            texts_.refresh = decimal(v1);
            return;
        }
        const auto row = static_cast<std::size_t>(record - 1);
        key_address_[row] = v1;
        key_line_[row] = v2;
        key_operation_[row] = v3;  // 4..255 too: the row keeps what the module holds
        texts_.key_address[row] = decimal(v1);
        texts_.key_line[row] = decimal(v2);
        texts_.key_operation[row] = operation_text(v3);
    }

    bytes8 write_request(int record) const
    {
        if (record == 0)
            return request(WRITE, 0, refresh_, 0, 0);
        const auto row = static_cast<std::size_t>(record - 1);
        return request(WRITE, record, key_address_[row], key_line_[row],
                       static_cast<std::uint8_t>(key_operation_[row]));
    }

    window_texts texts_ = default_texts();
    std::uint8_t refresh_ = 50;
    std::array<std::uint8_t, KEYS> key_address_{};
    std::array<std::uint8_t, KEYS> key_line_{};
    std::array<unsigned, KEYS> key_operation_{};  // the code the row would write, 0..255
    bool write_waits_ = false;
    bool read_waits_ = false;
    std::vector<QString> messages_;
    std::vector<bytes8> sent_;
};

// ---------------------------------------------------------------------------------------
// What accepted replies have offered each field

class offered_values
{
public:
    // An accepted reply, whether or not it was taken.
    void offer(const bytes8& f)
    {
        const int n = f[3];
        if (f[1] != MODULE_ADDRESS || n > LAST_RECORD)
            return;
        if (f[2] == WRITE) {
            write_progress_.set(static_cast<std::size_t>(n));
        } else if (f[2] == READ) {
            read_progress_.set(static_cast<std::size_t>(n));
            if (n == 0) {
                refresh_.set(f[4]);
            } else {
                const auto row = static_cast<std::size_t>(n - 1);
                key_address_[row].set(f[4]);
                key_line_[row].set(f[5]);
                key_operation_[row].set(f[6]);
            }
        }
    }

    // Names a text of `shown` that is neither its default nor offered, or returns the empty
    // string; the port box, its button and the module address are never offered.
    std::string unoffered(const window_texts& shown) const
    {
        const window_texts& d = default_texts();
        if (shown.port != d.port || shown.address != d.address)
            return "a field that no reply may touch changed: " + difference(shown, d);
        if (!byte_offered(shown.refresh, d.refresh, refresh_))
            return "Text5 shows \"" + utf8(shown.refresh) + "\", carried by no read reply";
        for (std::size_t i = 0; i < KEYS; ++i) {
            const std::string n = std::to_string(i);
            if (!byte_offered(shown.key_address[i], d.key_address[i], key_address_[i]))
                return "Text2_" + n + " shows \"" + utf8(shown.key_address[i]) +
                       "\", carried by no read reply";
            if (!byte_offered(shown.key_line[i], d.key_line[i], key_line_[i]))
                return "Text3_" + n + " shows \"" + utf8(shown.key_line[i]) +
                       "\", carried by no read reply";
            if (!operation_offered(shown.key_operation[i], d.key_operation[i], key_operation_[i]))
                return "Combo1_" + n + " shows \"" + utf8(shown.key_operation[i]) +
                       "\", carried by no read reply";
        }
        if (!caption_offered(shown.write_caption, d.write_caption, WRITE_PROGRESS, write_progress_))
            return "Command1 shows \"" + utf8(shown.write_caption) +
                   "\", neither its caption nor the progress of a write reply";
        if (!caption_offered(shown.read_caption, d.read_caption, READ_PROGRESS, read_progress_))
            return "Command2 shows \"" + utf8(shown.read_caption) +
                   "\", neither its caption nor the progress of a read reply";
        return {};
    }

private:
    // The byte `text` shows in its one exact form (plain decimal, no sign, no padding).
    static std::optional<unsigned> exact_decimal(const QString& text)
    {
        if (text.isEmpty() || text.size() > 3 || (text.size() > 1 && text[0] == u'0'))
            return std::nullopt;
        unsigned v = 0;
        for (const QChar c : text) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            v = v * 10u + (c.unicode() - u'0');
        }
        if (v > 255u)
            return std::nullopt;
        return v;
    }

    static bool byte_offered(const QString& text, const QString& default_text,
                             const std::bitset<256>& offered)
    {
        if (text == default_text)
            return true;
        const auto v = exact_decimal(text);
        return v && offered[*v];
    }

    static bool operation_offered(const QString& text, const QString& default_text,
                                  const std::bitset<256>& offered)
    {
        if (text == default_text)
            return true;
        for (unsigned c = 0; c < 256; ++c) {
            if (offered[c] && text == operation_text(c))
                return true;
        }
        return false;
    }

    static bool caption_offered(const QString& text, const QString& default_text,
                                const QString& progress_text, const std::bitset<17>& offered)
    {
        if (text == default_text)
            return true;
        if (!text.startsWith(progress_text))
            return false;
        const auto n = exact_decimal(text.mid(progress_text.size()));
        return n && *n >= 1 && *n <= 16 && offered[*n - 1];  // record N-1 gives "N"
    }

    std::bitset<256> refresh_;
    std::array<std::bitset<256>, KEYS> key_address_;
    std::array<std::bitset<256>, KEYS> key_line_;
    std::array<std::bitset<256>, KEYS> key_operation_;  // by code
    std::bitset<17> write_progress_;                    // N-1 for "已写入 N"
    std::bitset<17> read_progress_;
};

}  // namespace receive_model
