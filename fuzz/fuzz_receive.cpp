// libFuzzer target on the whole receive path of the tool:
//
//   received bytes, cut into chunks -> one reply_collector::collect per chunk (one
//   readyRead each) -> transfer_sequences::handle_reply on every accepted frame -> the
//   fields and captions of a real main_form (offscreen, port closed).
//
// Input layout (kept simple so that seeds can be written by hand, see make_corpus.cpp):
//   byte 0             k = (byte0 & 7) + 1 entries in the chunk-size table
//   bytes 1..k         chunk sizes, (byte % 32) + 1 = 1..32 bytes, used in turn, cyclically
//   bytes k+1..end     the byte stream the port receives
// An input too short for its table uses what it has; with no table at all chunks are 8.
//
// Invariants checked here (abort() with a message on violation), besides ASan/UBSan:
//  1. The collector: it reads nothing while fewer than 8 bytes wait, otherwise the next
//     8 bytes of the stream, and 8 more each time a block is rejected while 8 still wait;
//     it accepts a block iff checksum and header are right (checked against an
//     independent oracle) and stops there.
//  2. A collect that is not accepted (rejected or waiting) never changes the window.
//  3. Every value the window shows came from an accepted frame: each field shows its
//     default or a value that an accepted read reply to this module's address carried
//     for that field, in its exact text form; each caption is its default or
//     "已写入 N" / "已读取 N" for an accepted write/read reply for record N-1.
//  4. Stricter: the window equals a model of the documented reply handling, and the
//     messages shown are exactly the two "done" messages where the model expects them.
//
// The window: building a main_form costs ~40 ms under ASan (about 25 inputs/s if each
// input had its own), so one window serves many inputs. Before each input its texts are
// put back to the documented defaults, which is all the state reply handling reads, so
// inputs stay independent; a fresh window is still built every 1000 inputs
// (LORVANE_FUZZ_RECREATE_EVERY=N to change; 1 = a new window for every input).
#include "frame.h"
#include "main_form.h"
#include "message_box.h"
#include "panel_config.h"
#include "reply_collector.h"

#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QEvent>
#include <QIODevice>
#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <bitset>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using lorvane::KEY_COUNT;
constexpr std::size_t KEYS = static_cast<std::size_t>(KEY_COUNT);

// ---------------------------------------------------------------------------------------
// Failure reporting

// Where the current input is, for the failure message; formatted only on failure.
struct progress_info
{
    bool at_end = false;
    std::size_t chunk = 0;
    std::size_t chunk_size = 0;
    std::size_t consumed = 0;             // stream bytes the collector has read
    std::size_t delivered = 0;            // stream bytes appended to the device
    const std::uint8_t* reply = nullptr;  // the accepted reply being handled, if any
};
progress_info progress;

std::string hex(const std::uint8_t* bytes, std::size_t n);

[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

void fail(const char* format, ...)
{
    std::fprintf(stderr, "\n==== fuzz_receive: INVARIANT VIOLATED ====\n");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    if (progress.at_end) {
        std::fprintf(stderr, "\ncontext: end of input\n");
    } else {
        std::fprintf(stderr,
                     "\ncontext: chunk %zu of %zu bytes; stream bytes %zu..%zu were waiting "
                     "before the collect\n",
                     progress.chunk, progress.chunk_size, progress.consumed, progress.delivered);
        if (progress.reply)
            std::fprintf(stderr, "handling the accepted reply [%s]\n",
                         hex(progress.reply, lorvane::FRAME_SIZE).c_str());
    }
    std::fflush(stderr);
    std::abort();
}

std::string hex(const std::uint8_t* bytes, std::size_t n)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i)
            s += ' ';
        s += buf;
    }
    return s;
}

std::string utf8(const QString& s)
{
    return s.toStdString();
}

// ---------------------------------------------------------------------------------------
// A sequential in-memory device: bytes are appended as the port would receive them.

class stream_device final : public QIODevice
{
public:
    stream_device() { open(QIODevice::ReadOnly); }

    void append(const std::uint8_t* data, std::size_t n)
    {
        pending_.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return static_cast<qint64>(pending_.size() - offset_) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 max_size) override
    {
        const qsizetype n =
            std::min<qsizetype>(static_cast<qsizetype>(max_size), pending_.size() - offset_);
        if (n > 0)
            std::memcpy(data, pending_.constData() + offset_, static_cast<std::size_t>(n));
        offset_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray pending_;
    qsizetype offset_ = 0;
};

// ---------------------------------------------------------------------------------------
// The window as texts

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
};

bool operator==(const window_texts& a, const window_texts& b)
{
    return a.port == b.port && a.open == b.open && a.address == b.address &&
           a.refresh == b.refresh && a.key_address == b.key_address && a.key_line == b.key_line &&
           a.key_operation == b.key_operation && a.write_caption == b.write_caption &&
           a.read_caption == b.read_caption;
}

// Names a difference between two snapshots, or returns the empty string.
std::string difference(const window_texts& actual, const window_texts& expected)
{
    auto cmp = [](const char* name, const QString& a, const QString& e) -> std::string {
        if (a == e)
            return {};
        return std::string(name) + ": shows \"" + utf8(a) + "\", expected \"" + utf8(e) + "\"";
    };
    std::string d;
    auto add = [&d](std::string s) {
        if (!s.empty())
            d += (d.empty() ? "" : "; ") + s;
    };
    add(cmp("chuankou_num", actual.port, expected.port));
    add(cmp("open_comm", actual.open, expected.open));
    add(cmp("add", actual.address, expected.address));
    add(cmp("Text5", actual.refresh, expected.refresh));
    for (std::size_t i = 0; i < KEYS; ++i) {
        const std::string n = std::to_string(i);
        add(cmp(("Text2_" + n).c_str(), actual.key_address[i], expected.key_address[i]));
        add(cmp(("Text3_" + n).c_str(), actual.key_line[i], expected.key_line[i]));
        add(cmp(("Combo1_" + n).c_str(), actual.key_operation[i], expected.key_operation[i]));
    }
    add(cmp("Command1", actual.write_caption, expected.write_caption));
    add(cmp("Command2", actual.read_caption, expected.read_caption));
    return d;
}

// The window under test and its widgets, found by objectName as a user-level test would.
struct window
{
    std::unique_ptr<lorvane::main_form> form;
    QLineEdit* port = nullptr;
    QPushButton* open = nullptr;
    QLineEdit* address = nullptr;
    QLineEdit* refresh = nullptr;
    std::array<QLineEdit*, KEYS> key_address{};
    std::array<QLineEdit*, KEYS> key_line{};
    std::array<QComboBox*, KEYS> key_operation{};
    QPushButton* write_button = nullptr;
    QPushButton* read_button = nullptr;

    template <typename W> W* find(const QString& name)
    {
        auto* w = form->findChild<W*>(name, Qt::FindDirectChildrenOnly);
        if (!w)
            fail("main_form has no %s named \"%s\"", W::staticMetaObject.className(),
                 utf8(name).c_str());
        return w;
    }

    void create()
    {
        form = std::make_unique<lorvane::main_form>();
        port = find<QLineEdit>(QStringLiteral("chuankou_num"));
        open = find<QPushButton>(QStringLiteral("open_comm"));
        address = find<QLineEdit>(QStringLiteral("add"));
        refresh = find<QLineEdit>(QStringLiteral("Text5"));
        for (std::size_t i = 0; i < KEYS; ++i) {
            const QString n = QString::number(i);
            key_address[i] = find<QLineEdit>(QStringLiteral("Text2_") + n);
            key_line[i] = find<QLineEdit>(QStringLiteral("Text3_") + n);
            key_operation[i] = find<QComboBox>(QStringLiteral("Combo1_") + n);
        }
        write_button = find<QPushButton>(QStringLiteral("Command1"));
        read_button = find<QPushButton>(QStringLiteral("Command2"));
        if (form->link().is_open())
            fail("a new window's port is open");
    }

    // Puts the documented start-up texts back, as a user retyping them would. The window
    // keeps no other state that reply handling reads (transfer_sequences keeps only its
    // reply waits, which a closed port never arms; the closed link only remembers the last
    // requests, which no reply consults), so this
    // makes each input independent of the ones before it.
    void restore_defaults(const window_texts& d)
    {
        address->setText(d.address);
        refresh->setText(d.refresh);
        for (std::size_t i = 0; i < KEYS; ++i) {
            key_address[i]->setText(d.key_address[i]);
            key_line[i]->setText(d.key_line[i]);
            key_operation[i]->setEditText(d.key_operation[i]);
        }
        write_button->setText(d.write_caption);
        read_button->setText(d.read_caption);
    }

    // The operation lists hold the three texts, in table order, and nothing else.
    void check_operation_lists() const
    {
        const auto& texts = lorvane::operation_texts();
        for (std::size_t i = 0; i < KEYS; ++i) {
            const QComboBox* combo = key_operation[i];
            bool ok = combo->count() == static_cast<int>(texts.size());
            for (int j = 0; ok && j < combo->count(); ++j)
                ok = combo->itemText(j) == texts[static_cast<std::size_t>(j)];
            if (!ok)
                fail("Combo1_%zu holds %d items, not the three operation texts", i, combo->count());
        }
    }

    void snapshot(window_texts& s) const
    {
        s.port = port->text();
        s.open = open->text();
        s.address = address->text();
        s.refresh = refresh->text();
        for (std::size_t i = 0; i < KEYS; ++i) {
            s.key_address[i] = key_address[i]->text();
            s.key_line[i] = key_line[i]->text();
            s.key_operation[i] = key_operation[i]->currentText();
        }
        s.write_caption = write_button->text();
        s.read_caption = read_button->text();
    }
};

// ---------------------------------------------------------------------------------------
// Oracles, written from the documented behaviour, not from the code under test.

constexpr std::uint8_t ORACLE_REPLY_HEADER = 0x22;
constexpr std::uint8_t ORACLE_WRITE = 0xF0;
constexpr std::uint8_t ORACLE_READ = 0xF1;
constexpr int ORACLE_LAST_RECORD = 16;
constexpr std::uint8_t MODULE_ADDRESS = 1;  // the default "add", never changed here

bool oracle_accepts(const std::uint8_t* f)
{
    unsigned sum = 0;
    for (int i = 0; i < 7; ++i)
        sum += f[i];
    return (sum % 256u) == f[7] && f[0] == ORACLE_REPLY_HEADER;
}

QString decimal(unsigned v)
{
    return QString::fromStdString(std::to_string(v));
}

// Operation text of a code: the table entry for 1..3 (the table itself is the model's
// single source, operation_texts()), the empty text for every other code.
QString oracle_operation_text(std::uint8_t code)
{
    if (code >= 1 && code <= 3)
        return lorvane::operation_texts()[code - 1u];
    return {};
}

const window_texts& default_texts()
{
    static const window_texts d = [] {
        window_texts t;
        t.port = QStringLiteral("1");
        t.open = QStringLiteral("打开");
        t.address = QStringLiteral("1");
        t.refresh = QStringLiteral("50");
        for (std::size_t i = 0; i < KEYS; ++i) {
            t.key_address[i] = QStringLiteral("1");
            t.key_line[i] = decimal(static_cast<unsigned>(i + 1));
            t.key_operation[i] = lorvane::operation_texts()[0];
        }
        t.write_caption = QStringLiteral("写入到模块");
        t.read_caption = QStringLiteral("从模块读取");
        return t;
    }();
    return d;
}

const QString WRITE_PROGRESS_ORACLE = QStringLiteral("已写入 ");
const QString READ_PROGRESS_ORACLE = QStringLiteral("已读取 ");
const QString WRITE_DONE_ORACLE = QStringLiteral("全部数据写入完毕");
const QString READ_DONE_ORACLE = QStringLiteral("全部数据读取完毕");

// Invariant 3: what accepted replies have offered each field so far.
struct offered_values
{
    std::bitset<256> refresh;
    std::array<std::bitset<256>, KEYS> key_address;
    std::array<std::bitset<256>, KEYS> key_line;
    std::array<std::bitset<256>, KEYS> key_operation;  // by code
    std::bitset<17> write_progress;                    // N-1 for "已写入 N"
    std::bitset<17> read_progress;

    void clear() { *this = offered_values{}; }
};

// The byte `text` shows in its one exact form (plain decimal, no sign, no padding).
std::optional<unsigned> exact_decimal(const QString& text)
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

bool shows_offered_byte(const QString& text, const QString& default_text,
                        const std::bitset<256>& offered)
{
    if (text == default_text)
        return true;
    const auto v = exact_decimal(text);
    return v && offered[*v];
}

bool shows_offered_operation(const QString& text, const QString& default_text,
                             const std::bitset<256>& offered)
{
    if (text == default_text)
        return true;
    if (text.isEmpty()) {  // the text of codes 0 and 4..255
        for (std::size_t c = 0; c < 256; ++c) {
            if (offered[c] && (c == 0 || c > 3))
                return true;
        }
        return false;
    }
    for (std::uint8_t c = 1; c <= 3; ++c) {
        if (text == oracle_operation_text(c))
            return offered[c];
    }
    return false;
}

bool shows_offered_caption(const QString& text, const QString& default_text,
                           const QString& progress_text, const std::bitset<17>& offered)
{
    if (text == default_text)
        return true;
    if (!text.startsWith(progress_text))
        return false;
    const auto n = exact_decimal(text.mid(progress_text.size()));
    return n && *n >= 1 && *n <= 16 && offered[*n - 1];  // record N-1 gives "N"
}

void check_only_offered_values(const window_texts& shown, const offered_values& offered)
{
    const window_texts& d = default_texts();
    if (shown.port != d.port || shown.open != d.open || shown.address != d.address)
        fail("a field that no reply may touch changed: %s", difference(shown, d).c_str());
    if (!shows_offered_byte(shown.refresh, d.refresh, offered.refresh))
        fail("Text5 shows \"%s\", which no accepted read reply for record 0 carried",
             utf8(shown.refresh).c_str());
    for (std::size_t i = 0; i < KEYS; ++i) {
        if (!shows_offered_byte(shown.key_address[i], d.key_address[i], offered.key_address[i]))
            fail("Text2_%zu shows \"%s\", which no accepted read reply for record %zu carried", i,
                 utf8(shown.key_address[i]).c_str(), i + 1);
        if (!shows_offered_byte(shown.key_line[i], d.key_line[i], offered.key_line[i]))
            fail("Text3_%zu shows \"%s\", which no accepted read reply for record %zu carried", i,
                 utf8(shown.key_line[i]).c_str(), i + 1);
        if (!shows_offered_operation(shown.key_operation[i], d.key_operation[i],
                                     offered.key_operation[i]))
            fail("Combo1_%zu shows \"%s\", which no accepted read reply for record %zu carried", i,
                 utf8(shown.key_operation[i]).c_str(), i + 1);
    }
    if (!shows_offered_caption(shown.write_caption, d.write_caption, WRITE_PROGRESS_ORACLE,
                               offered.write_progress))
        fail("Command1 shows \"%s\", not its caption nor progress of an accepted write reply",
             utf8(shown.write_caption).c_str());
    if (!shows_offered_caption(shown.read_caption, d.read_caption, READ_PROGRESS_ORACLE,
                               offered.read_progress))
        fail("Command2 shows \"%s\", not its caption nor progress of an accepted read reply",
             utf8(shown.read_caption).c_str());
}

// Invariant 4: the documented handling of one accepted reply, applied to the model.
void model_reply(const std::uint8_t* f, window_texts& model, offered_values& offered,
                 std::vector<QString>& expected_messages)
{
    const int n = f[3];
    if (f[1] != MODULE_ADDRESS)
        return;
    if (f[2] == ORACLE_WRITE) {
        if (n < ORACLE_LAST_RECORD) {
            model.write_caption = WRITE_PROGRESS_ORACLE + decimal(static_cast<unsigned>(n + 1));
            offered.write_progress.set(static_cast<std::size_t>(n));
        } else if (n == ORACLE_LAST_RECORD) {
            expected_messages.push_back(WRITE_DONE_ORACLE);
            model.write_caption = default_texts().write_caption;
        }
    } else if (f[2] == ORACLE_READ && n <= ORACLE_LAST_RECORD) {
        if (n == 0) {
            model.refresh = decimal(f[4]);
            offered.refresh.set(f[4]);
        } else {
            const auto row = static_cast<std::size_t>(n - 1);
            model.key_address[row] = decimal(f[4]);
            model.key_line[row] = decimal(f[5]);
            model.key_operation[row] = oracle_operation_text(f[6]);
            offered.key_address[row].set(f[4]);
            offered.key_line[row].set(f[5]);
            offered.key_operation[row].set(f[6]);
        }
        if (n < ORACLE_LAST_RECORD) {
            model.read_caption = READ_PROGRESS_ORACLE + decimal(static_cast<unsigned>(n + 1));
            offered.read_progress.set(static_cast<std::size_t>(n));
        } else {
            expected_messages.push_back(READ_DONE_ORACLE);
            model.read_caption = default_texts().read_caption;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Process-wide state

constexpr unsigned DEFAULT_RECREATE_EVERY = 1000;

struct harness
{
    std::unique_ptr<QApplication> app;
    window win;
    std::vector<QString> messages;  // shown by the current input
    std::uint64_t total_messages = 0;
    // A fresh main_form every this many inputs (LORVANE_FUZZ_RECREATE_EVERY); in between
    // the window is put back to its defaults (see window::restore_defaults).
    unsigned recreate_every = DEFAULT_RECREATE_EVERY;
    unsigned inputs_on_form = 0;
};

harness* the_harness = nullptr;
int qt_argc = 1;
char qt_arg0[] = "fuzz_receive";
char* qt_argv[] = {qt_arg0, nullptr};

void run_one(const std::uint8_t* data, std::size_t size)
{
    harness& h = *the_harness;
    progress = {};
    if (!h.win.form || h.inputs_on_form >= h.recreate_every) {
        h.win.form.reset();
        h.win.create();
        h.inputs_on_form = 0;
    } else {
        h.win.restore_defaults(default_texts());
    }
    ++h.inputs_on_form;
    h.win.check_operation_lists();
    h.messages.clear();

    window_texts model = default_texts();
    window_texts before;
    window_texts after;
    h.win.snapshot(before);
    if (!(before == model))
        fail("the window does not show the documented defaults: %s",
             difference(before, model).c_str());

    // Chunk table and stream.
    std::array<std::size_t, 8> chunk_sizes{8};
    std::size_t chunk_count = 1;
    std::size_t pos = 0;
    if (size > 0) {
        const std::size_t k = (data[0] & 7u) + 1u;
        pos = 1;
        chunk_count = 0;
        while (chunk_count < k && pos < size)
            chunk_sizes[chunk_count++] = (data[pos++] % 32u) + 1u;
        if (chunk_count == 0) {
            chunk_sizes[0] = 8;
            chunk_count = 1;
        }
    }
    const std::uint8_t* stream = data + pos;
    const std::size_t stream_size = size - pos;

    stream_device device;
    lorvane::reply_collector collector;
    offered_values offered;
    std::vector<QString> expected_messages;
    std::size_t delivered = 0;  // bytes appended to the device
    std::size_t consumed = 0;   // bytes the collector has read

    for (std::size_t chunk = 0; delivered < stream_size; ++chunk) {
        const std::size_t n = std::min(chunk_sizes[chunk % chunk_count], stream_size - delivered);
        device.append(stream + delivered, n);
        delivered += n;

        progress = {false, chunk, n, consumed, delivered, nullptr};

        h.win.snapshot(before);
        const auto outcome = collector.collect(device);
        const std::size_t waiting = delivered - consumed;
        const auto left = static_cast<std::size_t>(device.bytesAvailable());

        // Invariant 1: the collector against the byte stream.
        if (waiting < lorvane::FRAME_SIZE) {
            if (outcome != lorvane::reply_collector::outcome::waiting)
                fail("collect with %zu bytes waiting did not return waiting", waiting);
            if (left != waiting)
                fail("collect with %zu bytes waiting left %zu in the device", waiting, left);
        } else {
            // Blocks of 8 are taken while they are rejected and 8 more wait; the first
            // accepted block ends the collect.
            bool accept = false;
            const std::uint8_t* expected = nullptr;
            while (!accept && delivered - consumed >= lorvane::FRAME_SIZE) {
                expected = stream + consumed;
                consumed += lorvane::FRAME_SIZE;
                accept = oracle_accepts(expected);
            }
            const auto& got = collector.reply_buffer();
            if (std::memcmp(got.data(), expected, lorvane::FRAME_SIZE) != 0)
                fail("collect's last block is [%s], the stream had [%s] there",
                     hex(got.data(), got.size()).c_str(),
                     hex(expected, lorvane::FRAME_SIZE).c_str());
            if (left != delivered - consumed)
                fail("collect with %zu bytes waiting left %zu in the device, expected %zu", waiting,
                     left, delivered - consumed);
            const bool accepted = outcome == lorvane::reply_collector::outcome::accepted;
            if (outcome == lorvane::reply_collector::outcome::waiting || accept != accepted)
                fail("frame [%s] %s, the oracle says %s",
                     hex(expected, lorvane::FRAME_SIZE).c_str(),
                     outcome == lorvane::reply_collector::outcome::waiting
                         ? "gave waiting"
                         : (accepted ? "was accepted" : "was rejected"),
                     accept ? "accept" : "reject");
        }

        if (outcome != lorvane::reply_collector::outcome::accepted) {
            // Invariant 2: nothing but an accepted frame changes the window.
            h.win.snapshot(after);
            if (!(after == before))
                fail("a %s collect changed the window: %s",
                     outcome == lorvane::reply_collector::outcome::waiting ? "waiting" : "rejected",
                     difference(after, before).c_str());
            continue;
        }

        const lorvane::frame& reply = collector.reply_buffer();
        progress.reply = reply.data();
        h.win.form->transfer().handle_reply(reply);
        model_reply(reply.data(), model, offered, expected_messages);

        h.win.snapshot(after);
        // Invariant 3, as the brief states it, then the stricter model.
        check_only_offered_values(after, offered);
        if (!(after == model))
            fail("after an accepted reply the window differs from the model: %s",
                 difference(after, model).c_str());
        if (h.messages != expected_messages) {
            std::string got;
            for (const auto& m : h.messages)
                got += " \"" + utf8(m) + "\"";
            fail("messages shown so far:%s; the model expects %zu done messages", got.c_str(),
                 expected_messages.size());
        }
        if (h.win.form->link().is_open())
            fail("the port opened itself");
    }

    progress = {};
    progress.at_end = true;
    h.win.snapshot(after);
    check_only_offered_values(after, offered);
    if (!(after == model))
        fail("at the end the window differs from the model: %s", difference(after, model).c_str());
    if (h.messages != expected_messages)
        fail("%zu messages shown, the model expects %zu", h.messages.size(),
             expected_messages.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* h = new harness;  // lives for the whole process, like the real application
    bool ok = false;
    const int every = qEnvironmentVariableIntValue("LORVANE_FUZZ_RECREATE_EVERY", &ok);
    if (ok && every > 0)
        h->recreate_every = static_cast<unsigned>(every);
    h->app = std::make_unique<QApplication>(qt_argc, qt_argv);
    lorvane::message_box::set_handler([h](QWidget* parent, const QString& text) {
        ++h->total_messages;
        h->messages.push_back(text);
        if (parent != h->win.form.get())
            fail("a message box for \"%s\" was not parented to the window", utf8(text).c_str());
    });
    the_harness = h;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    run_one(data, size);
    // Nothing runs an event loop; deliver whatever the widgets posted, deferred deletions
    // included (a destroyed window leaves some), so that no queue grows from input to input.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
