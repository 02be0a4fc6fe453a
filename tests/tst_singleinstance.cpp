// SPDX-License-Identifier: MIT
// Where the single-instance lock lives: only ever in a directory no other
// user can write to, or nowhere.

#include "singleapplication.h"

#include <QtTest>

#include <sys/stat.h>

namespace {

// Type and permissions, without following a link.
mode_t modeOf(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void lockDirectory_data()
    {
        QTest::addColumn<QString>("runtime");   // mode of XDG_RUNTIME_DIR, or "none"
        QTest::addColumn<QString>("cache");     // what is at the cache's bondara/ beforehand
        QTest::addColumn<QString>("expected");  // "runtime", "cache" or "none"
        QTest::newRow("private runtime directory") << "0700" << "absent" << "runtime";
        QTest::newRow("no runtime directory") << "none" << "absent" << "cache";
        QTest::newRow("runtime directory open to all") << "0777" << "absent" << "cache";
        QTest::newRow("runtime directory open to the group") << "0750" << "absent" << "cache";
        QTest::newRow("cache directory of ours left open") << "none" << "0755" << "cache";
        QTest::newRow("cache entry a link elsewhere") << "none" << "link" << "none";
        QTest::newRow("cache entry a file") << "none" << "file" << "none";
    }

    void lockDirectory()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, cache);
        QFETCH(QString, expected);
        const QString base = dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(base + "/home"));
        const QString runtimeDir = base + "/runtime";
        const QString cacheDir = base + "/home/.cache/bondara";
        if (runtime != "none") {
            QVERIFY(QDir().mkpath(runtimeDir));
            QCOMPARE(::chmod(QFile::encodeName(runtimeDir).constData(), runtime.toUInt(nullptr, 8)), 0);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir));
        } else {
            qunsetenv("XDG_RUNTIME_DIR");
        }
        QVERIFY(QDir().mkpath(base + "/home/.cache"));
        if (cache == "0755") {
            QVERIFY(QDir().mkpath(cacheDir));
            QCOMPARE(::chmod(QFile::encodeName(cacheDir).constData(), 0755), 0);
        } else if (cache == "link") {
            QVERIFY(QDir().mkpath(base + "/elsewhere"));
            QVERIFY(QFile::link(base + "/elsewhere", cacheDir));
        } else if (cache == "file") {
            QFile file(cacheDir);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        qunsetenv("XDG_CACHE_HOME");
        qputenv("HOME", QFile::encodeName(base + "/home"));

        const QString name = SingleApplication::serverName("bondara-test");
        if (expected == "none") {
            QVERIFY2(name.isEmpty(), qPrintable(name));
            return;
        }
        const QString where = expected == "runtime" ? runtimeDir : cacheDir;
        QCOMPARE(QFileInfo(name).absolutePath(), where);
        QVERIFY(QFileInfo(name).fileName().startsWith("bondara-test-"));
        if (expected == "cache")
            QCOMPARE(modeOf(cacheDir), mode_t(S_IFDIR | 0700));
    }

    // XDG_CACHE_HOME, when given, is where the cache is.
    void cacheHomeIsHonoured()
    {
        const QString base = dir.filePath("xdg-cache");
        QVERIFY(QDir().mkpath(base));
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(base));
        const QString name = SingleApplication::serverName("bondara-test");
        QCOMPARE(QFileInfo(name).absolutePath(), base + "/bondara");
        QCOMPARE(modeOf(base + "/bondara"), mode_t(S_IFDIR | 0700));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
