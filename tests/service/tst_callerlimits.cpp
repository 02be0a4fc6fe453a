// SPDX-License-Identifier: MIT
// What one user may cost the pairing service: scans and log lines, counted per uid.

#include "service/callerlimits.h"

#include <QtTest>

struct Ask {
    uint uid;
    qint64 atMs;
};
Q_DECLARE_METATYPE(QVector<Ask>)

class TestCallerLimits : public QObject
{
    Q_OBJECT

private slots:
    void scans_data()
    {
        QTest::addColumn<QVector<Ask>>("asks");
        QTest::addColumn<QString>("allowed"); // one letter an ask: y or n
        QVector<Ask> burst;
        for (int i = 0; i < 12; ++i)
            burst << Ask{1000, 0};
        QTest::newRow("a burst of ten, then none") << burst << "yyyyyyyyyynn";
        QVector<Ask> refilled = burst;
        refilled << Ask{1000, 499} << Ask{1000, 500} << Ask{1000, 501};
        QTest::newRow("one more each half second") << refilled << "yyyyyyyyyynnnyn";
        QVector<Ask> others = burst;
        others << Ask{1001, 0} << Ask{0, 0};
        QTest::newRow("another user has a share of its own") << others << "yyyyyyyyyynnyy";
        QVector<Ask> paced;
        for (int i = 0; i < 30; ++i)
            paced << Ask{1000, i * 1200};
        QTest::newRow("a user pairing again and again is never held back") << paced << QString(30, 'y');
        QVector<Ask> later = burst;
        later << Ask{1000, 60000};
        QTest::newRow("a full share again after a rest") << later << "yyyyyyyyyynny";
    }

    void scans()
    {
        QFETCH(QVector<Ask>, asks);
        QFETCH(QString, allowed);
        CallerLimits limits;
        QString got;
        for (const Ask &ask : asks)
            got += limits.takeScan(ask.uid, ask.atMs) ? 'y' : 'n';
        QCOMPARE(got, allowed);
    }

    void lines_data()
    {
        QTest::addColumn<QVector<Ask>>("asks");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QVector<int>>("untold"); // what each ask is told was held back
        QTest::addColumn<int>("leftUntold");
        QVector<Ask> flood;
        for (int i = 0; i < 8; ++i)
            flood << Ask{1000, i};
        QTest::newRow("five a minute, the rest counted") << flood << "yyyyynnn" << QVector<int>(8, 0) << 3;
        QVector<Ask> next = flood;
        next << Ask{1000, 60000} << Ask{1000, 60001};
        QVector<int> told(10, 0);
        told[8] = 3;
        QTest::newRow("the next minute tells the count once") << next << "yyyyynnnyy" << told << 0;
        QVector<Ask> two = flood;
        two << Ask{1001, 5};
        QTest::newRow("one user's flood costs another nothing") << two << "yyyyynnny" << QVector<int>(9, 0) << 3;
    }

    void lines()
    {
        QFETCH(QVector<Ask>, asks);
        QFETCH(QString, logged);
        QFETCH(QVector<int>, untold);
        QFETCH(int, leftUntold);
        CallerLimits limits;
        QString got;
        QVector<int> gotUntold;
        for (const Ask &ask : asks) {
            int held = -1;
            got += limits.takeLine(ask.uid, ask.atMs, &held) ? 'y' : 'n';
            gotUntold << held;
        }
        QCOMPARE(got, logged);
        QCOMPARE(gotUntold, untold);
        int left = 0;
        for (const QPair<uint, int> &entry : limits.takeUntold())
            left += entry.second;
        QCOMPARE(left, leftUntold);
        QVERIFY(limits.takeUntold().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCallerLimits)
#include "tst_callerlimits.moc"
