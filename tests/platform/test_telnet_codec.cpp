// The Telnet layer alone, fed as a server would answer, in pieces.
#include "platform/TSerialDevice.h"
#include "platform/TTelnetCodec.h"

#include <QtTest>

namespace {

using C = TTelnetCodec;

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int value : values)
        out.append(char(value));
    return out;
}

} // namespace

class TestTelnetCodec : public QObject {
    Q_OBJECT

private slots:
    // After the client's opening offer, each row feeds the server's bytes in
    // the given pieces and checks the data, the answers, the COM port option
    // and the line events that result.
    void decodesAndAnswers_data() {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<int>("comPort");
        QTest::addColumn<quint32>("lineEvents");
        const int asked = int(C::TComPortState::Asked);
        const int agreed = int(C::TComPortState::Agreed);
        const int refused = int(C::TComPortState::Refused);

        QTest::newRow("IAC IAC split across reads")
            << QList<QByteArray>{Bytes({'a', C::Iac}), Bytes({C::Iac, 'b', C::Iac}),
                                 Bytes({C::Iac})}
            << Bytes({'a', 0xFF, 'b', 0xFF}) << QByteArray() << asked << 0u;
        QTest::newRow("unknown options refused, echo taken")
            << QList<QByteArray>{Bytes(
                   {C::Iac, C::Will, 24, C::Iac, C::Do, 31, C::Iac, C::Will, C::OptEcho, 'x'})}
            << QByteArray("x")
            << Bytes({C::Iac, C::Dont, 24, C::Iac, C::Wont, 31, C::Iac, C::Do, C::OptEcho}) << asked
            << 0u;
        QTest::newRow("answers to our own offers are not answered again")
            << QList<QByteArray>{Bytes({C::Iac, C::Do, C::OptComPort, C::Iac, C::Will, C::OptBinary,
                                        C::Iac, C::Do, C::OptBinary, C::Iac, C::Will,
                                        C::OptBinary})}
            << QByteArray() << QByteArray() << agreed << 0u;
        QTest::newRow("COM port refused")
            << QList<QByteArray>{Bytes({C::Iac, C::Dont, C::OptComPort, 'o', 'k'})}
            << QByteArray("ok") << QByteArray() << refused << 0u;
        QTest::newRow("server withdraws binary")
            << QList<QByteArray>{Bytes(
                   {C::Iac, C::Will, C::OptBinary, C::Iac, C::Wont, C::OptBinary})}
            << QByteArray() << Bytes({C::Iac, C::Dont, C::OptBinary}) << asked << 0u;
        QTest::newRow("modem and line notices split across reads")
            << QList<QByteArray>{Bytes({C::Iac, C::Sb, C::OptComPort}), Bytes({107, 0x11, C::Iac}),
                                 Bytes({C::Se, C::Iac, C::Sb, C::OptComPort, 106, 0x08, C::Iac,
                                        C::Se, 'z'})}
            << QByteArray("z") << QByteArray() << asked << (EV_CTS | EV_ERR);
    }
    void decodesAndAnswers() {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, replies);
        QFETCH(int, comPort);
        QFETCH(quint32, lineEvents);
        TTelnetCodec codec;
        const QByteArray offer = codec.Start();
        QVERIFY(offer.contains(Bytes({C::Iac, C::Will, C::OptComPort})));
        QByteArray decoded;
        for (QByteArray piece : pieces) {
            const std::size_t n =
                codec.Decode(piece.constData(), std::size_t(piece.size()), piece.data());
            decoded.append(piece.constData(), qsizetype(n));
        }
        QCOMPARE(decoded, data);
        QCOMPARE(codec.Replies(), replies);
        QCOMPARE(int(codec.ComPortState()), comPort);
        QCOMPARE(codec.TakeLineEvents(), lineEvents);
        if (lineEvents & EV_ERR)
            QCOMPARE(codec.TakeErrors(), quint32(CE_FRAME));
    }

    // A server repeating a request, each repeat sent on after our answer to
    // the one before: a refusal is answered once for each change of its
    // request, so the exchange ends however long the server goes on.
    void repeatedRequestsAreAnsweredOncePerChange_data() {
        QTest::addColumn<QByteArray>("round");
        QTest::addColumn<int>("rounds");
        QTest::addColumn<QByteArray>("replies");
        QTest::newRow("DO of an option we refuse")
            << Bytes({C::Iac, C::Do, 24}) << 1000 << Bytes({C::Iac, C::Wont, 24});
        QTest::newRow("WILL of an option we refuse")
            << Bytes({C::Iac, C::Will, 24}) << 1000 << Bytes({C::Iac, C::Dont, 24});
        QTest::newRow("DO and DONT in turn") << Bytes({C::Iac, C::Do, 24, C::Iac, C::Dont, 24}) << 3
                                             << Bytes({C::Iac, C::Wont, 24}).repeated(3);
        QTest::newRow("echo offered and withdrawn in turn")
            << Bytes({C::Iac, C::Will, C::OptEcho, C::Iac, C::Wont, C::OptEcho}) << 2
            << Bytes({C::Iac, C::Do, C::OptEcho, C::Iac, C::Dont, C::OptEcho}).repeated(2);
        QTest::newRow("COM port refused again and again")
            << Bytes({C::Iac, C::Dont, C::OptComPort}) << 1000 << QByteArray();
    }
    void repeatedRequestsAreAnsweredOncePerChange() {
        QFETCH(QByteArray, round);
        QFETCH(int, rounds);
        QFETCH(QByteArray, replies);
        TTelnetCodec codec;
        codec.Start();
        QByteArray answered;
        for (int i = 0; i < rounds; ++i) {
            QByteArray piece = round;
            codec.Decode(piece.constData(), std::size_t(piece.size()), piece.data());
            answered += std::exchange(codec.Replies(), QByteArray());
        }
        QCOMPARE(answered.count(char(C::Iac)), replies.count(char(C::Iac)));
        QCOMPARE(answered, replies);
    }

    void escapesAndEncodesSettings() {
        const QByteArray data = Bytes({1, 0xFF, 2, 0xFF});
        QCOMPARE(C::Escape(data.constData(), 4), Bytes({1, 0xFF, 0xFF, 2, 0xFF, 0xFF}));
        // 65535 baud puts 0xFF bytes into the subnegotiation: doubled there too.
        const QByteArray commands = C::LineSettingsCommands({65535, 7, 1, 2});
        QVERIFY(commands.startsWith(
            Bytes({C::Iac, C::Sb, C::OptComPort, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, C::Iac, C::Se})));
        QVERIFY(commands.contains(Bytes({C::Iac, C::Sb, C::OptComPort, 2, 7, C::Iac, C::Se})));
        QVERIFY(commands.contains(Bytes({C::Iac, C::Sb, C::OptComPort, 3, 3, C::Iac, C::Se})));
        QVERIFY(commands.contains(Bytes({C::Iac, C::Sb, C::OptComPort, 4, 3, C::Iac, C::Se})));
    }
};

QTEST_GUILESS_MAIN(TestTelnetCodec)
#include "test_telnet_codec.moc"
