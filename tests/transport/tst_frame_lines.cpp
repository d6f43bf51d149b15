#include "build_can_frame.h"
#include "rx_line_cutter.h"

#include <QtTest>
#include <array>
#include <vector>

namespace {

struct frame
{
    uint32_t id;
    std::vector<uint32_t> data;
    bool operator==(const frame& o) const { return id == o.id && data == o.data; }
};

// Feeds the pieces one after another into one buffer, as successive reads do.
std::vector<frame> cut_all(const QList<QByteArray>& pieces, QByteArray* rest = nullptr)
{
    std::vector<frame> out;
    QByteArray buffer;
    for (const QByteArray& piece : pieces) {
        buffer.append(piece);
        cut_rx_lines(buffer, [&](const serial_message_struct& sm) {
            out.push_back({sm.id, std::vector<uint32_t>(sm.data, sm.data + 8)});
        });
    }
    if (rest)
        *rest = buffer;
    return out;
}

QByteArray line(int id, std::initializer_list<int> bytes)
{
    char buf[22];
    uint32_t len = 0;
    std::vector<int8_t> b;
    for (int v : bytes)
        b.push_back(int8_t(v));
    build_can_frame(id, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], buf, &len);
    return QByteArray(buf, int(len));
}

const QByteArray one_to_eight = "t12380102030405060708\r";
const frame frame_one_to_eight{0x123, {1, 2, 3, 4, 5, 6, 7, 8}};

} // namespace

class tst_frame_lines : public QObject
{
    Q_OBJECT

private slots:
    void build_lays_out_the_line();
    void split_line_yields_one_record_after_last_piece();
    void cutting_table_data();
    void cutting_table();
    void malformed_line_does_not_reuse_previous_data();
    void large_read_is_cut_whole_and_tail_bounded();
};

void tst_frame_lines::build_lays_out_the_line()
{
    const std::vector<std::tuple<int, std::array<int, 8>, QByteArray>> cases = {
        {0x123, {0xD0, 0, 0, 0, 0, 0, 0, 0}, "t1238D000000000000000\r"},
        {0x1ABC, {0, 0, 0, 0, 0, 0, 0, 0}, "tABC80000000000000000\r"}, // bit 12 dropped
        {5, {-47, 0x7F, -1, 0, 0x10, 0, 0, 1}, "t0058D17FFF0010000001\r"}, // negative: its bit pattern
        {0x0F1, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, "t0F180123456789ABCDEF\r"},
    };
    for (const auto& [id, b, expected] : cases) {
        char buf[32];
        std::memset(buf, 0x55, sizeof buf);
        uint32_t len = 0;
        QCOMPARE(build_can_frame(id, int8_t(b[0]), int8_t(b[1]), int8_t(b[2]), int8_t(b[3]), int8_t(b[4]),
                                 int8_t(b[5]), int8_t(b[6]), int8_t(b[7]), buf, &len), 0);
        QCOMPARE(QByteArray(buf, int(len)), expected);
        QCOMPARE(buf[22], char(0x55)); // nothing written past the line
    }
}

void tst_frame_lines::split_line_yields_one_record_after_last_piece()
{
    for (int cut = 1; cut < one_to_eight.size(); ++cut) {
        QByteArray buffer = one_to_eight.left(cut);
        int emitted = 0;
        cut_rx_lines(buffer, [&](const serial_message_struct&) { ++emitted; });
        QCOMPARE(emitted, 0);
        QCOMPARE(cut_all({one_to_eight.left(cut), one_to_eight.mid(cut)}),
                 std::vector<frame>{frame_one_to_eight});
    }
}

void tst_frame_lines::cutting_table_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("records");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("junk before t") << QByteArray("\r\a\a" + one_to_eight) << 1 << QByteArray();
    QTest::newRow("no t at all is kept") << QByteArray("\a\r\a") << 0 << QByteArray("\a\r\a");
    QTest::newRow("lower-case hex") << QByteArray("tabc8deadbeef0a0b0c0d\r") << 1 << QByteArray();
    QTest::newRow("timestamp after data ignored") << QByteArray("t12380102030405060708BEEF\r") << 1
                                                  << QByteArray();
    QTest::newRow("two lines and a partial third")
        << QByteArray(one_to_eight + "z\r" + one_to_eight + "t1238010203") << 2
        << QByteArray("t1238010203");
    QTest::newRow("length 4") << QByteArray("t123401020304\r") << 0 << QByteArray();
    QTest::newRow("fifteen digits") << QByteArray("t1238010203040506070\r") << 0 << QByteArray();
    QTest::newRow("non-hex digit") << QByteArray("t1238010203040506070G\r") << 0 << QByteArray();
    QTest::newRow("non-hex id") << QByteArray("t1G380102030405060708\r") << 0 << QByteArray();
    QTest::newRow("blank in line") << QByteArray("t 12380102030405060708\r") << 0 << QByteArray();
    QTest::newRow("sign in field") << QByteArray("t+2380102030405060708\r") << 0 << QByteArray();
    QTest::newRow("extended frame") << QByteArray("T0000012380102030405060708\r") << 0
                                    << QByteArray("T0000012380102030405060708\r");
    QTest::newRow("extended then standard") << QByteArray("T0000012380102030405060708\r" + one_to_eight)
                                            << 1 << QByteArray();
    QTest::newRow("remote frame then standard") << QByteArray("r1238\r" + one_to_eight) << 1
                                                << QByteArray();
    QTest::newRow("cut line swallows the next") << QByteArray("t12" + one_to_eight) << 0 << QByteArray();
    QTest::newRow("bare t and CR") << QByteArray("t\r") << 0 << QByteArray();
}

void tst_frame_lines::cutting_table()
{
    QFETCH(QByteArray, input);
    QFETCH(int, records);
    QFETCH(QByteArray, rest);
    QByteArray left;
    const std::vector<frame> got = cut_all({input}, &left);
    QCOMPARE(int(got.size()), records);
    QCOMPARE(left, rest);
    if (QByteArray(QTest::currentDataTag()) == "lower-case hex")
        QCOMPARE(got[0], (frame{0xABC, {0xDE, 0xAD, 0xBE, 0xEF, 0x0A, 0x0B, 0x0C, 0x0D}}));
    else
        for (const frame& f : got)
            QCOMPARE(f, frame_one_to_eight);
}

void tst_frame_lines::malformed_line_does_not_reuse_previous_data()
{
    // A good frame, then short and malformed ones, then another good frame:
    // only the two good frames come out, each with its own bytes.
    const QByteArray second = line(0x7FF, {0x91, 3, 0, 0, 0, 0, 0x30, 0x39});
    const std::vector<frame> got = cut_all(
        {one_to_eight + "t4564AABB\r", "t789\r" + second});
    QCOMPARE(got, (std::vector<frame>{frame_one_to_eight, frame{0x7FF, {0x91, 3, 0, 0, 0, 0, 0x30, 0x39}}}));
}

void tst_frame_lines::large_read_is_cut_whole_and_tail_bounded()
{
    // Many complete lines in one read are all emitted, far beyond 1000 bytes.
    QByteArray big;
    for (int k = 0; k < 5000; ++k)
        big += line(k & 0x7FF, {0x91, k & 0xFF, 0, 0, (k >> 24) & 0xFF, (k >> 16) & 0xFF, (k >> 8) & 0xFF, k & 0xFF});
    big += "t12380102";
    QByteArray rest;
    const std::vector<frame> got = cut_all({big}, &rest);
    QCOMPARE(int(got.size()), 5000);
    for (int k = 0; k < 5000; ++k) {
        QCOMPARE(got[size_t(k)].id, uint32_t(k & 0x7FF));
        QCOMPARE(got[size_t(k)].data[6], uint32_t((k >> 8) & 0xFF));
        QCOMPARE(got[size_t(k)].data[7], uint32_t(k & 0xFF));
    }
    QCOMPARE(rest, QByteArray("t12380102"));

    // An unterminated tail of exactly the limit stays; one byte more is dropped.
    QByteArray tail = "t" + QByteArray(rx_tail_limit - 1, '0');
    cut_all({tail}, &rest);
    QCOMPARE(rest.size(), rx_tail_limit);
    cut_all({tail + "0"}, &rest);
    QVERIFY(rest.isEmpty());
    // Junk without a "t" is bounded the same way.
    cut_all({QByteArray(rx_tail_limit + 1, '\a')}, &rest);
    QVERIFY(rest.isEmpty());
    // After a dropped tail, the next line is read normally.
    QCOMPARE(cut_all({tail + "0", one_to_eight}), std::vector<frame>{frame_one_to_eight});
}

QTEST_APPLESS_MAIN(tst_frame_lines)
#include "tst_frame_lines.moc"
