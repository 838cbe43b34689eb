// The parts of the simulated device: record checks, checksums, line
// splitting, the boot loader's answer rules, pacing, the flood stream, the
// sample file writer and the command line.
#include "tools/BootLoader.h"
#include "tools/Crc32.h"
#include "tools/FloodStream.h"
#include "tools/LineSplitter.h"
#include "tools/RatePacer.h"
#include "tools/RecordCheck.h"
#include "tools/RecordFileMaker.h"
#include "tools/TargetOptions.h"

#include <QtTest>

Q_DECLARE_METATYPE(RecordFormat)
Q_DECLARE_METATYPE(RecordStatus)
Q_DECLARE_METATYPE(FloodKind)

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    LineSplitter splitter;
    for (const char byte : text)
        if (splitter.Push(byte))
            lines.push_back(splitter.Line());
    return lines;
}

std::vector<std::string> Arguments(const QString& commandLine) {
    std::vector<std::string> args;
    for (const QString& arg : commandLine.split(' ', Qt::SkipEmptyParts))
        args.push_back(arg.toStdString());
    return args;
}

} // namespace

class TestTargetParts : public QObject {
    Q_OBJECT

private slots:
    void recordChecks_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<RecordFormat>("format");
        QTest::addColumn<RecordStatus>("status");
        QTest::addColumn<int>("dataBytes");
        const auto intel = RecordFormat::IntelHex;
        const auto srec = RecordFormat::SRecord;
        const auto text = RecordFormat::PlainText;
        const auto valid = RecordStatus::Valid;
        const auto badSum = RecordStatus::BadChecksum;
        const auto malformed = RecordStatus::Malformed;
        auto row = [](const char* name, const char* line, RecordFormat f, RecordStatus s, int d) {
            QTest::newRow(name) << QByteArray(line) << f << s << d;
        };
        row("ihex data", ":10010000214601360121470136007EFE09D2190140", intel, valid, 16);
        row("ihex lower case", ":10010000214601360121470136007efe09d2190140", intel, valid, 16);
        row("ihex end", ":00000001FF", intel, valid, 0);
        row("ihex extended address", ":020000040800F2", intel, valid, 0);
        row("ihex trailing blanks", ":0300300002337A1E \t ", intel, valid, 3);
        row("ihex bad checksum", ":10010000214601360121470136007EFE09D2190141", intel, badSum, 0);
        row("ihex data changed", ":10010000214601360121470136007EFE09D2190240", intel, badSum, 0);
        row("ihex count too big", ":11010000214601360121470136007EFE09D219012F", intel, malformed,
            0);
        row("ihex odd digits", ":0000001FF", intel, malformed, 0);
        row("ihex not hex", ":00000001FG", intel, malformed, 0);
        row("ihex too short", ":00FF", intel, malformed, 0);
        row("ihex colon only", ":", intel, malformed, 0);
        row("s0 header", "S00F000068656C6C6F202020202000003C", srec, valid, 0);
        row("s1 data", "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026", srec,
            valid, 28);
        row("s1 short data", "S111003848656C6C6F20776F726C642E0A0042", srec, valid, 14);
        row("s2 data", "S207123456AABBCC2B", srec, valid, 3);
        row("s3 data", "S30900010000112233444B", srec, valid, 4);
        row("s5 count", "S5030003F9", srec, valid, 0);
        row("s7 end", "S70500000000FA", srec, valid, 0);
        row("s9 end", "S9030000FC", srec, valid, 0);
        row("s9 bad checksum", "S9030000FD", srec, badSum, 0);
        row("s1 data changed", "S111003848656C6C6F20776F726C642E0B0042", srec, badSum, 0);
        row("s1 count below address", "S1020000FD", srec, malformed, 0);
        row("s9 count mismatch", "S9040000FC", srec, malformed, 0);
        row("s9 odd digits", "S9030000F", srec, malformed, 0);
        row("s type only", "S9", srec, malformed, 0);
        row("empty line", "", text, valid, 0);
        row("plain text", "hello world", text, valid, 0);
        row("S and a letter", "Set 9600", text, valid, 0);
        row("leading blank", " :00000001FF", text, valid, 0);
    }
    void recordChecks() {
        QFETCH(QByteArray, line);
        QFETCH(RecordFormat, format);
        QFETCH(RecordStatus, status);
        QFETCH(int, dataBytes);
        const RecordCheck check = CheckRecordLine(line.toStdString());
        QCOMPARE(check.Format, format);
        if (format != RecordFormat::PlainText)
            QCOMPARE(check.Status, status);
        QCOMPARE(check.DataBytes, dataBytes);
    }

    void checksumFunctions_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("intelHex");
        QTest::addColumn<int>("sRecord");
        QTest::newRow("none") << QByteArray() << 0x00 << 0xFF;
        QTest::newRow("one") << QByteArray::fromHex("01") << 0xFF << 0xFE;
        QTest::newRow("sum wraps") << QByteArray::fromHex("FF02") << 0xFF << 0xFE;
        QTest::newRow("ihex end record") << QByteArray::fromHex("00000001") << 0xFF << 0xFE;
        QTest::newRow("s9 end record") << QByteArray::fromHex("030000") << 0xFD << 0xFC;
        QTest::newRow("sum 256") << QByteArray::fromHex("8080") << 0x00 << 0xFF;
    }
    void checksumFunctions() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, intelHex);
        QFETCH(int, sRecord);
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
        QCOMPARE(int{IntelHexChecksum(data, bytes.size())}, intelHex);
        QCOMPARE(int{SRecordChecksum(data, bytes.size())}, sRecord);
    }

    void crc32KnownValues_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<uint>("crc");
        QTest::newRow("empty") << QByteArray() << 0x00000000u;
        QTest::newRow("check string") << QByteArray("123456789") << 0xCBF43926u;
        QTest::newRow("fox") << QByteArray("The quick brown fox jumps over the lazy dog")
                             << 0x414FA339u;
    }
    void crc32KnownValues() {
        QFETCH(QByteArray, bytes);
        QFETCH(uint, crc);
        Crc32 whole;
        whole.Update(bytes.constData(), bytes.size());
        QCOMPARE(whole.Value(), crc);
        // The same value when the bytes come in uneven pieces.
        for (int cut = 0; cut <= bytes.size(); cut += 3) {
            Crc32 pieces;
            pieces.Update(bytes.constData(), cut);
            pieces.Update(bytes.constData() + cut, bytes.size() - cut);
            QCOMPARE(pieces.Value(), crc);
        }
    }

    void lineSplitting_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("crlf") << QByteArray("a\r\nbc\r\n") << QStringList{"a", "bc"};
        QTest::newRow("cr alone") << QByteArray("a\rb\r") << QStringList{"a", "b"};
        QTest::newRow("lf alone") << QByteArray("a\nb\n") << QStringList{"a", "b"};
        QTest::newRow("empty lines") << QByteArray("\r\n\r\nx\r\n") << QStringList{"", "", "x"};
        QTest::newRow("lf cr is two ends") << QByteArray("a\n\rb\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("unfinished line") << QByteArray("a\r\npartial") << QStringList{"a"};
    }
    void lineSplitting() {
        QFETCH(QByteArray, received);
        QFETCH(QStringList, lines);
        QStringList got;
        for (const std::string& line : SplitLines(received.toStdString()))
            got << QString::fromStdString(line);
        QCOMPARE(got, lines);
    }

    void crLfSplitAcrossBlocksEndsOneLine() {
        LineSplitter splitter;
        QVERIFY(!splitter.Push('a'));
        QVERIFY(splitter.Push('\r'));
        QCOMPARE(splitter.Line(), std::string("a"));
        QVERIFY(!splitter.Push('\n'));
        QVERIFY(splitter.Push('\n'));
        QCOMPARE(splitter.Line(), std::string(""));
        splitter.Push('b');
        splitter.Push('\r');
        splitter.Reset();
        // After a reset the LF is a line end of its own again.
        QVERIFY(splitter.Push('\n'));
    }

    // Each row: lines received (separated by blanks), drop list, expected
    // answers ('+' answered, '-' not), distinct lines and repeats.
    void loaderAnswers_data() {
        QTest::addColumn<QString>("received");
        QTest::addColumn<QList<qlonglong>>("drops");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("repeats");
        QTest::newRow("no drop") << "A B C" << QList<qlonglong>{} << "+++" << 3 << 0;
        QTest::newRow("drop then repeat") << "A B B C" << QList<qlonglong>{2} << "+-++" << 3 << 1;
        QTest::newRow("drop, sender moves on") << "A B C" << QList<qlonglong>{2} << "+-+" << 3 << 0;
        QTest::newRow("answered twin is a new line")
            << "A A A" << QList<qlonglong>{} << "+++" << 3 << 0;
        QTest::newRow("second repeat is a new line")
            << "A B B B" << QList<qlonglong>{2} << "+-++" << 3 << 1;
        QTest::newRow("two drops") << "A A B B C" << QList<qlonglong>{1, 2} << "-+-++" << 3 << 2;
        QTest::newRow("drop beyond end") << "A B" << QList<qlonglong>{5} << "++" << 2 << 0;
    }
    void loaderAnswers() {
        QFETCH(QString, received);
        QFETCH(QList<qlonglong>, drops);
        QFETCH(QString, answers);
        QFETCH(int, lines);
        QFETCH(int, repeats);
        BootLoader loader("*", std::set<long long>(drops.begin(), drops.end()));
        QString got;
        for (const QString& line : received.split(' '))
            got += loader.HandleLine(line.toStdString()) ? '+' : '-';
        QCOMPARE(got, answers);
        QCOMPARE(loader.Stats().Lines, lines);
        QCOMPARE(loader.Stats().Repeats, repeats);
        QCOMPARE(loader.Stats().Answered, answers.count('+'));
        QCOMPARE(loader.Stats().Dropped, answers.count('-'));
    }

    void loaderCountsRecords() {
        BootLoader loader("*", {});
        for (const char* line : {":10010000214601360121470136007EFE09D2190140",
                                 "S111003848656C6C6F20776F726C642E0A0042", "S9030000FD",
                                 ":00000001F", "plain text", "", "S9030000FC"})
            loader.HandleLine(line);
        const BootLoaderStats& stats = loader.Stats();
        QCOMPARE(stats.Lines, 7);
        QCOMPARE(stats.Records, 5);
        QCOMPARE(stats.DataBytes, 16 + 14);
        QCOMPARE(stats.ChecksumErrors, 1);
        QCOMPARE(stats.MalformedRecords, 1);
        QVERIFY(loader.HasRecordErrors());
    }

    void pacerKeepsTheRate() {
        using namespace std::chrono;
        const auto start = RatePacer::Clock::time_point{} + hours(1);
        RatePacer pacer(1000.0, 10, start);
        // An idle line passes one chunk at once, then waits for the credit.
        QCOMPARE(pacer.Available(start), std::size_t{10});
        pacer.Consume(10);
        QCOMPARE(pacer.Available(start), std::size_t{0});
        QCOMPARE(duration_cast<milliseconds>(pacer.WaitFor(100, start)), milliseconds(10));
        QCOMPARE(duration_cast<milliseconds>(pacer.WaitFor(3, start)), milliseconds(3));
        QCOMPARE(pacer.Available(start + milliseconds(5)), std::size_t{5});
        // Idle time never builds more credit than one chunk.
        QCOMPARE(pacer.Available(start + seconds(10)), std::size_t{10});

        // Moving as fast as allowed for one simulated second moves the rate.
        RatePacer line(11520.0, 57, start);
        auto now = start;
        std::size_t moved = 0;
        while (now < start + seconds(1)) {
            const std::size_t n = line.Available(now);
            line.Consume(n);
            moved += n;
            now += std::max<RatePacer::Clock::duration>(line.WaitFor(1000, now), microseconds(1));
        }
        QVERIFY2(moved >= 11520 && moved <= 11520 + 57, QByteArray::number(qulonglong(moved)));
    }

    void floodStreamIsDeterministic_data() {
        QTest::addColumn<FloodKind>("kind");
        QTest::newRow("text") << FloodKind::Text;
        QTest::newRow("binary") << FloodKind::Binary;
        QTest::newRow("colour") << FloodKind::Colour;
    }
    void floodStreamIsDeterministic() {
        QFETCH(FloodKind, kind);
        const std::size_t size = 5000;
        std::string whole(size, '\0');
        FloodStream(kind, 7).Fill(whole.data(), size);
        // Pieces of any size continue the same stream.
        std::string pieces(size, '\0');
        FloodStream stream(kind, 7);
        std::size_t done = 0;
        for (std::size_t piece = 1; done < size; piece = piece * 3 % 97 + 1) {
            const std::size_t n = std::min(piece, size - done);
            stream.Fill(pieces.data() + done, n);
            done += n;
        }
        QCOMPARE(stream.Position(), size);
        QVERIFY(pieces == whole);
        std::string otherSeed(size, '\0');
        FloodStream(kind, 8).Fill(otherSeed.data(), size);
        QCOMPARE(otherSeed == whole, kind != FloodKind::Binary);
    }

    void floodTextLines() {
        std::string text(3 * FloodStream::TextLineLength, '\0');
        FloodStream(FloodKind::Text, 1).Fill(text.data(), text.size());
        const std::vector<std::string> lines = SplitLines(text);
        QCOMPARE(lines.size(), std::size_t{3});
        QCOMPARE(QByteArray::fromStdString(lines[0].substr(0, 14)), QByteArray("00000000 !\"#$%"));
        QCOMPARE(QByteArray::fromStdString(lines[1].substr(0, 14)), QByteArray("00000001 \"#$%&"));
        for (const std::string& line : lines) {
            QCOMPARE(line.size(), std::size_t{70});
            for (const char c : line)
                QVERIFY(c >= ' ' && c <= '~');
        }
        QCOMPARE(text.substr(70, 2), std::string("\r\n"));
    }

    void floodColourLogLines() {
        std::string text(2 * FloodStream::ColourLineLength, '\0');
        FloodStream(FloodKind::Colour, 1).Fill(text.data(), text.size());
        QCOMPARE(QByteArray::fromStdString(text.substr(0, 20)), QByteArray("\x1b[0;31m00000000 !\"#$"));
        QCOMPARE(QByteArray::fromStdString(text.substr(74, 13)), QByteArray("\x1b[0m\r\n\x1b[0;32m"));
    }

    void sampleFilesHoldValidRecords_data() {
        QTest::addColumn<bool>("sRecord");
        QTest::addColumn<int>("dataRecords");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QByteArray>("lastLine");
        QTest::newRow("srec empty") << true << 0 << 2 << QByteArray("S9030000FC");
        QTest::newRow("srec 64 KiB") << true << 4096 << 4098 << QByteArray("S9030000FC");
        QTest::newRow("srec beyond 64 KiB") << true << 4097 << 4099 << QByteArray("S804000000FB");
        QTest::newRow("ihex empty") << false << 0 << 1 << QByteArray(":00000001FF");
        QTest::newRow("ihex 64 KiB") << false << 4096 << 4097 << QByteArray(":00000001FF");
        QTest::newRow("ihex two segments") << false << 4097 << 4099 << QByteArray(":00000001FF");
    }
    void sampleFilesHoldValidRecords() {
        QFETCH(bool, sRecord);
        QFETCH(int, dataRecords);
        QFETCH(int, lines);
        QFETCH(QByteArray, lastLine);
        RecordFileSummary summary;
        const std::string text = sRecord ? MakeSRecordText(dataRecords, &summary)
                                         : MakeIntelHexText(dataRecords, &summary);
        QVERIFY(text.size() >= 2 && text.substr(text.size() - 2) == "\r\n");
        BootLoader loader("*", {});
        const std::vector<std::string> fileLines = SplitLines(text);
        for (const std::string& line : fileLines)
            loader.HandleLine(line);
        QCOMPARE(int(fileLines.size()), lines);
        QCOMPARE(summary.Lines, lines);
        QCOMPARE(loader.Stats().Records, lines);
        QCOMPARE(loader.Stats().ChecksumErrors + loader.Stats().MalformedRecords, 0);
        QCOMPARE(loader.Stats().DataBytes, dataRecords * 16LL);
        QCOMPARE(summary.DataBytes, dataRecords * 16LL);
        QCOMPARE(QByteArray::fromStdString(fileLines.back()), lastLine);
        if (sRecord)
            QCOMPARE(QByteArray::fromStdString(fileLines.front().substr(0, 2)), QByteArray("S0"));
    }

    void commandLines_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("echo") << "--echo" << true;
        QTest::newRow("echo and loader") << "--echo --loader #42 --drop 3 --lines 9" << true;
        QTest::newRow("flood in full") << "--flood binary --rate max --bytes 5 --seed 9" << true;
        QTest::newRow("flood paced")
            << "--flood text --rate 1000 --baud 115200 --chunk-ms 2" << true;
        QTest::newRow("unknown before help") << "--bogus --help" << false;
        QTest::newRow("vt console with loader") << "--vt --loader #42" << true;
        QTest::newRow("vt with echo") << "--vt --echo" << false;
        QTest::newRow("help first") << "--help --bogus-later" << true;
        QTest::newRow("make srec") << "--make-srec 998 out.s19" << true;
        QTest::newRow("no mode") << "" << false;
        QTest::newRow("unknown") << "--echo --bogus" << false;
        QTest::newRow("missing value") << "--loader" << false;
        QTest::newRow("flood kind") << "--flood words" << false;
        QTest::newRow("flood with echo") << "--flood text --echo" << false;
        QTest::newRow("rate without flood") << "--echo --rate 5" << false;
        QTest::newRow("rate zero") << "--flood text --rate 0" << false;
        QTest::newRow("drop without loader") << "--echo --drop 2" << false;
        QTest::newRow("drop zero") << "--loader * --drop 0" << false;
        QTest::newRow("baud not a number") << "--echo --baud fast" << false;
        QTest::newRow("baud trailing junk") << "--echo --baud 9600x" << false;
        QTest::newRow("make without file") << "--make-srec 10" << false;
        QTest::newRow("make negative") << "--make-ihex -1 f" << false;
    }
    void commandLines() {
        QFETCH(QString, commandLine);
        QFETCH(bool, accepted);
        TargetOptions options;
        std::string error;
        QCOMPARE(ParseTargetOptions(Arguments(commandLine), options, error), accepted);
        QCOMPARE(error.empty(), accepted);
    }

    void loaderSequenceIsDecoded() {
        TargetOptions options;
        std::string error;
        QVERIFY(
            ParseTargetOptions(Arguments("--loader OK#42#0 --drop 4 --drop 2"), options, error));
        QCOMPARE(options.LoaderAnswer, std::string("OK*\0", 4));
        QCOMPARE(options.DropLines, (std::set<long long>{2, 4}));
    }
};

QTEST_GUILESS_MAIN(TestTargetParts)
#include "test_target_parts.moc"
