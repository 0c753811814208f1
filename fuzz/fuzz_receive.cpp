// libFuzzer target on the whole receive path of the window:
//
//   received bytes, cut into chunks -> a scripted serial device inside a real main_form
//   (offscreen, its port opened with the 打开 button) -> serial_link, which cuts each chunk
//   into frames and junk (frame_stream) -> the window's chains, which queue every in-step
//   reply -> the posted events, sent after each chunk -> transfer_sequences::handle_reply ->
//   the window's fields, captions and messages, and the requests it sends back (recorded by
//   the scripted device).
//
// Input layout (kept simple so that seeds can be written by hand, see make_corpus.cpp):
//   byte 0             k = (byte0 & 7) + 1 entries in the chunk-size table
//   bytes 1..k         chunk sizes, (byte % 32) + 1 = 1..32 bytes, used in turn, cyclically
//   bytes k+1..end     the byte stream the port receives
// An input too short for its table uses what it has; with no table at all chunks are 8.
//
// Invariants checked here (abort() with a message on violation), besides ASan/UBSan:
//  1. The cutter: the items the link reports (item_received) are, in order, those of an
//     independent cutter: at a header byte (0x22 reply, 0x55 echo) with 8 bytes there that
//     pass checksum and header, a frame; otherwise that byte is junk and the search goes on
//     one byte further; a tail shorter than 8 bytes that starts with a header byte waits for
//     more. Positions count from the last discard (the open, or a request the window sent).
//     Each item's fate fits the state of the chains, and it is reported against the request
//     the window sent last while the chains hold the line, against none otherwise.
//  2. Nothing but an accepted, in-step reply changes the window or makes it send: delivering
//     a chunk changes nothing by itself (replies are handled from the event loop), and a
//     chunk without such a reply changes nothing once its posted events have run either.
//  3. Every value the window shows came from an accepted reply: each field shows its default
//     or a value that an accepted in-step read reply to this module's address carried for
//     that field, in its exact text form; each caption is its default or "已写入 N" /
//     "已读取 N" for an accepted write/read reply for record N-1.
//  4. Stricter: the window equals a model of the documented handling. Per chunk the in-step
//     accepted replies are taken in order, and the first that moves a chain on (this
//     module's address, function F0/F1, record 0..16) is the last taken from that chunk;
//     when it sent the next request (record below 16), that send discarded everything
//     received so far, the chunk's partial tail included, and positions start again at 0
//     with the next chunk. The messages shown are exactly the two "done" messages where the
//     model expects them, and the requests sent are exactly the model's: the write or read
//     request for record n+1, built from the values the window holds at that moment.
//
// The window: building a main_form costs ~40 ms under ASan (about 25 inputs/s if each input
// had its own), so one window serves many inputs. At the end of each input its port is
// closed with the 关闭 button, which ends the chains' operation and their reply waits and
// drops the stream's tail; before the next one its texts are put back to the documented
// defaults and the port is opened again, so every input meets a freshly opened window. A new
// window is still built every 1000 inputs (LORVANE_FUZZ_RECREATE_EVERY=N to change; 1 = a new
// window for every input). The 1 s reply deadlines never expire: sending posted events runs
// no timer.
//
// Mutation: random bytes rarely form a frame that passes the checksum, so after libFuzzer's
// own mutation the checksum of one frame is set right every other time (see the end).
#include "frame_stream.h"
#include "line_operation.h"
#include "main_form.h"
#include "message_box.h"
#include "receive_model.h"
#include "scripted_device.h"
#include "serial_link.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace receive_model;

// ---------------------------------------------------------------------------------------
// Failure reporting

// Where the current input is, for the failure message; formatted only on failure.
struct progress_info
{
    bool at_end = false;
    std::size_t chunk = 0;
    std::size_t chunk_size = 0;
    std::size_t delivered = 0;    // stream bytes delivered before this chunk
    std::uint64_t position = 0;   // of the chunk's first waiting byte since the last discard
    std::optional<bytes8> reply;  // the accepted reply being modelled, if any
};
progress_info progress;

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

template <typename Bytes> std::string hex(const Bytes& bytes)
{
    return hex(bytes.data(), bytes.size());
}

unsigned long long ull(std::uint64_t v)
{
    return static_cast<unsigned long long>(v);
}

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
                     "\ncontext: chunk %zu of %zu bytes (stream bytes %zu..), cut from position "
                     "%llu since the last discard\n",
                     progress.chunk, progress.chunk_size, progress.delivered,
                     ull(progress.position));
        if (progress.reply)
            std::fprintf(stderr, "modelling the accepted reply [%s]\n",
                         hex(*progress.reply).c_str());
    }
    std::fflush(stderr);
    std::abort();
}

// ---------------------------------------------------------------------------------------
// The window under test

// One item the link reported, as it reported it.
struct reported_item
{
    lorvane::frame_stream::item item;
    lorvane::item_fate fate;
    lorvane::frame request;
};

// The window and its widgets, found by objectName as a user-level test would; its serial
// device is scripted.
struct window
{
    std::unique_ptr<lorvane::main_form> form;
    scripted_device* device = nullptr;  // owned by the form's link
    std::vector<reported_item> reported;
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
        device = new scripted_device;
        form =
            std::make_unique<lorvane::main_form>(std::unique_ptr<lorvane::serial_device>(device));
        QObject::connect(&form->link(), &lorvane::serial_link::item_received, form.get(),
                         [this](const lorvane::frame_stream::item& item, lorvane::item_fate fate,
                                const lorvane::frame& request) {
                             reported.push_back({item, fate, request});
                         });
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

    // Puts the documented start-up texts back, as a user retyping them would, while the
    // port is closed. The chains keep no position of their own, and closing the port ended
    // their operation and waits, so this makes each input independent of the ones before.
    void restore_defaults()
    {
        const window_texts& d = default_texts();
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

    // The operation lists hold the three texts, in code order, and nothing else.
    void check_operation_lists() const
    {
        const auto& texts = operation_texts();
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

    // 打开 / 关闭, as the user clicks it; checks that the port followed.
    void click_open(bool expect_open)
    {
        open->click();
        QCoreApplication::sendPostedEvents();
        if (form->link().is_open() != expect_open)
            fail("the port is %s after a click on open_comm", expect_open ? "closed" : "open");
    }
};

// Invariant 1: the link's items against the pieces the cutting rule gives for the same
// chunk; each item's fate and request against the state of the chains when the chunk came.
void check_items(const std::vector<reported_item>& reported, const std::vector<piece>& cut,
                 const window_model& model)
{
    using lorvane::item_fate;
    using kind = lorvane::frame_stream::item::kind;
    const bool held = model.chains_hold_line();
    const bytes8 expected_request = held ? model.sent().back() : bytes8{};
    std::size_t p = 0;
    for (const reported_item& r : reported) {
        const auto& item = r.item;
        const piece::kind what = item.what == kind::reply  ? piece::kind::reply
                                 : item.what == kind::echo ? piece::kind::echo
                                                           : piece::kind::junk;
        const bool whole = what != piece::kind::junk;
        if (item.bytes.empty() || (whole && item.bytes.size() != STEP))
            fail("the link reported a %s of %zu bytes at %llu", kind_name(what), item.bytes.size(),
                 ull(item.at));
        const std::size_t pieces = whole ? 1 : item.bytes.size();
        for (std::size_t k = 0; k < pieces; ++k, ++p) {
            const std::vector<std::uint8_t> bytes =
                whole ? item.bytes : std::vector<std::uint8_t>{item.bytes[k]};
            if (p >= cut.size())
                fail("the link reported a %s [%s] at %llu beyond the chunk's %zu pieces",
                     kind_name(what), hex(bytes).c_str(), ull(item.at + k), cut.size());
            const piece& e = cut[p];
            if (what != e.what || item.at + k != e.at || bytes != e.bytes)
                fail("piece %zu of the chunk: the link reported a %s [%s] at %llu, the cutting "
                     "rule gives a %s [%s] at %llu",
                     p, kind_name(what), hex(bytes).c_str(), ull(item.at + k), kind_name(e.what),
                     hex(e.bytes).c_str(), ull(e.at));
        }
        if (bytes8(r.request) != expected_request)
            fail("the %s at %llu was judged against the request [%s], expected [%s]",
                 kind_name(what), ull(item.at), hex(r.request).c_str(),
                 hex(expected_request).c_str());
        bool fits = false;
        if (what == piece::kind::echo)
            fits = r.fate == item_fate::echo;
        else if (what == piece::kind::junk)
            fits = r.fate == item_fate::junk;
        else if (!held)
            fits = r.fate == item_fate::unclaimed;
        else if (item.at % STEP != 0)
            fits = r.fate == item_fate::out_of_step;
        else
            fits = r.fate == item_fate::accepted || r.fate == item_fate::other_address ||
                   r.fate == item_fate::other_function || r.fate == item_fate::other_record;
        if (!fits)
            fail("the %s at %llu got fate %d while the chains %s the line", kind_name(what),
                 ull(item.at), static_cast<int>(r.fate), held ? "hold" : "do not hold");
    }
    if (p != cut.size())
        fail("the link reported %zu pieces of the chunk, the cutting rule gives %zu; the first "
             "missing is a %s at %llu",
             p, cut.size(), kind_name(cut[p].what), ull(cut[p].at));
}

// ---------------------------------------------------------------------------------------
// Process-wide state

constexpr unsigned DEFAULT_RECREATE_EVERY = 1000;

struct harness
{
    std::unique_ptr<QApplication> app;
    window win;
    std::vector<QString> messages;  // shown by the current input
    // A fresh main_form every this many inputs (LORVANE_FUZZ_RECREATE_EVERY); in between
    // the window is closed, put back to its defaults and opened again.
    unsigned recreate_every = DEFAULT_RECREATE_EVERY;
    unsigned inputs_on_form = 0;
};

harness* the_harness = nullptr;
int qt_argc = 1;
char qt_arg0[] = "fuzz_receive";
char* qt_argv[] = {qt_arg0, nullptr};

// Invariant 4: the window shown, its messages and its requests against the model.
void check_against_model(const window_texts& shown, const window_model& model, const char* when)
{
    harness& h = *the_harness;
    if (!(shown == model.texts()))
        fail("%s the window differs from the model: %s", when,
             difference(shown, model.texts()).c_str());
    if (h.messages != model.messages()) {
        std::string got;
        for (const auto& m : h.messages)
            got += " \"" + utf8(m) + "\"";
        fail("%s messages shown:%s; the model expects %zu done messages", when, got.c_str(),
             model.messages().size());
    }
    const auto& sent = h.win.device->sent;
    for (std::size_t i = 0; i < std::min(sent.size(), model.sent().size()); ++i) {
        if (bytes8(sent[i]) != model.sent()[i])
            fail("%s request %zu sent is [%s], the model expects [%s]", when, i,
                 hex(sent[i]).c_str(), hex(model.sent()[i]).c_str());
    }
    if (sent.size() != model.sent().size())
        fail("%s %zu requests sent, the model expects %zu", when, sent.size(), model.sent().size());
}

// The window for the next input: the defaults shown while the port is closed, then the port
// opened with the button.
void prepare_window(harness& h, window_model& model, window_texts& shown)
{
    if (!h.win.form || h.inputs_on_form >= h.recreate_every) {
        h.win.form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        h.win.create();
        h.inputs_on_form = 0;
    } else {
        h.win.restore_defaults();
    }
    ++h.inputs_on_form;
    h.win.check_operation_lists();
    h.messages.clear();
    h.win.device->sent.clear();

    h.win.snapshot(shown);
    check_against_model(shown, model, "before the port opened");
    h.win.click_open(true);
    model.set_port_open(true);
    h.win.snapshot(shown);
    check_against_model(shown, model, "once the port opened");
}

void run_one(const std::uint8_t* data, std::size_t size)
{
    harness& h = *the_harness;
    progress = {};
    window_model model;
    window_texts shown;  // the window as last checked
    prepare_window(h, model, shown);

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

    cutter cut_rule;
    offered_values offered;
    window_texts now;
    const auto acted = [&] {
        return h.win.device->sent.size() != model.sent().size() ||
               h.messages.size() != model.messages().size();
    };
    std::size_t delivered = 0;

    for (std::size_t chunk = 0; delivered < stream_size; ++chunk) {
        const std::size_t n = std::min(chunk_sizes[chunk % chunk_count], stream_size - delivered);
        const std::uint8_t* bytes = stream + delivered;
        progress = {false, chunk, n, delivered, cut_rule.position(), std::nullopt};
        delivered += n;

        h.win.reported.clear();
        h.win.device->deliver(std::vector<std::uint8_t>(bytes, bytes + n));
        const std::vector<piece> cut = cut_rule.feed(bytes, n);
        check_items(h.win.reported, cut, model);

        // Invariant 2, first half: replies wait for the event loop.
        h.win.snapshot(now);
        if (!(now == shown) || acted())
            fail("delivering the chunk acted before the event loop ran: %s%s",
                 difference(now, shown).c_str(), acted() ? " (a request or a message)" : "");

        QCoreApplication::sendPostedEvents();

        bool in_step_reply = false;
        window_model::outcome taken;
        for (const piece& p : cut) {
            if (p.what != piece::kind::reply || !p.in_step())
                continue;
            in_step_reply = true;
            bytes8 f{};
            std::copy(p.bytes.begin(), p.bytes.end(), f.begin());
            offered.offer(f);
            if (!taken.moved) {
                progress.reply = f;
                taken = model.handle(f);
            }
        }
        if (taken.sent)
            cut_rule.clear();

        h.win.snapshot(now);
        if (!in_step_reply) {
            // Invariant 2, second half; the model has not moved either.
            if (!(now == shown) || acted())
                fail("a chunk without an accepted in-step reply changed the window: %s%s",
                     difference(now, shown).c_str(), acted() ? " (a request or a message)" : "");
        } else {
            shown = now;
            // Invariant 3, then the stricter model.
            if (const std::string wrong = offered.unoffered(shown); !wrong.empty())
                fail("%s", wrong.c_str());
            check_against_model(shown, model, "after the chunk's events");
        }
        if (!h.win.form->link().is_open())
            fail("the port closed itself");
    }

    // Closing the port ends the chains silently: nothing sent, nothing shown.
    progress = {};
    progress.at_end = true;
    h.win.click_open(false);
    model.set_port_open(false);
    h.win.snapshot(shown);
    check_against_model(shown, model, "once the port closed");
    if (h.win.form->transfer().awaiting_reply())
        fail("a reply is still awaited after the port closed");
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
    // included, so that no queue grows from input to input.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

// Random bytes rarely pass the checksum, so a mutation that makes a reply for another record
// or with other values would seldom reach the chains (in a minute, about a quarter as many
// different replies were taken without this). After libFuzzer's own mutation, every other
// time the checksum of one frame that starts at a header byte of the stream is set right;
// the input layout stays as it is.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned seed)
{
    size = LLVMFuzzerMutate(data, size, max_size);
    std::minstd_rand random(seed);
    if (size == 0 || random() % 2 == 0)
        return size;
    const std::size_t stream = 2u + (data[0] & 7u);  // past the chunk-size table
    std::vector<std::size_t> headers;
    for (std::size_t i = stream; i + STEP <= size; ++i) {
        if (data[i] == REPLY_HEADER || data[i] == REQUEST_HEADER)
            headers.push_back(i);
    }
    if (!headers.empty()) {
        std::uint8_t* f = data + headers[random() % headers.size()];
        unsigned sum = 0;
        for (std::size_t i = 0; i < STEP - 1; ++i)
            sum += f[i];
        f[STEP - 1] = static_cast<std::uint8_t>(sum % 256u);
    }
    return size;
}
