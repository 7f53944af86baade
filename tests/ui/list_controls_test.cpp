// The drive list, folder list and file list on their own, on a folder tree whose folder "vol"
// stands in for a second mounted volume. The choosers' tests drive them with mouse and keys.
#include <unistd.h>
#include <QSignalSpy>
#include <QtTest>

#include "chooser_bench.h"
#include "ui/drive_list.h"
#include "ui/file_list.h"
#include "ui/folder_list.h"

using namespace Qt::Literals::StringLiterals;
using wendrel::ui::DriveList;
using wendrel::ui::FileList;
using wendrel::ui::FolderList;

namespace {

QStringList texts(const QListWidget& list) {
    QStringList out;
    for (int row = 0; row < list.count(); ++row) {
        out << list.item(row)->text().trimmed();
    }
    return out;
}

QStringList paths(const FolderList& list) {
    QStringList out;
    for (int row = 0; row < list.count(); ++row) {
        out << list.item_path(row);
    }
    return out;
}

}  // namespace

class ListControlsTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup() { bench_.tear_down(); }
    void drive_list();
    void folder_list_chain_data();
    void folder_list_chain();
    void refused_folders_data();
    void refused_folders();
    void file_list();

  private:
    ChooserBench bench_;
    QStringList volumes_;
};

void ListControlsTest::init() {
    QVERIFY(bench_.set_up({u"docs/sub/deeper/"_s, u"docs/.cfg/"_s, u"docs/Beta/"_s, u"docs/a.txt"_s,
                           u"docs/B.txt"_s, u"docs/.env"_s, u"vol/inner/"_s, u"top.txt"_s}));
    volumes_ = {u"/"_s, bench_.path(u"vol"_s), bench_.path(u"gone"_s)};
}

void ListControlsTest::drive_list() {
    QVERIFY(QDir::setCurrent(bench_.path(u"vol/inner"_s)));
    DriveList drive([this] { return volumes_; });
    const QString vol = bench_.path(u"vol"_s);
    QCOMPARE(drive.drive(), vol);  // the volume of the current folder
    QCOMPARE(drive.currentText(), vol);
    QSignalSpy changes(&drive, &DriveList::drive_changed);

    // The same drive again is no change; unlisted and unreadable volumes are refused.
    QVERIFY(drive.set_drive(vol));
    QVERIFY(!drive.set_drive(bench_.path(u"docs"_s)));
    QVERIFY(!drive.set_drive(bench_.path(u"gone"_s)));
    QCOMPARE(changes.size(), 0);
    QVERIFY(drive.set_drive(u"/"_s));
    QCOMPARE(changes.size(), 1);
    QCOMPARE(drive.currentText(), u"/"_s);
    QCOMPARE(drive.volume_of(bench_.path(u"vol/inner"_s)), vol);
    QCOMPARE(drive.volume_of(bench_.path(u"docs"_s)), u"/"_s);

    // Reading the volumes again lists new ones and keeps the chosen one, even when gone.
    QVERIFY(drive.set_drive(vol));
    volumes_ = {u"/"_s, bench_.path(u"docs"_s)};
    drive.refresh();
    QCOMPARE(drive.drive(), vol);
    QCOMPARE(drive.currentText(), vol);
    QVERIFY(drive.findText(bench_.path(u"docs"_s)) >= 0);
    QCOMPARE(changes.size(), 2);
}

void ListControlsTest::folder_list_chain_data() {
    QTest::addColumn<QString>("open");
    QTest::addColumn<QString>("volume");  // the chain starts here
    QTest::addColumn<QStringList>("subfolders");
    QTest::newRow("on the root volume, hidden ones too")
        << u"docs"_s << u"/"_s << QStringList{u".cfg"_s, u"Beta"_s, u"sub"_s};
    QTest::newRow("inside another volume") << u"vol/inner"_s << u"vol"_s << QStringList();
    QTest::newRow("a volume's own root") << u"vol"_s << u"vol"_s << QStringList{u"inner"_s};
}

void ListControlsTest::folder_list_chain() {
    QFETCH(QString, open);
    QFETCH(QString, volume);
    QFETCH(QStringList, subfolders);

    FolderList list([this] { return volumes_; });
    QCOMPARE(list.path(), bench_.path(QString()));  // starts at the current folder
    QSignalSpy changes(&list, &FolderList::path_changed);
    QVERIFY(list.set_path(bench_.path(open)));
    QCOMPARE(list.path(), bench_.path(open));
    QCOMPARE(changes.size(), 1);
    QVERIFY(list.set_path(list.path() + u"/."_s));  // the same folder: no change
    QCOMPARE(changes.size(), 1);

    // An independent walk up from the open folder to the volume's root.
    QStringList expected;
    const QString root = volume == u"/"_s ? volume : bench_.path(volume);
    for (QDir dir(list.path());; dir.cdUp()) {
        expected.prepend(dir.path());
        if (dir.path() == root || dir.isRoot()) {
            break;
        }
    }
    const qsizetype chain = expected.size();
    for (const QString& name : subfolders) {
        expected << bench_.path(open + u'/' + name);
    }
    QCOMPARE(paths(list), expected);
    QCOMPARE(list.highlighted_path(), list.path());  // the open folder is highlighted
    QCOMPARE(texts(list).mid(chain), subfolders);
}

void ListControlsTest::refused_folders_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("empty") << QString();
    QTest::newRow("missing") << u"@/gone"_s;
    QTest::newRow("a file") << u"@/top.txt"_s;
    QTest::newRow("cannot be listed") << u"@/locked"_s;
}

void ListControlsTest::refused_folders() {
    QFETCH(QString, target);
    if (target.endsWith(u"locked"_s)) {
        if (geteuid() == 0) {
            QSKIP("the superuser can list every folder");
        }
        QVERIFY(QDir(bench_.path(QString())).mkdir(u"locked"_s));
        QVERIFY(QFile::setPermissions(bench_.path(u"locked"_s), QFileDevice::WriteOwner));
    }
    FolderList folders([this] { return volumes_; });
    FileList files;
    QVERIFY(folders.set_path(bench_.path(u"docs"_s)) && files.set_path(folders.path()));
    const QStringList folders_before = paths(folders);
    const QStringList files_before = texts(files);
    QSignalSpy changes(&folders, &FolderList::path_changed);

    const QString path = QString(target).replace(u'@', bench_.path(QString()));
    QVERIFY(!folders.set_path(path));
    QVERIFY(!files.set_path(path));
    QCOMPARE(paths(folders), folders_before);
    QCOMPARE(texts(files), files_before);
    QCOMPARE(folders.path(), bench_.path(u"docs"_s));
    QCOMPARE(files.path(), bench_.path(u"docs"_s));
    QCOMPARE(changes.size(), 0);
}

void ListControlsTest::file_list() {
    FileList list;
    QVERIFY(list.set_path(bench_.path(u"docs"_s)));
    // Regular files, hidden ones too, no folders, sorted by name.
    QCOMPARE(texts(list), QStringList({u".env"_s, u"a.txt"_s, u"B.txt"_s}));
    QCOMPARE(list.file_name(), QString());

    // A file that appears is listed after a refresh, and not before.
    QVERIFY(QFile(bench_.path(u"docs/new.txt"_s)).open(QIODevice::WriteOnly));
    QCOMPARE(texts(list).size(), 3);
    list.refresh();
    QCOMPARE(texts(list), QStringList({u".env"_s, u"a.txt"_s, u"B.txt"_s, u"new.txt"_s}));
}

QTEST_MAIN(ListControlsTest)
#include "list_controls_test.moc"
