// Whole transfers through the real window and the real QSerialPort, against the
// module logic on the far end of a pseudo-terminal: the write and read chains, their
// captions and messages, refused input, the reply handler's edge cases, and faults on
// the line.
#include "module_peer.h"
#include "window_fixture.h"

#include <QTimer>

using namespace lorvane;

namespace {

const QString WRITE_DONE = QStringLiteral("全部数据写入完毕");
const QString READ_DONE = QStringLiteral("全部数据读取完毕");

std::uint8_t u8(int v)
{
    return static_cast<std::uint8_t>(v);
}

// The frames a write chain of the start-up window sends.
frame default_write_request(int record)
{
    return record == 0 ? make_request(FUNC_WRITE, 1, 0, 50, 0, 0)
                       : make_request(FUNC_WRITE, 1, u8(record), 1, u8(record), 1);
}

bool no_reply_message(const QString& text, int record)
{
    return text.startsWith(QStringLiteral("模块没有应答")) &&
           text.contains(QStringLiteral("记录 %1）").arg(record));
}

}  // namespace

class tst_transfer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void full_write_chain();
    void full_read_chain_fills_the_window();
    void values_are_read_when_each_record_goes_out();
    void silent_module_leaves_last_count_and_one_message();
    void second_click_restarts_from_record_zero();
    void refused_input_sends_and_changes_nothing_data();
    void refused_input_sends_and_changes_nothing();
    void read_checks_only_the_module_address();
    void value_made_bad_mid_chain_stops_the_chain();
    void reply_handler_edge_cases();
    void out_of_range_records_send_nothing();
    void garbage_between_replies();
    void echo_and_noise_in_the_replys_chunk();
    void corrupted_reply_stops_the_chain_cleanly();
    void far_end_hangs_up_mid_chain();
    void replies_that_do_not_move_on_leave_the_wait_running();
    void late_reply_does_not_restart_a_stopped_transfer();
    void reply_during_a_box_is_handled_after_it();
    void interleaved_chains_each_wait_for_their_own_reply();
};

void tst_transfer::full_write_chain()
{
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    QStringList captions;
    peer.on_request = [&](const frame&) {
        captions << w.button(QStringLiteral("Command1"))->text();
    };
    QString caption_at_message;
    w.on_message = [&](const QString&) {
        caption_at_message = w.button(QStringLiteral("Command1"))->text();
    };

    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, QStringList{WRITE_DONE});
    QCOMPARE(peer.requests().size(), std::size_t{17});
    for (int r = 0; r <= 16; ++r)
        QCOMPARE(hex(peer.requests()[std::size_t(r)]), hex(default_write_request(r)));
    QCOMPARE(peer.raw().size(), std::size_t{17 * 8});
    QCOMPARE(captions[0], QStringLiteral("写入到模块"));
    for (int r = 1; r <= 16; ++r)
        QCOMPARE(captions[r], QStringLiteral("已写入 %1").arg(r));
    QCOMPARE(caption_at_message, QStringLiteral("已写入 16"));  // restored only after OK
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("写入到模块"));
}

void tst_transfer::full_read_chain_fills_the_window()
{
    module_peer peer;
    peer.module().set_record(0, {200, 0, 0});
    for (int k = 1; k <= 16; ++k)
        peer.module().set_record(std::size_t(k), {u8(k * 15), u8(255 - k), u8(k % 5)});
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    QStringList row15_at_message;
    QString caption_at_message;
    w.on_message = [&](const QString&) {
        row15_at_message << w.key_address(15)->text() << w.key_line(15)->text()
                         << w.key_operation(15)->currentText();
        caption_at_message = w.button(QStringLiteral("Command2"))->text();
    };

    w.click(QStringLiteral("Command2"));
    QTRY_COMPARE(w.messages, QStringList{READ_DONE});
    QCOMPARE(peer.requests().size(), std::size_t{17});
    for (int r = 0; r <= 16; ++r)
        QCOMPARE(hex(peer.requests()[std::size_t(r)]),
                 hex(make_request(FUNC_READ, 1, u8(r), 0, 0, 0)));
    QCOMPARE(w.edit(QStringLiteral("Text5"))->text(), QStringLiteral("200"));
    for (int k = 1; k <= 16; ++k) {
        QCOMPARE(w.key_address(k - 1)->text(), QString::number(k * 15));
        QCOMPARE(w.key_line(k - 1)->text(), QString::number(255 - k));
        QCOMPARE(w.key_operation(k - 1)->currentText(), operation_text_of(u8(k % 5)));
    }
    QCOMPARE(row15_at_message,
             (QStringList{QStringLiteral("240"), QStringLiteral("239"), operation_text_of(1)}));
    QCOMPARE(caption_at_message, QStringLiteral("已读取 16"));
    QCOMPARE(w.button(QStringLiteral("Command2"))->text(), QStringLiteral("从模块读取"));
    QCOMPARE(w.edit(QStringLiteral("add"))->text(), QStringLiteral("1"));
}

void tst_transfer::values_are_read_when_each_record_goes_out()
{
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    peer.on_request = [&](const frame& request) {
        if (request[POS_RECORD] == 3) {
            w.key_line(9)->setText(QStringLiteral("77"));  // record 10, not yet sent
            w.key_line(0)->setText(QStringLiteral("99"));  // record 1, already sent
            w.key_operation(9)->setEditText(QStringLiteral("按下点动闭合0.5秒"));
            w.edit(QStringLiteral("add"))->setText(QStringLiteral(" 001 "));  // still module 1
        }
    };
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, QStringList{WRITE_DONE});
    QCOMPARE(hex(peer.requests()[1]), hex(default_write_request(1)));
    QCOMPARE(hex(peer.requests()[10]), hex(make_request(FUNC_WRITE, 1, 10, 1, 77, 3)));
}

void tst_transfer::silent_module_leaves_last_count_and_one_message()
{
    module_peer peer;
    peer.module().set_silent_after(5);
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 5000);
    QVERIFY2(no_reply_message(w.messages[0], 5), qPrintable(w.messages[0]));
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("已写入 5"));
    QCOMPARE(peer.requests().size(), std::size_t{6});  // nothing retried
    QTest::qWait(1200);
    QCOMPARE(w.messages.size(), 1);

    // The module wakes up: a later transfer runs to its end.
    peer.module().set_silent_after(std::nullopt);
    w.messages.clear();
    w.click(QStringLiteral("Command2"));
    QTRY_COMPARE(w.messages, QStringList{READ_DONE});
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, (QStringList{READ_DONE, WRITE_DONE}));
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("写入到模块"));
}

void tst_transfer::second_click_restarts_from_record_zero()
{
    module_peer peer;
    peer.module().set_silent_after(3);
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    w.click(QStringLiteral("Command1"));
    QVERIFY(peer.wait_for_requests(4));
    peer.module().set_silent_after(std::nullopt);
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, QStringList{WRITE_DONE});
    QCOMPARE(hex(peer.requests()[4]), hex(default_write_request(0)));
    QCOMPARE(peer.requests().size(), std::size_t{4 + 17});
}

void tst_transfer::refused_input_sends_and_changes_nothing_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString range = QStringLiteral("必须是 0 到 255 之间的整数");
    const struct
    {
        const char* field;
        QString name;
    } fields[] = {
        {"add", QStringLiteral("模块自身地址")},
        {"Text5", QStringLiteral("刷新周期")},
        {"Text2_2", QStringLiteral("按键3 的地址")},
        {"Text3_15", QStringLiteral("按键16 的线路")},
    };
    const struct
    {
        const char* tag;
        QString text;
    } texts[] = {{"empty", QString()},
                 {"letters", QStringLiteral("abc")},
                 {"negative", QStringLiteral("-1")},
                 {"256", QStringLiteral("256")},
                 {"fraction", QStringLiteral("12.5")}};
    for (const auto& f : fields)
        for (const auto& t : texts)
            QTest::addRow("%s %s", f.field, t.tag)
                << QString::fromLatin1(f.field) << t.text << f.name + range;
}

void tst_transfer::refused_input_sends_and_changes_nothing()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    w.edit(field)->setText(text);
    const QStringList before = w.snapshot();
    w.click(QStringLiteral("Command1"));
    QCOMPARE(w.messages, QStringList{message});
    QTest::qWait(50);
    QVERIFY(peer.raw().empty());
    QVERIFY(!w.form->transfer().awaiting_reply());
    QCOMPARE(w.snapshot(), before);
}

void tst_transfer::read_checks_only_the_module_address()
{
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("300"));
    w.click(QStringLiteral("Command2"));
    QCOMPARE(w.messages, QStringList{QStringLiteral("模块自身地址必须是 0 到 255 之间的整数")});
    QTest::qWait(50);
    QVERIFY(peer.raw().empty());

    // Bad values that a read does not send do not stop it; the read replaces them.
    w.messages.clear();
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("1"));
    w.key_address(4)->setText(QStringLiteral("x"));
    w.click(QStringLiteral("Command2"));
    QTRY_COMPARE(w.messages, QStringList{READ_DONE});
    QCOMPARE(w.key_address(4)->text(), QStringLiteral("1"));
}

void tst_transfer::value_made_bad_mid_chain_stops_the_chain()
{
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    peer.on_request = [&](const frame& request) {
        if (request[POS_RECORD] == 3)
            w.key_address(5)->setText(QStringLiteral("abc"));
    };
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, QStringList{QStringLiteral("按键6 的地址必须是 0 到 255 之间的整数")});
    QTest::qWait(100);
    QCOMPARE(peer.requests().size(), std::size_t{6});  // records 0..5; never a wrong byte
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("已写入 6"));
    QVERIFY(!w.form->transfer().awaiting_reply());
    QCOMPARE(w.messages.size(), 1);
}

void tst_transfer::reply_handler_edge_cases()
{
    module_peer peer;
    peer.answering = false;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    const auto settle = [] { QTest::qWait(60); };

    // 257 modulo 256 is 1: a write reply for record 16 from module 1 completes.
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("257"));
    peer.send_frame(make_reply(1, FUNC_WRITE, 16, 0, 0, 0));
    QTRY_COMPARE(w.messages, QStringList{WRITE_DONE});
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("写入到模块"));
    QVERIFY(peer.raw().empty());
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("1"));

    // An unsolicited write reply for record 7 sends record 8.
    peer.send_frame(make_reply(1, FUNC_WRITE, 7, 0, 0, 0));
    QVERIFY(peer.wait_for_requests(1));
    QCOMPARE(hex(peer.requests()[0]), hex(default_write_request(8)));
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("已写入 8"));

    // Function F2, another address, a negative or non-numeric module address, record 17:
    // nothing changes, nothing is sent, nothing is said.
    const QStringList before = w.snapshot();
    peer.send_frame(make_reply(1, 0xF2, 3, 9, 9, 9));
    settle();
    peer.send_frame(make_reply(2, FUNC_READ, 3, 9, 9, 9));
    settle();
    peer.send_frame(make_reply(1, FUNC_READ, 17, 9, 9, 9));
    settle();
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("-255"));  // remainder -255, not 1
    peer.send_frame(make_reply(1, FUNC_READ, 3, 9, 9, 9));
    settle();
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("one"));
    peer.send_frame(make_reply(1, FUNC_WRITE, 3, 9, 9, 9));
    settle();
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("1"));
    QCOMPARE(w.snapshot(), before);
    QCOMPARE(peer.requests().size(), std::size_t{1});
    QCOMPARE(w.messages.size(), 1);

    // Operation codes 0 and 4 empty the operation text.
    peer.send_frame(make_reply(1, FUNC_READ, 5, 1, 5, 0));
    QVERIFY(peer.wait_for_requests(2));
    QCOMPARE(w.key_operation(4)->currentText(), QString());
    QCOMPARE(w.button(QStringLiteral("Command2"))->text(), QStringLiteral("已读取 6"));
    w.key_operation(6)->setEditText(operation_text_of(2));
    peer.send_frame(make_reply(1, FUNC_READ, 7, 12, 7, 4));
    QVERIFY(peer.wait_for_requests(3));
    QCOMPARE(w.key_operation(6)->currentText(), QString());
    QCOMPARE(w.key_address(6)->text(), QStringLiteral("12"));
    QCOMPARE(w.key_operation(6)->count(), 3);

    // Record 0 touches only the refresh period, and asks for record 1.
    QStringList expected = w.snapshot();
    peer.send_frame(make_reply(1, FUNC_READ, 0, 200, 9, 9));
    QVERIFY(peer.wait_for_requests(4));
    expected[1] = QStringLiteral("200");
    expected[3] = QStringLiteral("已读取 1");
    QCOMPARE(w.snapshot(), expected);
    QCOMPARE(hex(peer.requests()[3]), hex(make_request(FUNC_READ, 1, 1, 0, 0, 0)));
}

void tst_transfer::out_of_range_records_send_nothing()
{
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    transfer_sequences& transfer = w.form->transfer();
    QVERIFY(!transfer.write_record(17));
    QVERIFY(!transfer.read_record(17));
    QVERIFY(!transfer.write_record(1000));
    QCOMPARE(w.messages, QStringList(3, QStringLiteral("数据量过大")));
    QVERIFY(!transfer.write_record(-1));
    QVERIFY(!transfer.read_record(-1));
    QCOMPARE(w.messages.size(), 3);  // negative: nothing said
    QTest::qWait(50);
    QVERIFY(peer.raw().empty());

    // Record 16 carries row index 15 with record byte 0x10.
    w.key_address(15)->setText(QStringLiteral("9"));
    QVERIFY(transfer.write_record(16));
    QVERIFY(peer.wait_for_requests(1));
    QCOMPARE(hex(peer.requests()[0]), QStringLiteral("55 01 F0 10 09 10 01 70"));
}

void tst_transfer::garbage_between_replies()
{
    // Junk after every reply: the next send discards it, so the chain completes.
    module_peer peer;
    peer.shape_reply = [](const frame& reply) {
        std::vector<std::uint8_t> bytes(reply.begin(), reply.end());
        bytes.insert(bytes.end(), {0x22, 0x01, 0xF1, 0xFF, 0x00});
        return bytes;
    };
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    w.click(QStringLiteral("Command2"));
    QTRY_COMPARE(w.messages, QStringList{READ_DONE});

    // Junk in front of a reply puts it out of step: it is dropped, the chain stops with
    // one message and the window keeps what it had.
    w.messages.clear();
    peer.clear_requests();
    for (int k = 1; k <= 16; ++k)
        peer.module().set_record(std::size_t(k), {9, 9, 2});
    peer.shape_reply = [](const frame& reply) {
        std::vector<std::uint8_t> bytes(reply.begin(), reply.end());
        if (reply[POS_RECORD] == 4)
            bytes.insert(bytes.begin(), {0x22, 0x01, 0xF1});
        return bytes;
    };
    w.click(QStringLiteral("Command2"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 5000);
    QVERIFY2(no_reply_message(w.messages[0], 4), qPrintable(w.messages[0]));
    QCOMPARE(w.key_address(2)->text(), QStringLiteral("9"));  // record 3 arrived
    for (int row = 3; row < KEY_COUNT; ++row)
        QCOMPARE(w.key_address(row)->text(), QStringLiteral("1"));
    QCOMPARE(w.button(QStringLiteral("Command2"))->text(), QStringLiteral("已读取 4"));

    peer.shape_reply = nullptr;
    w.messages.clear();
    w.click(QStringLiteral("Command2"));
    QTRY_COMPARE(w.messages, QStringList{READ_DONE});
    QCOMPARE(w.key_address(15)->text(), QStringLiteral("9"));
}

void tst_transfer::echo_and_noise_in_the_replys_chunk()
{
    // What arrives in one chunk in place of a bare reply, given the request it answers.
    using bytes = std::vector<std::uint8_t>;
    using shape = std::function<bytes(const frame& request, const frame& reply)>;
    const auto join = [](std::initializer_list<bytes> parts) {
        bytes all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const auto of = [](const frame& f) { return bytes(f.begin(), f.end()); };
    const bytes junk8{0x22, 0x01, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00};  // checksum wrong
    const struct
    {
        const char* name;
        shape arrives;
        int stops_at;  // -1: the chain completes
    } cases[] = {
        {"echo + reply",
         [&](const frame& q, const frame& r) {
             return join({of(q), of(r)});
         },
         -1},
        {"two echoes + reply",
         [&](const frame& q, const frame& r) {
             return join({of(q), of(q), of(r)});
         },
         -1},
        {"8 garbage bytes + reply",
         [&](const frame&, const frame& r) {
             return join({junk8, of(r)});
         },
         -1},
        {"every reply twice",
         [&](const frame&, const frame& r) {
             return join({of(r), of(r)});
         },
         -1},
        // Out of step with fewer than 8 bytes behind the bad block: the reply is lost.
        {"one garbage byte + reply at record 4",
         [&](const frame&, const frame& r) {
             return r[POS_RECORD] == 4 ? join({{0x00}, of(r)}) : of(r);
         },
         4},
    };
    for (const auto& c : cases) {
        module_peer peer;
        frame request{};
        peer.on_request = [&](const frame& q) { request = q; };
        peer.shape_reply = [&](const frame& reply) { return c.arrives(request, reply); };
        window_fixture w;
        QVERIFY(w.open_port(peer.path()));
        w.click(QStringLiteral("Command1"));
        if (c.stops_at < 0) {
            QTRY_COMPARE(w.messages, QStringList{WRITE_DONE});
            QTest::qWait(50);
            QVERIFY2(w.messages.size() == 1, c.name);
            QVERIFY2(peer.requests().size() == 17, c.name);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 5000);
            QVERIFY2(no_reply_message(w.messages[0], c.stops_at), c.name);
            QVERIFY2(peer.requests().size() == std::size_t(c.stops_at + 1), c.name);
        }
    }
}

void tst_transfer::corrupted_reply_stops_the_chain_cleanly()
{
    for (std::size_t pos = 0; pos < FRAME_SIZE; ++pos) {
        module_peer peer;
        for (int k = 1; k <= 16; ++k)
            peer.module().set_record(std::size_t(k), {7, 7, 3});
        peer.shape_reply = [pos](const frame& reply) {
            std::vector<std::uint8_t> bytes(reply.begin(), reply.end());
            if (reply[POS_RECORD] == 9)
                bytes[pos] ^= 0x10;
            return bytes;
        };
        window_fixture w;
        QVERIFY(w.open_port(peer.path()));
        w.click(QStringLiteral("Command2"));
        QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 5000);
        QVERIFY2(no_reply_message(w.messages[0], 9), qPrintable(w.messages[0]));
        for (int row = 8; row < KEY_COUNT; ++row) {
            QCOMPARE(w.key_address(row)->text(), QStringLiteral("1"));
            QCOMPARE(w.key_operation(row)->currentText(), operation_text_of(1));
        }
        QCOMPARE(w.key_address(7)->text(), QStringLiteral("7"));
        QCOMPARE(w.button(QStringLiteral("Command2"))->text(), QStringLiteral("已读取 9"));
    }
}

void tst_transfer::far_end_hangs_up_mid_chain()
{
    window_fixture w;
    {
        module_peer peer;
        QVERIFY(w.open_port(peer.path()));
        peer.on_request = [&](const frame& request) {
            if (request[POS_RECORD] == 6)
                peer.hang_up();
        };
        w.click(QStringLiteral("Command1"));
        QTRY_COMPARE(w.messages.size(), 1);
        QVERIFY2(w.messages[0].contains(QStringLiteral("已断开")), qPrintable(w.messages[0]));
        QVERIFY(!w.form->link().is_open());
        QCOMPARE(w.button(QStringLiteral("open_comm"))->text(), QStringLiteral("打开"));
        QVERIFY(w.edit(QStringLiteral("chuankou_num"))->isEnabled());
        QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("已写入 6"));
        QTest::qWait(1300);  // longer than the reply time-out: no second message
        QCOMPARE(w.messages.size(), 1);
    }
    module_peer peer;
    w.messages.clear();
    QVERIFY(w.open_port(peer.path()));
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, QStringList{WRITE_DONE});
}

void tst_transfer::replies_that_do_not_move_on_leave_the_wait_running()
{
    // Record 3 answered by a reply that passes the line's test but moves nothing on.
    const struct
    {
        const char* name;
        frame reply;
    } cases[] = {
        {"another module", make_reply(2, FUNC_WRITE, 3, 0, 0, 0)},
        {"function F2", make_reply(1, 0xF2, 3, 0, 0, 0)},
        {"record 17", make_reply(1, FUNC_WRITE, 17, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        module_peer peer;
        peer.shape_reply = [&](const frame& reply) {
            const frame sent = reply[POS_RECORD] == 3 ? c.reply : reply;
            return std::vector<std::uint8_t>(sent.begin(), sent.end());
        };
        window_fixture w;
        QVERIFY(w.open_port(peer.path()));
        w.click(QStringLiteral("Command1"));
        QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 3000);
        QVERIFY2(no_reply_message(w.messages[0], 3), c.name);
        QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("已写入 3"));
        QCOMPARE(peer.requests().size(), std::size_t{4});
        QVERIFY(!w.form->transfer().awaiting_reply());
    }
}

void tst_transfer::late_reply_does_not_restart_a_stopped_transfer()
{
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    peer.on_request = [&](const frame& request) {
        peer.answering = request[POS_RECORD] != 5;
        if (!peer.answering)  // record 5 is answered 1.4 s late
            QTimer::singleShot(1400, &peer,
                               [&] { peer.send_frame(make_reply(1, FUNC_WRITE, 5, 1, 5, 1)); });
    };
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 3000);
    QVERIFY2(no_reply_message(w.messages[0], 5), qPrintable(w.messages[0]));
    QTest::qWait(900);  // the late reply has come and gone
    QCOMPARE(w.messages.size(), 1);
    QCOMPARE(peer.requests().size(), std::size_t{6});
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("已写入 5"));

    // The user starts again: record 5 goes out anew, and its reply counts again.
    peer.on_request = nullptr;
    peer.answering = true;
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages.size(), 2);
    QCOMPARE(w.messages[1], WRITE_DONE);
}

void tst_transfer::reply_during_a_box_is_handled_after_it()
{
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    std::size_t requests_in_box = 0;
    QString caption_in_box;
    w.on_message = [&](const QString& text) {
        if (text != WRITE_DONE)
            return;
        // While the box is up, the module answers a read of record 7 once more.
        peer.send_frame(make_reply(1, FUNC_READ, 7, 12, 7, 2));
        QTest::qWait(300);  // the box's own event loop runs meanwhile
        requests_in_box = peer.requests().size();
        caption_in_box = w.button(QStringLiteral("Command2"))->text();
    };
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, (QStringList{WRITE_DONE, READ_DONE}));
    QCOMPARE(requests_in_box, std::size_t{17});  // nothing handled while the box was open
    QCOMPARE(caption_in_box, QStringLiteral("从模块读取"));
    QCOMPARE(hex(peer.requests()[17]), hex(make_request(FUNC_READ, 1, 8, 0, 0, 0)));
    QCOMPARE(peer.requests().size(), std::size_t{17 + 9});  // read records 8..16
    QCOMPARE(w.key_address(6)->text(), QStringLiteral("12"));
    QCOMPARE(w.key_operation(6)->currentText(), operation_text_of(2));
}

void tst_transfer::interleaved_chains_each_wait_for_their_own_reply()
{
    // A read chain that gets no answer must not be kept quiet by a write chain that
    // keeps sending meanwhile.
    module_peer peer;
    peer.shape_reply = [](const frame& reply) {
        return reply[POS_FUNCTION] == FUNC_READ
                   ? std::vector<std::uint8_t>{}
                   : std::vector<std::uint8_t>(reply.begin(), reply.end());
    };
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    w.click(QStringLiteral("Command2"));
    QVERIFY(peer.wait_for_requests(1));
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 2, 3000);
    QCOMPARE(w.messages[0], WRITE_DONE);
    QVERIFY2(no_reply_message(w.messages[1], 0), qPrintable(w.messages[1]));
    QTest::qWait(1200);
    QCOMPARE(w.messages.size(), 2);
}

QTEST_MAIN(tst_transfer)
#include "tst_transfer.moc"
